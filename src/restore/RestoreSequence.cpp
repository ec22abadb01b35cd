#include "restore/RestoreSequence.h"

#include "core/Error.h"
#include "core/Platform.h"
#include "restore/CommandLine.h"
#include "restore/DatabaseName.h"
#include "restore/PgQuoting.h"
#include "restore/RestoreProgress.h"
#include "restore/TargetPath.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>

#include <algorithm>
#include <functional>

namespace {

// The databases a restore works with besides the named one, under names the user never chose: the backup
// is restored into Restoring; the named database, when there is one, becomes Replaced when the restored
// one takes its name. Random, so that two restores never meet, and short enough for any named database.
struct TTemporaryNames {
    QString Restoring;
    QString Replaced;
};

TTemporaryNames NewTemporaryNames() {
    const QString token = QString::number(QRandomGenerator::global()->generate64() & 0xffffffffffffULL, 16)
                              .rightJustified(12, u'0');
    return {QStringLiteral("corvane_restoring_") + token, QStringLiteral("corvane_replaced_") + token};
}

// The errors pg_restore went past: N when it ended with "errors ignored on restore: N", 0 when it ended
// any other way (a success, or a failure that stopped the restore).
int IgnoredErrorCount(const TProgramOutcome& outcome) {
    if (!outcome.Started || outcome.Crashed || outcome.ExitCode == 0)
        return 0;
    static constexpr QStringView closing = u"errors ignored on restore: ";
    const QString line = outcome.LastErrorLine.trimmed();
    const qsizetype at = line.lastIndexOf(closing);
    if (at < 0)
        return 0;
    const QStringView count = QStringView(line).sliced(at + closing.size());
    const bool digitsOnly = !count.isEmpty() && std::all_of(count.begin(), count.end(),
                                                            [](QChar c) { return c >= u'0' && c <= u'9'; });
    return digitsOnly ? count.toInt() : 0;
}

enum class Stoppable { No, Yes };

// One restore's client programs, run as the database user through the window, each with its arguments
// exactly as given.
class TRestoreRun {
  public:
    TRestoreRun(TRestoreWindow& window, const QString& user, const QString& database, int jobs)
        : window_(window)
        , user_(user)
        , database_(database)
        , jobs_(jobs)
        , names_(NewTemporaryNames()) {}

    // pg_restore reads the archive's table of contents first: a file it cannot read (no pg_dump archive)
    // ends the restore before any database is touched.
    // Its items, counted here, are what the restore's progress counts.
    void CheckArchive(const QString& targetPath, const QString& name) {
        window_.Log(QStringLiteral("Checking backup file"));
        const TProgramOutcome outcome =
            Run(PgRestoreProgram, {QStringLiteral("--list"), targetPath}, Stoppable::Yes,
                [this](const QString& line) { return progress_.TakeListLine(line); });
        if (!outcome.Started)
            CheckProgramOutcome(PgRestoreProgram, outcome);
        if (!outcome.Succeeded())
            throw Error(
                QStringLiteral("pg_restore cannot read the backup \"%1\"; no database was changed (%2)")
                    .arg(name, DescribeFailure(PgRestoreProgram, outcome)));
    }

    // Whether the named database exists; when it does, a rename that is rolled back at once shows that
    // the swap could be made: one in use, or that the user may not rename, ends the restore here.
    void CheckTarget() {
        window_.LogFmt(QStringLiteral("Checking database: %s"), {database_});
        TProgramOutcome outcome = Psql(QStringLiteral("SELECT count(*) FROM pg_database WHERE datname = %1")
                                           .arg(QuoteLiteral(database_)));
        if (!outcome.Succeeded())
            throw Error(QStringLiteral("The database \"%1\" cannot be checked, so nothing was restored: %2")
                            .arg(database_, DescribeFailure(PsqlProgram, outcome)));
        targetExists_ = outcome.LastOutputLine.trimmed() == QStringLiteral("1");
        if (!targetExists_)
            return;
        outcome = Psql(QStringLiteral("BEGIN; %1; ROLLBACK").arg(RenameSql(database_, names_.Replaced)));
        if (!outcome.Succeeded())
            throw Error(
                QStringLiteral("The database \"%1\" is in use or cannot be replaced by user \"%2\", so "
                               "nothing was restored: %3")
                    .arg(database_, user_, DescribeFailure(PsqlProgram, outcome)));
    }

    // Steps 4 and 5 of RestoreBackup. False when the user discarded a restore with ignored errors.
    bool RestoreAndSwap(const QString& targetPath) {
        bool keep = false;
        try {
            keep = RestoreIntoTemporary(targetPath);
            if (keep)
                Swap();
        } catch (const std::exception& error) {
            QString message =
                MessageOf(error) + QStringLiteral("; the database \"%1\" was not changed").arg(database_);
            if (const QString left = DropTemporary(names_.Restoring); !left.isEmpty())
                message += QStringLiteral(". ") + left;
            if (dynamic_cast<const OperationStopped*>(&error))
                throw OperationStopped(message);
            throw Error(message);
        }
        if (!keep) {
            if (const QString left = DropTemporary(names_.Restoring); !left.isEmpty())
                throw Error(left);
            window_.Log(QStringLiteral("The restored database has been discarded"));
            return false;
        }
        if (targetExists_) {
            if (const QString left = DropTemporary(names_.Replaced); !left.isEmpty())
                throw Error(QStringLiteral("The database \"%1\" has been restored. ").arg(database_) + left);
        }
        return true;
    }

  private:
    // False when pg_restore ignored errors and the user chose to discard its result.
    bool RestoreIntoTemporary(const QString& targetPath) {
        window_.LogFmt(QStringLiteral("Creating database: %s"), {names_.Restoring});
        CheckProgramOutcome(CreateDbProgram, Run(CreateDbProgram,
                                                 {QStringLiteral("-O"), user_, QStringLiteral("-U"), user_,
                                                  QStringLiteral("--"), names_.Restoring},
                                                 Stoppable::Yes));
        window_.LogFmt(QStringLiteral("Restoring database: %s"), {names_.Restoring});
        QStringList arguments{QStringLiteral("-U"), user_};
        if (jobs_ > 1)
            arguments << QStringLiteral("-j") << QString::number(jobs_);
        // The lines --verbose writes as each item starts move the progress bar instead of the log.
        arguments << QStringLiteral("--verbose") << QStringLiteral("-d")
                  << QStringLiteral("dbname=") + QuoteConnectionValue(names_.Restoring) << targetPath;
        window_.ShowRestoreProgress(0, progress_.Total());
        const TProgramOutcome outcome =
            Run(PgRestoreProgram, arguments, Stoppable::Yes, [this](const QString& line) {
                if (!progress_.TakeVerboseLine(line))
                    return false;
                window_.ShowRestoreProgress(progress_.Done(), progress_.Total());
                return true;
            });
        if (outcome.Succeeded())
            return true;
        const int ignored = IgnoredErrorCount(outcome);
        if (ignored == 0)
            throw Error(DescribeFailure(PgRestoreProgram, outcome));
        return window_.KeepRestoreWithErrors(database_, ignored);
    }

    // The named database takes the temporary name Replaced and the restored one takes its name, both in
    // one transaction, so that a failure leaves both as they were.
    void Swap() {
        window_.LogFmt(QStringLiteral("Replacing database: %s"), {database_});
        const QString moveIn = RenameSql(names_.Restoring, database_);
        const QString sql =
            targetExists_
                ? QStringLiteral("BEGIN; %1; %2; COMMIT").arg(RenameSql(database_, names_.Replaced), moveIn)
                : moveIn;
        CheckProgramOutcome(PsqlProgram, Psql(sql, Stoppable::No));
    }

    // Drops one of the temporary databases, ending any session left in it (a client program killed
    // mid-restore may leave one behind for a moment). Empty when it is gone; otherwise the sentence
    // that names it for the error (the log names it too).
    QString DropTemporary(const QString& name) {
        window_.LogFmt(QStringLiteral("Dropping database: %s"), {name});
        const TProgramOutcome outcome = Run(DropDbProgram,
                                            {QStringLiteral("--if-exists"), QStringLiteral("--force"),
                                             QStringLiteral("-U"), user_, QStringLiteral("--"), name},
                                            Stoppable::No);
        if (outcome.Succeeded())
            return {};
        window_.LogFmt(QStringLiteral("Temporary database left behind: %s"), {name});
        return QStringLiteral("The temporary database \"%1\" could not be removed: %2")
            .arg(name, DescribeFailure(DropDbProgram, outcome));
    }

    static QString RenameSql(const QString& from, const QString& to) {
        return QStringLiteral("ALTER DATABASE %1 RENAME TO %2")
            .arg(QuoteIdentifier(from), QuoteIdentifier(to));
    }

    TProgramOutcome Psql(const QString& sql, Stoppable stoppable = Stoppable::Yes) {
        return Run(PsqlProgram,
                   {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"), QStringLiteral("-t"),
                    QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-U"), user_,
                    QStringLiteral("-d"), QStringLiteral("postgres"), QStringLiteral("-c"), sql},
                   stoppable);
    }

    // A stoppable program that was stopped ends the restore with OperationStopped. The swap and the
    // dropping of temporary databases are not stoppable: they are short, and they are what leaves the
    // databases as they should be.
    TProgramOutcome Run(const QString& program, const QStringList& arguments, Stoppable stoppable,
                        std::function<bool(const QString&)> takeLine = {}) {
        TProgramWatch watch{stoppable == Stoppable::Yes ? window_.StopToken() : std::stop_token(),
                            std::move(takeLine)};
        const TProgramOutcome outcome = window_.RunClientProgram(program, JoinCommandLine(arguments), watch);
        if (outcome.Stopped)
            throw OperationStopped(DescribeFailure(program, outcome));
        return outcome;
    }

    TRestoreWindow& window_;
    QString user_;
    QString database_;
    int jobs_;
    TTemporaryNames names_;
    TRestoreProgress progress_;
    bool targetExists_ = false;
};

} // namespace

void CheckRestoreInput(const TRestoreInput& input, TRestoreWindow& window) {
    if (input.WorkingFolder.isEmpty() || !QFileInfo(input.WorkingFolder).isDir()) {
        window.FocusWorkingFolder();
        throw Error(QStringLiteral("Invalid temporary directory"));
    }
    try {
        CheckDatabaseUser(input.DatabaseUser);
    } catch (const Error&) {
        window.FocusDatabaseUser();
        throw;
    }
}

void RestoreBackup(const TRestoreInput& input, TRestoreWindow& window) {
    CheckRestoreInput(input, window);
    if (!input.CurrentRecord)
        return;
    const TBackupRecord record = *input.CurrentRecord;

    window.SetBusy(true);
    auto idle = qScopeGuard([&] { window.SetBusy(false); });
    window.ClearLog();

    const QString targetPath = TargetPath(input.WorkingFolder, record.Name);
    const std::optional<QString> database = window.PromptDatabaseName(DeriveDatabaseName(record.Name));
    if (!database)
        return;
    CheckDatabaseName(*database);

    // Nothing is touched unless the backup is here whole: the download throws otherwise. The file is only
    // needed by pg_restore; on a failed path it goes quietly, so the error that ended the restore is the
    // one shown.
    window.Download(record, targetPath);
    auto removeDownload = qScopeGuard([&] { QFile::remove(targetPath); });

    TRestoreRun run(window, input.DatabaseUser, *database, input.Jobs);
    try {
        run.CheckArchive(targetPath, record.Name);
        run.CheckTarget();
    } catch (const OperationStopped& stopped) {
        throw OperationStopped(stopped.Message() + QStringLiteral("; no database was changed"));
    }
    if (!run.RestoreAndSwap(targetPath))
        return;

    removeDownload.dismiss();
    RemoveFile(targetPath);
    window.Log(QStringLiteral("The operation has been completed"));
}
