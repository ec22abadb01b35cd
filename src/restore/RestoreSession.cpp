#include "restore/RestoreSession.h"

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

} // namespace

// One restore's client programs, run as the database user through the host of the phase at hand, each
// with its arguments exactly as given.
class TRestoreSession::TRun {
  public:
    TRun(const QString& user, const QString& database, int jobs)
        : user_(user)
        , database_(database)
        , jobs_(jobs)
        , names_(NewTemporaryNames()) {}

    // pg_restore reads the archive's table of contents first: a file it cannot read (no pg_dump archive)
    // ends the restore before any database is touched.
    // Its items, counted here, are what the restore's progress counts.
    void CheckArchive(TRestoreHost& host, const QString& targetPath, const QString& name) {
        host.Log(QStringLiteral("Checking backup file"));
        const TProgramOutcome outcome =
            Run(host, TRestoreStep::CheckArchive, PgRestoreProgram, {QStringLiteral("--list"), targetPath},
                Stoppable::Yes, [this](const QString& line) { return progress_.TakeListLine(line); });
        if (!outcome.Started)
            CheckProgramOutcome(PgRestoreProgram, outcome);
        if (!outcome.Succeeded())
            throw Error(
                QStringLiteral("pg_restore cannot read the backup \"%1\"; no database was changed (%2)")
                    .arg(name, DescribeFailure(PgRestoreProgram, outcome)));
    }

    // Whether the named database exists; when it does, a rename that is rolled back at once shows that
    // the swap could be made: one in use, or that the user may not rename, ends the restore here.
    void CheckTarget(TRestoreHost& host) {
        host.LogFmt(QStringLiteral("Checking database: %s"), {database_});
        TProgramOutcome outcome = Psql(host, TRestoreStep::FindDatabase,
                                       QStringLiteral("SELECT count(*) FROM pg_database WHERE datname = %1")
                                           .arg(QuoteLiteral(database_)));
        if (!outcome.Succeeded())
            throw Error(QStringLiteral("The database \"%1\" cannot be checked, so nothing was restored: %2")
                            .arg(database_, DescribeFailure(PsqlProgram, outcome)));
        targetExists_ = outcome.LastOutputLine.trimmed() == QStringLiteral("1");
        if (!targetExists_)
            return;
        outcome = Psql(host, TRestoreStep::CheckRename,
                       QStringLiteral("BEGIN; %1; ROLLBACK").arg(RenameSql(database_, names_.Replaced)));
        if (!outcome.Succeeded())
            throw Error(
                QStringLiteral("The database \"%1\" is in use or cannot be replaced by user \"%2\", so "
                               "nothing was restored: %3")
                    .arg(database_, user_, DescribeFailure(PsqlProgram, outcome)));
    }

    // The errors pg_restore went past (0 for a whole restore). A failure drops the temporary database.
    int RestoreIntoTemporary(TRestoreHost& host, const QString& targetPath) {
        try {
            host.LogFmt(QStringLiteral("Creating database: %s"), {names_.Restoring});
            CheckProgramOutcome(CreateDbProgram, Run(host, TRestoreStep::CreateDatabase, CreateDbProgram,
                                                     {QStringLiteral("-O"), user_, QStringLiteral("-U"),
                                                      user_, QStringLiteral("--"), names_.Restoring},
                                                     Stoppable::Yes));
            host.LogFmt(QStringLiteral("Restoring database: %s"), {names_.Restoring});
            QStringList arguments{QStringLiteral("-U"), user_};
            if (jobs_ > 1)
                arguments << QStringLiteral("-j") << QString::number(jobs_);
            // The lines --verbose writes as each item starts move the progress bar instead of the log.
            arguments << QStringLiteral("--verbose") << QStringLiteral("-d")
                      << QStringLiteral("dbname=") + QuoteConnectionValue(names_.Restoring) << targetPath;
            host.ShowRestoreProgress(0, progress_.Total());
            const TProgramOutcome outcome =
                Run(host, TRestoreStep::RestoreArchive, PgRestoreProgram, arguments, Stoppable::Yes,
                    [this, &host](const QString& line) {
                        if (!progress_.TakeVerboseLine(line))
                            return false;
                        host.ShowRestoreProgress(progress_.Done(), progress_.Total());
                        return true;
                    });
            if (outcome.Succeeded())
                return 0;
            const int ignored = IgnoredErrorCount(outcome);
            if (ignored == 0)
                throw Error(DescribeFailure(PgRestoreProgram, outcome));
            return ignored;
        } catch (const std::exception& error) {
            ThrowUnchanged(host, error);
        }
    }

    // Keeps the restored database in place of the named one, or drops it.
    void Finish(TRestoreHost& host, bool keep) {
        if (!keep) {
            if (const QString left = DropTemporary(host, names_.Restoring); !left.isEmpty())
                throw Error(left);
            host.Log(QStringLiteral("The restored database has been discarded"));
            return;
        }
        try {
            Swap(host);
        } catch (const std::exception& error) {
            ThrowUnchanged(host, error);
        }
        if (targetExists_) {
            if (const QString left = DropTemporary(host, names_.Replaced); !left.isEmpty())
                throw Error(QStringLiteral("The database \"%1\" has been restored. ").arg(database_) + left);
        }
    }

  private:
    // Ends a failed restore or swap: the temporary database goes, and the error says that the named
    // database was not changed (and names a temporary database that could not be dropped).
    [[noreturn]] void ThrowUnchanged(TRestoreHost& host, const std::exception& error) {
        QString message =
            MessageOf(error) + QStringLiteral("; the database \"%1\" was not changed").arg(database_);
        if (const QString left = DropTemporary(host, names_.Restoring); !left.isEmpty())
            message += QStringLiteral(". ") + left;
        if (dynamic_cast<const OperationStopped*>(&error))
            throw OperationStopped(message);
        throw Error(message);
    }

    // The named database takes the temporary name Replaced and the restored one takes its name, both in
    // one transaction, so that a failure leaves both as they were.
    void Swap(TRestoreHost& host) {
        host.LogFmt(QStringLiteral("Replacing database: %s"), {database_});
        const QString moveIn = RenameSql(names_.Restoring, database_);
        const QString sql =
            targetExists_
                ? QStringLiteral("BEGIN; %1; %2; COMMIT").arg(RenameSql(database_, names_.Replaced), moveIn)
                : moveIn;
        CheckProgramOutcome(PsqlProgram, Psql(host, TRestoreStep::Swap, sql, Stoppable::No));
    }

    // Drops one of the temporary databases, ending any session left in it (a client program killed
    // mid-restore may leave one behind for a moment). Empty when it is gone; otherwise the sentence
    // that names it for the error (the log names it too).
    QString DropTemporary(TRestoreHost& host, const QString& name) {
        host.LogFmt(QStringLiteral("Dropping database: %s"), {name});
        const TRestoreStep step =
            name == names_.Restoring ? TRestoreStep::DropRestoring : TRestoreStep::DropReplaced;
        const TProgramOutcome outcome = Run(host, step, DropDbProgram,
                                            {QStringLiteral("--if-exists"), QStringLiteral("--force"),
                                             QStringLiteral("-U"), user_, QStringLiteral("--"), name},
                                            Stoppable::No);
        if (outcome.Succeeded())
            return {};
        host.LogFmt(QStringLiteral("Temporary database left behind: %s"), {name});
        return QStringLiteral("The temporary database \"%1\" could not be removed: %2")
            .arg(name, DescribeFailure(DropDbProgram, outcome));
    }

    static QString RenameSql(const QString& from, const QString& to) {
        return QStringLiteral("ALTER DATABASE %1 RENAME TO %2")
            .arg(QuoteIdentifier(from), QuoteIdentifier(to));
    }

    TProgramOutcome Psql(TRestoreHost& host, TRestoreStep step, const QString& sql,
                         Stoppable stoppable = Stoppable::Yes) {
        return Run(host, step, PsqlProgram,
                   {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"), QStringLiteral("-t"),
                    QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-U"), user_,
                    QStringLiteral("-d"), QStringLiteral("postgres"), QStringLiteral("-c"), sql},
                   stoppable);
    }

    // A stoppable program that was stopped ends the restore with OperationStopped. The swap and the
    // dropping of temporary databases are not stoppable: they are short, and they are what leaves the
    // databases as they should be.
    TProgramOutcome Run(TRestoreHost& host, TRestoreStep step, const QString& program,
                        const QStringList& arguments, Stoppable stoppable,
                        std::function<bool(const QString&)> takeLine = {}) {
        TProgramWatch watch{stoppable == Stoppable::Yes ? host.StopToken() : std::stop_token(),
                            std::move(takeLine)};
        const TProgramOutcome outcome =
            host.RunClientProgram(step, program, JoinCommandLine(arguments), watch);
        if (outcome.Stopped)
            throw OperationStopped(DescribeFailure(program, outcome));
        return outcome;
    }

    QString user_;
    QString database_;
    int jobs_;
    TTemporaryNames names_;
    TRestoreProgress progress_;
    bool targetExists_ = false;
};

void CheckWorkingFolder(const QString& workingFolder) {
    if (workingFolder.isEmpty() || !QFileInfo(workingFolder).isDir())
        throw Error(QStringLiteral("Invalid temporary directory"));
}

TRestoreSession::TRestoreSession(TRestoreInput input)
    : input_(std::move(input))
    , targetPath_(::TargetPath(input_.WorkingFolder, input_.Record.Name))
    , run_(std::make_unique<TRun>(input_.DatabaseUser, input_.Database, input_.Jobs)) {
    input_.Download.ObjectKey = input_.Record.Path;
    input_.Download.TargetPath = targetPath_;
}

// The file is only needed by pg_restore; on a failed path it goes quietly, so the error that ended the
// restore is the one shown.
TRestoreSession::~TRestoreSession() {
    QFile::remove(targetPath_);
}

void TRestoreSession::Prepare(TRestoreHost& host) {
    // Nothing is touched unless the backup is here whole: the download throws otherwise.
    host.Download(input_.Download);
    try {
        run_->CheckArchive(host, targetPath_, input_.Record.Name);
        run_->CheckTarget(host);
    } catch (const OperationStopped& stopped) {
        throw OperationStopped(stopped.Message() + QStringLiteral("; no database was changed"));
    }
}

int TRestoreSession::RestoreIntoTemporary(TRestoreHost& host) {
    return run_->RestoreIntoTemporary(host, targetPath_);
}

void TRestoreSession::Finish(TRestoreHost& host, bool keep) {
    run_->Finish(host, keep);
    if (!keep)
        return;
    RemoveFile(targetPath_);
    host.Log(QStringLiteral("The operation has been completed"));
}
