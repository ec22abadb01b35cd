// Downloads one object of the fault server into a file and prints "received <bytes>" after every block,
// so that the test that started it can end it with a signal in the middle of the download.
//   download_until_killed <fault server port> <key> <target file> [<range size> <connections>]
#include "restore/DownloadBackup.h"

#include <QCoreApplication>

#include <cstdio>
#include <exception>

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 4 && arguments.size() != 6) {
        std::fputs("usage: download_until_killed <fault server port> <key> <target file> "
                   "[<range size> <connections>]\n",
                   stderr);
        return 2;
    }
    TDownloadRequest request;
    request.Connection.Protocol = QStringLiteral("http");
    request.Connection.StorageEndpoint = QStringLiteral("s3.localhost:%1").arg(arguments[1]);
    request.BucketSetting = QStringLiteral("b/db");
    request.ObjectKey = arguments[2];
    request.TargetPath = arguments[3];
    TDownloadRanges ranges;
    if (arguments.size() == 6) {
        ranges.RangeSize = arguments[4].toLongLong();
        ranges.Connections = arguments[5].toInt();
    }
    qint64 received = 0;
    TDownloadProgress progress;
    progress.Advance = [&](qint64 count) {
        received += count;
        std::printf("received %lld\n", static_cast<long long>(received));
        std::fflush(stdout);
    };
    try {
        DownloadBackup(
            request, [](const QString&) {}, progress, ranges);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
