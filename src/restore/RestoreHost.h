#pragma once

#include "restore/DownloadBackup.h"
#include "restore/RunAndWait.h"

#include <QString>
#include <QStringList>

#include <stop_token>

// The catalogue record a restore works on.
struct TBackupRecord {
    QString Name; // relative name, used for the local file and the proposed database name
    QString Path; // the object's full key
};

// The client program runs of a restore, named by what each is for rather than by its command line.
enum class TRestoreStep {
    ProgramVersion, // <program> --version
    CheckServer,    // psql: the user's rights, the named database's size, owner and sessions
    CheckArchive,   // pg_restore --list
    FindDatabase,   // psql: does the named database exist
    CheckRename,    // psql: a rename of the named database, rolled back
    CreateDatabase, // createdb of the temporary database
    RestoreArchive, // pg_restore into the temporary database
    Swap,           // psql: the restored database takes the name
    WaitForCreate,  // psql: until a stopped createdb's statement has ended on the server
    DropRestoring,  // dropdb of the temporary database
    DropReplaced,   // dropdb of the database that was replaced
    DropLeftover    // dropdb of a temporary database an earlier restore left behind
};

// The steps that only look at the server. The log says what each checks, in words; their command lines
// and output stay out of it (a failure's cause still reaches the error), so that a rename that is rolled
// back, or a count, never reads like a change.
bool IsServerCheck(TRestoreStep step);

// What a restore phase needs from whoever runs it, on the thread it runs on: where its lines go, where
// its progress shows, the user's stop, and the outside world (the download and the client programs),
// which tests answer for. An implementation is called only from the phase's own thread.
class TRestoreHost {
  public:
    virtual ~TRestoreHost() = default;

    // Appends one message to the activity log; the log adds the timestamp.
    virtual void Log(const QString& message) = 0;
    // The user's stop for the restore; a host without a Stop never asks for one.
    virtual std::stop_token StopToken() const { return {}; }
    // pg_restore has started done of the archive's total items.
    virtual void ShowRestoreProgress(int done, int total) {
        Q_UNUSED(done);
        Q_UNUSED(total);
    }
    // Where the download's progress goes.
    virtual TDownloadProgress DownloadProgress() { return {}; }

    // DownloadBackup of the request, stopped by StopToken; returns only when the backup is there whole, or
    // (TargetDiffers) when another file of its name is in the way.
    virtual TDownloadOutcome Download(const TDownloadRequest& request);
    // Runs one client program to its end: RunAndWait, logging into Log.
    virtual TProgramOutcome RunClientProgram(TRestoreStep step, const QString& program,
                                             const QString& parameters, const TProgramWatch& watch);

    // Logs the message that FormatLogTemplate makes of a template and its arguments.
    void LogFmt(const QString& logTemplate, const QStringList& arguments);
};
