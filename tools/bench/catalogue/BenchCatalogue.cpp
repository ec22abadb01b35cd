// Fills the catalogue from a listing served on loopback (listing_server.py), then runs ten
// searches over it, and prints the fill time (wall and this process's CPU), the time of each search
// and the peak resident set size.

#include "ProcessUsage.h"
#include "catalogue/CatalogueFill.h"
#include "catalogue/CatalogueSearch.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: bench_catalogue <port> <bucket/folder>\n");
        return 2;
    }

    try {
        TS3ConnectionInfo info = TS3ConnectionInfo::FromBuild();
        info.Protocol = QStringLiteral("http");
        info.StorageEndpoint = QStringLiteral("s3.localhost:%1").arg(args[1]);
        TCatalogueTable table;

        QElapsedTimer wall;
        const double cpuBefore = CpuSeconds();
        wall.start();
        FillCatalogue(table, info, args[2]);
        const double fillWall = double(wall.nsecsElapsed()) / 1e9;
        const double fillCpu = CpuSeconds() - cpuBefore;
        std::printf("fill: %d records, %.3f s wall, %.3f s CPU of this process\n", table.RecordCount(),
                    fillWall, fillCpu);

        const QStringList searches{QStringLiteral("sales"),        QStringLiteral("office 2023"),
                                   QStringLiteral("backup"),       QStringLiteral("no such name"),
                                   QStringLiteral("s_l"),          QStringLiteral("2021 11 0"),
                                   QStringLiteral("LOGÍSTICA"),    QStringLiteral("%"),
                                   QStringLiteral("crm 2024 1 5"), QString()};
        double total = 0;
        for (const QString& text : searches) {
            wall.restart();
            SearchCatalogue(table, text);
            const double ms = double(wall.nsecsElapsed()) / 1e6;
            total += ms;
            std::printf("search %-16s %6d rows  %7.2f ms\n",
                        qPrintable(QLatin1Char('"') + text + QLatin1Char('"')), table.rowCount(), ms);
        }
        std::printf("search: %.2f ms on average over %lld searches\n", total / double(searches.size()),
                    static_cast<long long>(searches.size()));
        std::printf("peak RSS: %.1f MiB\n", double(PeakRssKiB()) / 1024.0);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_catalogue: %s\n", error.what());
        return 1;
    }
    return 0;
}
