#pragma once

#include "core/OperationLock.h"
#include "restore/LogSink.h"
#include "restore/RunAndWait.h"

#include <QString>

#include <functional>
#include <optional>

// The catalogue record a restore works on.
struct TBackupRecord {
    QString Name; // relative name, used for the local file and the proposed database name
    QString Path; // the object's full key
};

// The values a restore works with, read from the window when the command starts.
struct TRestoreInput {
    QString WorkingFolder;                      // as typed
    QString DatabaseUser;                       // as typed, inserted bare into the command lines
    std::optional<TBackupRecord> CurrentRecord; // none when the grid shows no row
};

// What the window does for a restore. Every member must be set.
struct TRestoreSeams {
    TLogFunction Log;
    TLogFmtFunction LogFmt;
    std::function<void()> ClearLog;
    std::function<void()> FocusWorkingFolder;
    std::function<void()> FocusDatabaseUser;
    // Hourglass and Connect, Restore and Close disabled while true.
    std::function<void(bool busy)> SetBusy;
    // The "Restore backup" prompt with the proposed name selected: the confirmed text, or none on cancel.
    std::function<std::optional<QString>(const QString& proposed)> PromptDatabaseName;
    // DownloadBackup of the record into the target path; returns only when the backup arrived whole.
    std::function<void(const TBackupRecord& record, const QString& targetPath)> Download;
    // RunAndWait in the product.
    std::function<TProgramOutcome(const QString& program, const QString& parameters, const TLogFunction& log)>
        Run;
};

// The client programs, found through PATH.
inline const QString DropDbProgram = QStringLiteral("dropdb");
inline const QString CreateDbProgram = QStringLiteral("createdb");
inline const QString PgRestoreProgram = QStringLiteral("pg_restore");

// Restores the current backup into a database named by the user: checks the working folder and the
// database user, refuses a database name or user that would keep the backup's path from reaching
// pg_restore as one argument, downloads the backup, then runs dropdb, createdb and pg_restore, stopping
// at the first that fails, and deletes the downloaded file on every path. Ends silently without a
// current record or when the prompt is cancelled; errors are thrown with their message. Refused while
// another operation holds the lock.
void RestoreBackup(const TRestoreInput& input, const TRestoreSeams& seams, TOperationLock& lock);
