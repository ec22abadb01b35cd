#pragma once

#include "core/Platform.h"
#include "restore/DatabaseServer.h"
#include "restore/DownloadBackup.h"
#include "restore/RestoreHost.h"
#include "restore/RestoreSteps.h"

#include <QString>

#include <memory>

// What a restore works with, all fixed before it starts: the window reads and checks the fields, asks
// for the database name and hands the whole over.
struct TRestoreInput {
    QString WorkingFolder; // checked by CheckWorkingFolder
    // Its user checked by CheckDatabaseUser, its host and port by CheckDatabaseHost and CheckDatabasePort.
    TDatabaseServer Server;
    TBackupRecord Record;
    QString Database;          // the confirmed name, checked by CheckDatabaseName
    int Jobs = 1;              // pg_restore's parallel jobs; -j N when above 1
    TDownloadRequest Download; // the storage connection, bucket setting and limits; key and file are set
                               // from the record and the working folder
};

// The client programs, as the log names them; CheckServer finds where they are (ClientPrograms.h).
inline const QString DropDbProgram = ProgramFileName(QStringLiteral("dropdb"));
inline const QString CreateDbProgram = ProgramFileName(QStringLiteral("createdb"));
inline const QString PgRestoreProgram = ProgramFileName(QStringLiteral("pg_restore"));
inline const QString PsqlProgram = ProgramFileName(QStringLiteral("psql"));

// Throws "Invalid temporary directory" unless the working folder names an existing folder.
void CheckWorkingFolder(const QString& workingFolder);

// One restore of a backup into a database named by the user, in phases run one after the other, each on
// a worker thread, so that the window can ask its questions in between. The named database is replaced
// only by a whole restore and survives every failure as it was (or stays absent):
// 0. CheckServer, before anything is downloaded: the client programs run, the server answers as the
//    user (or asks for a password, which the window then asks for), the user may create databases, and
//    the named database is not in use; it tells whether the named database exists;
// 1. Prepare drops the leftovers of earlier restores the user chose to drop, downloads the backup (or
//    takes the copy already in the working folder when it is this backup; stops short when another file
//    of its name is in the way, for the window to ask whether to replace it), has pg_restore read its
//    table of contents and checks that the named database, when it exists, could be renamed now;
// 2. RestoreIntoTemporary creates a temporary database from template0 and restores into it;
// 3. Finish swaps in one transaction through psql (the named database takes a temporary name and the
//    restored one takes its name), or discards the temporary database; the restore is made here;
// 4. DropReplaced drops the database the swap put aside, once the restore has been reported.
// A failure in 2 or 3 drops the temporary database; an error names any temporary database that could
// not be dropped. A file this restore downloaded is deleted on every path, at the latest when the session
// goes; a copy that was there before stays.
// Every step logs one line; the steps that change something log their command line and the program's
// own lines too. A phase stopped through the host's stop token throws TOperationStopped; other failures
// throw TError with their message.
class TRestoreSession {
  public:
    explicit TRestoreSession(TRestoreInput input);
    ~TRestoreSession();
    TRestoreSession(const TRestoreSession&) = delete;
    TRestoreSession& operator=(const TRestoreSession&) = delete;

    const TRestoreInput& Input() const { return FInput; }
    // The local file the backup is downloaded into.
    const QString& TargetPath() const { return FTargetPath; }
    // The password the server asked for, for every later program of the restore.
    void SetPassword(const QString& password) { FSteps.SetPassword(password); }
    // The leftovers the server check found that the user chose to drop: Prepare drops them first.
    void DropLeftoversFirst(QStringList names) { FLeftovers = std::move(names); }

    TServerCheck CheckServer(TRestoreHost& host);
    // False when a file of the backup's name that is not this backup is in the way: nothing was downloaded
    // or changed. After ReplaceExistingFile, Prepare again replaces it.
    bool Prepare(TRestoreHost& host);
    void ReplaceExistingFile() { FInput.Download.ReplaceExisting = true; }
    // With errors pg_restore went past, the temporary database holds what it restored and Finish
    // decides whether it is kept.
    TRestoreOutcome RestoreIntoTemporary(TRestoreHost& host);
    // keep: the restored database takes the named one's place; otherwise it is dropped.
    void Finish(TRestoreHost& host, bool keep);
    // Whether Finish replaced a database that DropReplaced has yet to drop.
    bool HasReplaced() const { return FSteps.HasReplaced(); }
    void DropReplaced(TRestoreHost& host) { FSteps.DropReplaced(host); }

  private:
    void RemoveDownloaded();

    TRestoreInput FInput;
    QString FTargetPath;
    TRestoreSteps FSteps;
    QStringList FLeftovers;
    bool FDownloaded = false; // the file at FTargetPath is this restore's own
};
