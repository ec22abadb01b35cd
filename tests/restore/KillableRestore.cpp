// A restore in a program of its own, for the test that kills it midway, as a user's system may kill
// Corvane. It restores the backup of that key from the test bucket into the database given, with the real
// download and client programs, and writes the name of each client program's step to standard output as
// the step starts. At the step named last it stops before the program and waits to be killed.
//
//     killable_restore <bucket/folder> <key> <working folder> <database> <step to wait at>

#include "support/FakeRestoreHost.h"
#include "support/PgTestCluster.h"
#include "support/S3TestServer.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 6) {
        std::fputs("usage: killable_restore <bucket/folder> <key> <working folder> <database> <step>\n",
                   stderr);
        return 2;
    }
    const QString& key = arguments[2];
    const QString& waitAt = arguments[5];
    try {
        TDownloadRequest storage;
        storage.Connection = TS3TestServer::FromFixture().ConnectionInfo();
        storage.BucketSetting = arguments[1];
        const TRestoreInput input{arguments[3],
                                  {{}, {}, QString::fromLatin1(TPgTestCluster::User), {}},
                                  TBackupRecord{key.section(u'/', -1), key},
                                  arguments[4],
                                  1,
                                  storage};
        TFakeRestoreHost host;
        host.RealDownload = true;
        host.RealPrograms = true;
        host.OnRun = [&host, &waitAt](const TProgramWatch&) {
            const QString step = host.Events.constLast().sliced(4); // "run <step>"
            std::printf("%s\n", qPrintable(step));
            std::fflush(stdout);
            if (step == waitAt) {
                for (;;)
                    std::this_thread::sleep_for(std::chrono::hours(1));
            }
        };
        RestoreThroughPhases(input, host);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "killable_restore: %s\n", error.what());
        return 1;
    }
    return 0;
}
