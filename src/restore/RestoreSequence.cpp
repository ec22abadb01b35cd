#include "restore/RestoreSequence.h"

#include "core/Platform.h"
#include "restore/CommandLine.h"
#include "restore/DatabaseName.h"
#include "restore/TargetPath.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <stdexcept>

namespace {

[[noreturn]] void Fail(const QString& message) {
    throw std::runtime_error(message.toStdString());
}

// Hourglass and disabled buttons for as long as the restore runs, however it ends.
class TBusyState {
  public:
    explicit TBusyState(const std::function<void(bool)>& setBusy)
        : setBusy_(setBusy) {
        setBusy_(true);
    }
    ~TBusyState() { setBusy_(false); }
    TBusyState(const TBusyState&) = delete;
    TBusyState& operator=(const TBusyState&) = delete;

  private:
    const std::function<void(bool)>& setBusy_;
};

// The downloaded backup is only needed by pg_restore: it goes on every path once it is there. On a failed
// path it is removed quietly, so the error that ended the restore is the one shown.
class TDownloadedFile {
  public:
    explicit TDownloadedFile(QString path)
        : path_(std::move(path)) {}
    ~TDownloadedFile() {
        if (!deleted_)
            QFile::remove(path_);
    }
    TDownloadedFile(const TDownloadedFile&) = delete;
    TDownloadedFile& operator=(const TDownloadedFile&) = delete;

    void Delete() {
        deleted_ = true;
        if (QFileInfo(path_).isFile())
            RemoveFile(path_);
    }

  private:
    QString path_;
    bool deleted_ = false;
};

void RunClientProgram(const TRestoreSeams& seams, const QString& program, const QString& parameters) {
    CheckProgramOutcome(program, seams.Run(program, parameters, seams.Log));
}

// pg_restore reads the archive's table of contents before anything is dropped: a file it cannot read
// (not a pg_dump archive, or a damaged one) would otherwise cost the old database, since dropdb and
// createdb run before pg_restore fails. The check writes no log line and its listing goes nowhere.
void CheckArchiveIsReadable(const TRestoreSeams& seams, const QString& targetPath, const QString& name) {
    const TProgramOutcome outcome = seams.Run(
        PgRestoreProgram, QStringLiteral("--list -f %1 \"%2\"").arg(QProcess::nullDevice(), targetPath),
        [](const QString&) {});
    if (!outcome.Started)
        CheckProgramOutcome(PgRestoreProgram, outcome);
    if (!outcome.Succeeded())
        Fail(QStringLiteral("pg_restore cannot read the backup \"%1\"; no database was changed").arg(name));
}

} // namespace

void RestoreBackup(const TRestoreInput& input, const TRestoreSeams& seams, TOperationLock& lock) {
    TOperationGuard operation(lock);

    if (input.WorkingFolder.isEmpty() || !QFileInfo(input.WorkingFolder).isDir()) {
        seams.FocusWorkingFolder();
        Fail(QStringLiteral("Invalid temporary directory"));
    }
    if (input.DatabaseUser.isEmpty()) {
        seams.FocusDatabaseUser();
        Fail(QStringLiteral("Database username is required"));
    }
    if (!input.CurrentRecord)
        return;
    const TBackupRecord record = *input.CurrentRecord;

    TBusyState busy(seams.SetBusy);
    const QString user = input.DatabaseUser;
    seams.ClearLog();

    const QString targetPath = TargetPath(input.WorkingFolder, record.Name);
    const std::optional<QString> database = seams.PromptDatabaseName(DeriveDatabaseName(record.Name));
    if (!database)
        return;
    if (database->isEmpty())
        Fail(QStringLiteral("Database name is required"));

    const QString restoreParameters = QStringLiteral("-U %1 -d %2 \"%3\"").arg(user, *database, targetPath);
    // An unpaired quote in the user or the database name, or a name ending in a backslash, would change
    // the path pg_restore gets; found only then, it would fail after the database was dropped.
    if (SplitCommandLine(restoreParameters).constLast() != targetPath)
        Fail(QStringLiteral("\"%1\" would not reach pg_restore as one argument").arg(targetPath));

    // Nothing is dropped unless the backup is here whole: the download throws otherwise.
    seams.Download(record, targetPath);
    TDownloadedFile downloaded(targetPath);
    CheckArchiveIsReadable(seams, targetPath, record.Name);

    seams.LogFmt(QStringLiteral("Dropping database: %s"), {*database});
    RunClientProgram(seams, DropDbProgram, QStringLiteral("--if-exists -U %1 %2").arg(user, *database));
    seams.LogFmt(QStringLiteral("Creating database: %s"), {*database});
    RunClientProgram(seams, CreateDbProgram, QStringLiteral("-O %1 -U %2 %3").arg(user, user, *database));
    seams.LogFmt(QStringLiteral("Restoring database: %s"), {*database});
    RunClientProgram(seams, PgRestoreProgram, restoreParameters);

    downloaded.Delete();
    seams.Log(QStringLiteral("The operation has been completed"));
}
