// The search button's worst case: 100,000 names of 255 characters, searched with texts that make a
// like matcher work hardest (runs of "_" between letters, many "%", long runs of one letter). Prints
// each search's wall time, the median of several runs, with its CPU time beside it, and the worst of
// them against the limit a search must stay under: the user waits for the wall time. The machine's load
// is printed before and after, since other work on it lengthens the wall time.

#include "ProcessUsage.h"
#include "catalogue/CatalogueSearch.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <exception>

namespace {

constexpr int NameCount = 100000;
constexpr int NameLength = 255;
constexpr double LimitMs = 25.0;
constexpr int Runs = 7;

// Mostly runs of "a", the names the patterns below almost match; every tenth name is random letters
// from "ab_", so some searches also find rows.
void FillNames(TCatalogueTable& table) {
    QRandomGenerator random(20240611);
    const TCatalogueTable::TViewSuspension quiet(table);
    for (int i = 0; i < NameCount; ++i) {
        QString name(NameLength, u'a');
        if (i % 10 == 0) {
            for (QChar& c : name)
                c = QLatin1Char("ab_"[random.bounded(3)]);
        }
        TCatalogueRecord record;
        record.Name = name;
        record.Path = QStringLiteral("db/") + name;
        table.Append(record);
    }
}

// "a_a_…_ab": letters with one "_" between each, a "b" at the end, length characters in all.
QString UnderscoreRun(int length) {
    QString text;
    while (text.size() < length - 1)
        text += text.size() % 2 == 0 ? u'a' : u'_';
    return text + u'b';
}

// The load averages over 1, 5 and 15 minutes, as /proc/loadavg gives them.
QByteArray LoadAverages() {
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return "unknown";
    return file.readAll().split(' ').mid(0, 3).join(' ');
}

double Median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct TSearch {
    const char* Label;
    QString Text;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    try {
        TCatalogueTable table;
        FillNames(table);

        const QList<TSearch> searches{
            {"a_a_…b, 13 characters", UnderscoreRun(13)},
            {"a_a_…b, 63 characters", UnderscoreRun(63)},
            {"a_a_…b, 127 characters", UnderscoreRun(127)},
            {"a_a_…b, 191 characters", UnderscoreRun(191)},
            {"a_a_…b, 253 characters", UnderscoreRun(253)},
            {"126 \"_\" then b", QString(126, u'_') + u'b'},
            {"a a a … b (127 pieces)", QStringLiteral("a ").repeated(126) + u'b'},
            {"aaa…ab, 127 characters", QString(126, u'a') + u'b'},
            {"aaa…ab, 253 characters", QString(252, u'a') + u'b'},
            {"a_…_ a_…_ b (pieces with _)",
             QString(QStringLiteral("a") + QString(30, u'_') + u' ').repeated(4) + u'b'},
            {"a_ (finds the mixed names)", QStringLiteral("a_")},
        };

        std::printf("load before: %s\n", LoadAverages().constData());
        double worst = 0;
        for (const TSearch& search : searches) {
            QList<double> wallMs;
            QList<double> cpuMs;
            for (int run = 0; run < Runs; ++run) {
                QElapsedTimer wall;
                const double cpuBefore = CpuSeconds();
                wall.start();
                SearchCatalogue(table, search.Text);
                wallMs.append(double(wall.nsecsElapsed()) / 1e6);
                cpuMs.append((CpuSeconds() - cpuBefore) * 1e3);
            }
            worst = std::max(worst, Median(wallMs));
            std::printf("search %-32s %6d rows  %9.2f ms wall  %9.2f ms CPU (medians of %d)\n", search.Label,
                        table.rowCount(), Median(wallMs), Median(cpuMs), Runs);
        }
        std::printf("load after: %s\n", LoadAverages().constData());
        std::printf("worst search over %d names of %d characters: %.2f ms wall (limit %.0f ms): %s\n",
                    NameCount, NameLength, worst, LimitMs, worst < LimitMs ? "within" : "OVER");
        return worst < LimitMs ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_search_worst_case: %s\n", error.what());
        return 2;
    }
}
