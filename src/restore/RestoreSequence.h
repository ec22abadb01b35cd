#pragma once

#include "core/Platform.h"
#include "restore/RestoreWindow.h"

#include <QString>

#include <optional>

// The values a restore works with, read from the window when the command starts.
struct TRestoreInput {
    QString WorkingFolder;                      // as typed
    QString DatabaseUser;                       // as typed; one argument of the client programs
    std::optional<TBackupRecord> CurrentRecord; // none when the grid shows no row
    int Jobs = 1;                               // pg_restore's parallel jobs; -j N when above 1
};

// The client programs, found through PATH.
inline const QString DropDbProgram = ProgramFileName(QStringLiteral("dropdb"));
inline const QString CreateDbProgram = ProgramFileName(QStringLiteral("createdb"));
inline const QString PgRestoreProgram = ProgramFileName(QStringLiteral("pg_restore"));
inline const QString PsqlProgram = ProgramFileName(QStringLiteral("psql"));

// Step 1's checks of the working folder and the database user: the field at fault gets the focus and the
// error is thrown. A window runs them before it starts a restore beside itself.
void CheckRestoreInput(const TRestoreInput& input, TRestoreWindow& window);

// Restores the current backup into a database named by the user, so that the named database is replaced
// only by a whole restore and survives every failure as it was (or stays absent):
// 1. checks the working folder and the database user, asks for the database name and checks it
//    (CheckDatabaseName), before anything is downloaded;
// 2. downloads the backup and has pg_restore read its table of contents;
// 3. checks that the named database, when it exists, could be renamed now: one in use (or that the user
//    may not rename) ends the restore here;
// 4. creates a temporary database and restores into it; when pg_restore went through the backup but
//    ignored errors, the window asks whether to keep the result;
// 5. swaps in one transaction through psql: the named database takes a temporary name and the restored
//    one takes its name; then the replaced one is dropped.
// A failure in 4 or 5, or a discarded result, drops the temporary database; an error names any temporary
// database that could not be dropped. The downloaded file is deleted on every path. Every step logs one
// line, then its command line and the program's own lines. Ends silently without a current record or
// when the prompt is cancelled; errors are thrown with their message.
void RestoreBackup(const TRestoreInput& input, TRestoreWindow& window);
