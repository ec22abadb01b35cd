// Downloads one object of the fault server into a file and prints "receiving" once the first block is
// in it, so that the test that started it can end it with a signal in the middle of the download.
//   download_until_killed <fault server port> <key> <target file>
#include "restore/DownloadBackup.h"

#include <QCoreApplication>

#include <cstdio>
#include <exception>

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 4) {
        std::fputs("usage: download_until_killed <fault server port> <key> <target file>\n", stderr);
        return 2;
    }
    TDownloadRequest request;
    request.Connection.Protocol = QStringLiteral("http");
    request.Connection.StorageEndpoint = QStringLiteral("s3.localhost:%1").arg(arguments[1]);
    request.BucketSetting = QStringLiteral("b/db");
    request.ObjectKey = arguments[2];
    request.TargetPath = arguments[3];
    TDownloadProgress progress;
    progress.Advance = [](qint64) {
        std::puts("receiving");
        std::fflush(stdout);
    };
    try {
        DownloadBackup(
            request, [](const QString&) {}, progress);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
