// One measurement of the catalogue benchmark over a listing served on loopback (listing_server.py),
// chosen by its first argument; run.sh runs each in a process of its own, so that each peak memory is
// its own, and prints them side by side.
//
//   fill     Connect's whole fill of the catalogue (HTTP, parse, records), then ten searches
//   parse    our listing reader over every page, the page's download not counted
//   pugixml  pugixml's load of every page and the extraction of key, time and size of each object
//   http     the plain download of every page: the limit of any fill
//
// Each prints one line: "<measurement> keys=<n> cpu_us_per_key=<x> bytes_per_record=<y>
// rss_per_record=<r> peak_mib=<z>" (bytes_per_record: for fill the heap the catalogue holds per record,
// for the others what a lean record needs at least: 32 bytes, the name's bytes and the shown row's 4
// bytes; rss_per_record: for fill how much the process's peak resident size grew per record, 0 for the
// others).

#include "ProcessUsage.h"
#include "catalogue/CatalogueFill.h"
#include "catalogue/CatalogueSearch.h"
#include "storage/S3ListingReader.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <curl/curl.h>
#include <malloc.h>
#include <pugixml.hpp>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <functional>

namespace {

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

qint64 HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
}

size_t Collect(char* data, size_t size, size_t count, void* body) {
    static_cast<QByteArray*>(body)->append(data, qsizetype(size * count));
    return size * count;
}

// One listing page by plain HTTP, with a new handle as the storage service uses.
QByteArray FetchPage(const QByteArray& url) {
    QByteArray body;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    const CURLcode result = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    if (result != CURLE_OK)
        throw std::runtime_error(curl_easy_strerror(result));
    return body;
}

// The text of the page's last <Key>, where the next page starts.
QByteArray LastKey(const QByteArray& page) {
    const qsizetype start = page.lastIndexOf("<Key>");
    if (start < 0)
        return {};
    const qsizetype end = page.indexOf("</Key>", start);
    return page.mid(start + 5, end - start - 5);
}

struct TTotals {
    qint64 Keys = 0;
    qint64 NameBytes = 0;
    double FetchCpu = 0;   // the pages' download
    double MeasureCpu = 0; // what is done with them
};

// Fetches every page of the folder in turn and hands each to measure, whose CPU time is counted.
TTotals ForEachPage(const QByteArray& port, const std::function<qint64(const QByteArray&)>& measure) {
    TTotals totals;
    QByteArray marker;
    for (;;) {
        QByteArray url = "http://127.0.0.1:" + port + "/bench?prefix=db%2F";
        if (!marker.isEmpty())
            url += "&marker=" + QByteArray(marker).replace("&amp;", "&").toPercentEncoding();
        const double beforeFetch = ProcessCpuSeconds();
        const QByteArray page = FetchPage(url);
        const double beforeMeasure = ProcessCpuSeconds();
        totals.Keys += measure(page);
        totals.FetchCpu += beforeMeasure - beforeFetch;
        totals.MeasureCpu += ProcessCpuSeconds() - beforeMeasure;
        for (qsizetype at = page.indexOf("<Key>"); at >= 0; at = page.indexOf("<Key>", at + 1))
            totals.NameBytes += page.indexOf("</Key>", at) - at - 5 - 3; // less the folder "db/"
        if (!page.contains("<IsTruncated>true</IsTruncated>"))
            return totals;
        marker = LastKey(page);
    }
}

qint64 ParseWithOurReader(const QByteArray& page) {
    const TS3ListingPageAnswer answer = ReadListingPage(page);
    qint64 sum = 0;
    for (const TS3ListedObject& object : answer.Page->Objects)
        sum += object.Key.size() + object.LastModified.size() + object.Size;
    return sum > 0 ? qint64(answer.Page->Objects.size()) : 0;
}

qint64 ParseWithPugixml(const QByteArray& page) {
    pugi::xml_document document;
    document.load_buffer(page.constData(), size_t(page.size()));
    qint64 keys = 0;
    qint64 sum = 0;
    for (const pugi::xml_node& contents : document.document_element().children("Contents")) {
        const char* key = contents.child_value("Key");
        const char* lastModified = contents.child_value("LastModified");
        sum += qint64(std::strlen(key) + std::strlen(lastModified)) +
               std::strtoll(contents.child_value("Size"), nullptr, 10);
        ++keys;
    }
    return sum > 0 ? keys : 0;
}

void Report(const char* measurement, qint64 keys, double cpu, double bytesPerRecord,
            double rssPerRecord = 0) {
    std::printf("%s keys=%lld cpu_us_per_key=%.3f bytes_per_record=%.1f rss_per_record=%.1f peak_mib=%.1f\n",
                measurement, static_cast<long long>(keys), cpu * 1e6 / double(keys), bytesPerRecord,
                rssPerRecord, double(PeakRssKiB()) / 1024.0);
}

void Fill(const QString& port) {
    TS3ConnectionInfo info = TS3ConnectionInfo::FromBuild();
    info.Protocol = QStringLiteral("http");
    info.StorageEndpoint = QStringLiteral("s3.localhost:%1").arg(port);
    TCatalogueTable table;
    // One page read first, not counted, leaves what the process keeps once for good (libcurl's and
    // OpenSSL's tables, Qt's locale data) and the memory a page takes while it is read, so that what is
    // counted next is the catalogue's own.
    TS3StorageService(info).GetListingPage(QStringLiteral("bench"),
                                           {{QStringLiteral("prefix"), QStringLiteral("db/")}});

    const qint64 heapBefore = HeapInUse();
    const qint64 peakBefore = PeakRssKiB();
    const double cpuBefore = ProcessCpuSeconds();
    table.TakeRecords(ListCatalogue(info, QStringLiteral("bench/db")));
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    const qint64 heap = HeapInUse() - heapBefore;
    const double records = table.RecordCount();
    Report("fill", table.RecordCount(), cpu, double(heap) / records,
           double(PeakRssKiB() - peakBefore) * 1024.0 / records);

    const QStringList searches{QStringLiteral("sales"),        QStringLiteral("office 2023"),
                               QStringLiteral("backup"),       QStringLiteral("no such name"),
                               QStringLiteral("s_l"),          QStringLiteral("2021 11 0"),
                               QStringLiteral("LOGÍSTICA"),    QStringLiteral("%"),
                               QStringLiteral("crm 2024 1 5"), QString()};
    QElapsedTimer wall;
    double total = 0;
    for (const QString& text : searches) {
        wall.restart();
        SearchCatalogue(table, text);
        total += double(wall.nsecsElapsed()) / 1e6;
    }
    std::printf("search: %.2f ms on average over %lld searches\n", total / double(searches.size()),
                static_cast<long long>(searches.size()));
}

void Pages(const char* measurement, const QByteArray& port,
           const std::function<qint64(const QByteArray&)>& measure, bool countFetch = false) {
    // Each page's buffers reuse the memory of the page before, as in a fill, where the catalogue's
    // blocks keep the heap from shrinking; otherwise every page would pay for fresh pages of memory.
    mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
    const TTotals totals = ForEachPage(port, measure);
    const double leanRecord = 32 + 4 + double(totals.NameBytes) / double(totals.Keys);
    Report(measurement, totals.Keys, countFetch ? totals.FetchCpu : totals.MeasureCpu, leanRecord);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: bench_catalogue fill|parse|pugixml|http <port>\n");
        return 2;
    }
    const QString& measurement = args[1];
    const QByteArray port = args[2].toLatin1();
    try {
        if (measurement == u"fill")
            Fill(args[2]);
        else if (measurement == u"parse")
            Pages("parse", port, ParseWithOurReader);
        else if (measurement == u"pugixml")
            Pages("pugixml", port, ParseWithPugixml);
        else if (measurement == u"http")
            Pages(
                "http", port, [](const QByteArray& page) { return page.count("<Contents>"); }, true);
        else
            throw std::runtime_error("unknown measurement");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_catalogue: %s\n", error.what());
        return 1;
    }
    return 0;
}
