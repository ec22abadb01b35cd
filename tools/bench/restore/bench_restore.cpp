// Restores one backup through the tool's own code, as the Restore command does with the proposed name
// accepted: download from S3, then dropdb, createdb and pg_restore, then the file deleted. Prints the log,
// each line with the time since the start, and the wall time. The client programs reach the server given by
// PGHOST and PGPORT.
//
//   bench_restore <endpoint host:port> <bucket/folder> <object key> <working folder> <database user>
#include "restore/DownloadBackup.h"
#include "restore/RestoreSequence.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 6) {
        std::fprintf(stderr,
                     "usage: bench_restore <endpoint> <bucket/folder> <key> <working folder> <user>\n");
        return 2;
    }
    TS3ConnectionInfo connection = TS3ConnectionInfo::FromBuild();
    connection.StorageEndpoint = args[1];
    const QString bucketSetting = args[2];
    const QString key = args[3];

    QElapsedTimer timer;
    TRestoreSeams seams;
    seams.Log = [&](const QString& line) {
        std::printf("  %7.3f s  %s\n", double(timer.nsecsElapsed()) / 1e9, qPrintable(line));
    };
    seams.LogFmt = [&](const QString& logTemplate, const QStringList& arguments) {
        seams.Log(FormatLogTemplate(logTemplate, arguments));
    };
    seams.ClearLog = [] {};
    seams.FocusWorkingFolder = [] {};
    seams.FocusDatabaseUser = [] {};
    seams.SetBusy = [](bool) {};
    seams.PromptDatabaseName = [](const QString& proposed) { return std::optional<QString>(proposed); };
    seams.Download = [&](const TBackupRecord& record, const QString& targetPath) {
        DownloadBackup({connection, bucketSetting, record.Path, targetPath, {}}, seams.Log, {});
    };
    seams.Run = RunAndWait;

    TOperationLock lock;
    timer.start();
    try {
        RestoreBackup({args[4], args[5], TBackupRecord{key.section(u'/', -1), key}}, seams, lock);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_restore: %s\n", error.what());
        return 1;
    }
    std::printf("bench_restore: %.3f s\n", double(timer.nsecsElapsed()) / 1e9);
    return 0;
}
