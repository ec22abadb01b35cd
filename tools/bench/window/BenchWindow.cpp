// The main window's benchmarks, against servers that tools/bench/window/run.sh starts on loopback:
//
//   bench_window download <work folder> <account port> <listing port> <object port> <object size> <runs>
//       the same object downloaded through the window and headless, in turns (DownloadSideBySide.h)
//   bench_window start-up <work folder> <account port> <listing port> <keys>
//       one start of the window over a listing of that many keys, timed (StartUpTimes.h)
//
// The window's settings live in <work folder>/home, never in the user's. Prints result lines; asserts no
// timing.

#include "DownloadSideBySide.h"
#include "StartUpTimes.h"
#include "WindowDriver.h"

#include "core/Error.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstring>

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: bench_window download <work folder> <account port> <listing port> <object port> "
                 "<object size> <runs>\n"
                 "       bench_window start-up <work folder> <account port> <listing port> <keys>\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    const bool download = argc == 8 && std::strcmp(argv[1], "download") == 0;
    const bool startUp = argc == 6 && std::strcmp(argv[1], "start-up") == 0;
    if (!download && !startUp)
        return Usage();
    QElapsedTimer sinceMain;
    sinceMain.start();
    const QString workFolder = QString::fromLocal8Bit(argv[2]);
    UsePrivateSettings(workFolder);
    QApplication app(argc, argv);
    const double appSeconds = double(sinceMain.nsecsElapsed()) / 1e9;
    const auto port = [&](int index) { return quint16(QString::fromLatin1(argv[index]).toUShort()); };
    try {
        if (download)
            DownloadSideBySide(port(3), port(4), port(5), QString::fromLatin1(argv[6]).toLongLong(),
                               workFolder, QString::fromLatin1(argv[7]).toInt());
        else
            StartUpTimes(port(3), port(4), QString::fromLatin1(argv[5]).toInt(), workFolder, appSeconds);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_window: %s\n", qPrintable(MessageOf(error)));
        return 1;
    }
    return 0;
}
