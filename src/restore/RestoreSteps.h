#pragma once

#include "restore/ArchiveFormat.h"
#include "restore/DatabaseServer.h"
#include "restore/RestoreHost.h"
#include "restore/RestoreProgress.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>

// What the checks before a download found on the server.
struct TServerCheck {
    // The server wants a password that was not given, or refused the one given: nothing else was checked.
    bool PasswordNeeded = false;
    bool TargetExists = false;
    QString TargetSize;  // as the server writes it ("7669 kB"); empty when the user may not see it
    QString TargetOwner; // empty when the target does not exist
    // The user's temporary databases that an earlier restore left behind (Corvane killed, or the computer
    // stopped, mid-restore) and no session uses: a restore running now elsewhere keeps its own.
    QStringList Leftovers;
};

// How a restore into the temporary database ended, when it went to its end.
struct TRestoreOutcome {
    int IgnoredErrors = 0; // the errors pg_restore went past: 0 for a whole restore
    QStringList Messages;  // pg_restore's lines that tell of errors and warnings, the first hundred
};

// The client program runs of one restore, as the database user through the host of the phase at hand,
// each with its arguments exactly as given. The databases it works with besides the named one have names
// the user never chose: the backup is restored into a temporary database; the named database, when there
// is one, takes a second temporary name while the restored one takes its name. Random, so that two
// restores never meet, and short enough for any named database.
class TRestoreSteps {
  public:
    TRestoreSteps(TDatabaseServer server, const QString& database, int jobs, const QString& backupName);

    void SetPassword(const QString& password) { FServer.Password = password; }

    // Before anything is downloaded: the four client programs run (on the first call only), the server
    // answers as the user, the user may create databases, and the named database is not in use. Throws with
    // what is missing and what to do.
    TServerCheck CheckServer(TRestoreHost& host);
    // Drops the temporary databases an earlier restore left behind, as the user asked; one that cannot be
    // dropped is logged and left.
    void DropLeftovers(TRestoreHost& host, const QStringList& names);
    // Tells the backup's format by its content: a custom or tar archive, whose table of contents
    // pg_restore then reads (its items are what the restore's progress counts), or a plain SQL dump,
    // perhaps gzipped, which psql restores. Anything else, or an archive pg_restore cannot read, ends the
    // restore before any database is touched. A tar archive is restored with one job.
    void CheckArchive(TRestoreHost& host, const QString& targetPath, const QString& name);
    // Whether the named database exists; when it does, a rename that is rolled back at once shows that
    // the swap could be made: one in use, or that the user may not rename, ends the restore here.
    void CheckTarget(TRestoreHost& host);
    // Restores into the temporary database; a failure drops it.
    TRestoreOutcome RestoreIntoTemporary(TRestoreHost& host, const QString& targetPath);
    // Keeps the restored database in place of the named one, or drops it. A replaced database keeps its
    // temporary name until DropReplaced.
    void Finish(TRestoreHost& host, bool keep);
    // Whether Finish put aside a database that DropReplaced has yet to drop.
    bool HasReplaced() const { return FReplacedKept; }
    // Drops the database the restore replaced. Throws, saying that the restore itself was made, when it
    // cannot be dropped.
    void DropReplaced(TRestoreHost& host);

  private:
    enum class TStoppable { No, Yes };

    // The four client programs run: each is found (ClientPrograms.h) and answers --version.
    void CheckPrograms(TRestoreHost& host);
    [[noreturn]] void ThrowUnchanged(TRestoreHost& host, const std::exception& error);
    void RestorePlainDump(TRestoreHost& host, const QString& targetPath);
    void Swap(TRestoreHost& host);
    // Drops name, which the log shows followed by its role ("the old \"sales\"").
    QString DropTemporary(TRestoreHost& host, const QString& name, const QString& role, TRestoreStep step);
    // What the temporary database stands for, as the log says it.
    QString RestoringRole() const;
    // A createdb that was stopped may leave its CREATE DATABASE running on the server, which would
    // create the database after the temporary one was dropped: waits until no such statement runs. The
    // server keeps one view of its sessions for a whole statement, so the wait asks for a new one each
    // time it looks.
    void WaitForStoppedCreate(TRestoreHost& host);
    TProgramOutcome Psql(TRestoreHost& host, TRestoreStep step, const QStringList& commands,
                         TStoppable stoppable = TStoppable::Yes,
                         std::function<bool(const QString&)> takeLine = {});
    // Runs the program from the path CheckPrograms found; the log shows shownAs in its place when given.
    TProgramOutcome Run(TRestoreHost& host, TRestoreStep step, const QString& program,
                        const QStringList& arguments, TStoppable stoppable,
                        std::function<bool(const QString&)> takeLine = {}, const QString& shownAs = {});

    TDatabaseServer FServer;
    QString FDatabase;
    int FJobs;
    QString FBackupName;
    TArchiveKind FKind;
    QString FRestoring;
    QString FReplaced;
    QString FMaintenance = QStringLiteral("postgres"); // the database psql connects to
    int FServerVersion = 0;                            // server_version_num, 0 until checked
    TRestoreProgress FProgress;
    bool FTargetExists = false;
    bool FReplacedKept = false;
    bool FCreateStopped = false;
    bool FProgramsChecked = false;
    QHash<QString, QString> FProgramPaths; // program, its full path
};
