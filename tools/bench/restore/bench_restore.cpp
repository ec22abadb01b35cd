// Restores one backup through the tool's own code, as the Restore command does with the proposed name
// accepted: download from S3 (its MD5 checked on the way), the archive and the database checked, a
// temporary database created and restored into, swapped in by renames, the replaced one dropped, then the
// file deleted. Prints the log, each line with the time since the start, and the wall time. The client
// programs reach the server given by PGHOST and PGPORT. The jobs are the Restore jobs setting: pg_restore
// runs with -j N when N is above 1.
//
//   bench_restore <endpoint host:port> <bucket/folder> <object key> <working folder> <database user>
//                 [<restore jobs, default 1>]
#include "core/Error.h"
#include "restore/DatabaseName.h"
#include "restore/DownloadBackup.h"
#include "restore/RestoreSession.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

namespace {

// The host of a restore that prints its log with the time since the start.
class TConsoleHost : public TRestoreHost {
  public:
    TConsoleHost() { FTimer.start(); }

    void Log(const QString& message) override {
        std::printf("  %7.3f s  %s\n", double(FTimer.nsecsElapsed()) / 1e9, qPrintable(message));
    }

    double Seconds() const { return double(FTimer.nsecsElapsed()) / 1e9; }

  private:
    QElapsedTimer FTimer;
};

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    bool jobsValid = true;
    const int jobs = args.size() == 7 ? args[6].toInt(&jobsValid) : 1;
    if (args.size() < 6 || args.size() > 7 || !jobsValid || jobs < 1) {
        std::fprintf(stderr, "usage: bench_restore <endpoint> <bucket/folder> <key> <working folder> "
                             "<user> [<jobs>]\n");
        return 2;
    }
    TS3ConnectionInfo connection = TS3ConnectionInfo::FromBuild();
    connection.StorageEndpoint = args[1];
    const QString key = args[3];

    const TBackupRecord record{key.section(u'/', -1), key};
    TConsoleHost host;
    double seconds = 0;
    try {
        // The proposed name is accepted, and a restore with ignored errors kept.
        TRestoreSession session({args[4], TDatabaseServer{{}, {}, args[5], {}}, record,
                                 DeriveDatabaseName(record.Name), jobs,
                                 TDownloadRequest{connection, args[2], {}, {}, {}}});
        if (session.CheckServer(host).PasswordNeeded)
            throw TError(QStringLiteral("the server asks for a password: set PGPASSWORD"));
        session.Prepare(host);
        session.RestoreIntoTemporary(host);
        session.Finish(host, true);
        // The restore is reported when the swap is made; the old database is dropped after that.
        seconds = host.Seconds();
        session.DropReplaced(host);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_restore: %s\n", qPrintable(MessageOf(error)));
        return 1;
    }
    std::printf("bench_restore: %.3f s\n", seconds);
    return 0;
}
