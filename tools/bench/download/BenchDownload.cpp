// Downloads one object into a file and prints the throughput and the process's peak resident memory.
//
//   bench_download <endpoint host:port> <bucket> <key> <output file> [mode]
//
// Modes:
//   (none)        one GET through the stream the product downloads into (gathered writes, the MD5 on
//                 the way)
//   --no-md5      the same without the MD5, as a download does when the object's ETag is not a plain MD5
//   --backup      the product's whole download (DownloadBackup): HEAD, ranges over several connections
//                 for a large object, the size and MD5 checks
//   --backup-one  the same with one connection, so one GET
//
// BENCH_RANGES=<MiB>x<connections> (for instance 16x8) replaces the product's range size and connection
// count in --backup, to compare choices. The requests are signed with the build's key pair.
#include "ProcessUsage.h"
#include "config/BuildSettings.h"
#include "restore/DownloadBackup.h"
#include "restore/DownloadStream.h"
#include "storage/S3StorageService.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdio>
#include <stdexcept>

namespace {

// One GET into the download stream; the number of bytes written.
qint64 DownloadStream(const TS3ConnectionInfo& info, const QString& bucket, const QString& key,
                      const QString& path, bool hashing) {
    TS3DownloadStream stream(path);
    stream.SetHashing(hashing);
    TS3StorageService service(info);
    if (!service.GetObject(bucket, key, stream))
        throw std::runtime_error("the server answered " + std::to_string(service.LastStatusCode()));
    stream.Flush();
    if (hashing)
        stream.Md5();
    return stream.Size();
}

qint64 DownloadWithBackup(const TS3ConnectionInfo& info, const QString& bucket, const QString& key,
                          const QString& path, bool oneConnection) {
    TDownloadRequest request;
    request.Connection = info;
    request.BucketSetting = bucket + QStringLiteral("/bench");
    request.ObjectKey = key;
    request.TargetPath = path;
    TDownloadRanges ranges;
    const QStringList chosen = qEnvironmentVariable("BENCH_RANGES").split(u'x');
    if (chosen.size() == 2) {
        ranges.RangeSize = chosen[0].toLongLong() * 1024 * 1024;
        ranges.Connections = chosen[1].toInt();
    }
    if (oneConnection)
        ranges.Connections = 1;
    DownloadBackup(
        request, [](const QString&) {}, {}, ranges);
    return QFileInfo(path).size();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(5);
    const QStringList modes{QString(), QStringLiteral("--no-md5"), QStringLiteral("--backup"),
                            QStringLiteral("--backup-one")};
    if ((args.size() != 5 && args.size() != 6) || !modes.contains(mode)) {
        std::fprintf(stderr, "usage: bench_download <endpoint host:port> <bucket> <key> <output file> "
                             "[--no-md5 | --backup | --backup-one]\n");
        return 2;
    }
    TS3ConnectionInfo info;
    info.AccountName = QString::fromUtf8(BuildSettings::S3AccessKeyId);
    info.AccountKey = QString::fromUtf8(BuildSettings::S3SecretAccessKey);
    info.Protocol = QStringLiteral("http");
    info.StorageEndpoint = args[1];
    try {
        QElapsedTimer timer;
        timer.start();
        const qint64 bytes = mode.startsWith(QStringLiteral("--backup"))
                                 ? DownloadWithBackup(info, args[2], args[3], args[4], mode == modes[3])
                                 : DownloadStream(info, args[2], args[3], args[4], mode.isEmpty());
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        const double mib = double(bytes) / (1024.0 * 1024.0);
        std::printf("bytes=%lld seconds=%.3f mib_per_s=%.1f peak_rss_kib=%ld\n", bytes, seconds,
                    mib / seconds, PeakRssKiB());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_download: %s\n", error.what());
        return 1;
    }
    return 0;
}
