#include "restore/RestoreSteps.h"

#include "core/Error.h"
#include "restore/ClientPrograms.h"
#include "restore/CommandLine.h"
#include "restore/DumpReader.h"
#include "restore/PgQuoting.h"
#include "restore/PlainDumpGuard.h"
#include "restore/RestoreSession.h"

#include <QProcess>
#include <QRandomGenerator>

#include <algorithm>

namespace {

QString NewToken() {
    return QString::number(QRandomGenerator::global()->generate64() & 0xffffffffffffULL, 16)
        .rightJustified(12, u'0');
}

bool IsDigits(QStringView text) {
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// The errors pg_restore went past: N when it ended with "errors ignored on restore: N", 0 when it ended
// any other way (a success, or a failure that stopped the restore).
int IgnoredErrorCount(const TProgramOutcome& outcome) {
    if (!outcome.Started || outcome.Crashed || outcome.ExitCode == 0)
        return 0;
    static constexpr QStringView Closing = u"errors ignored on restore: ";
    const QString line = outcome.LastErrorLine.trimmed();
    const qsizetype at = line.lastIndexOf(Closing);
    if (at < 0)
        return 0;
    const QStringView count = QStringView(line).sliced(at + Closing.size());
    return IsDigits(count) ? count.toInt() : 0;
}

QString RenameSql(const QString& from, const QString& to) {
    return QStringLiteral("ALTER DATABASE %1 RENAME TO %2").arg(QuoteIdentifier(from), QuoteIdentifier(to));
}

// dropdb --force, and the FORCE it sends, came with PostgreSQL 13.
constexpr int FirstServerWithForcedDrop = 130000;

// The lines of pg_restore's that the Keep/Discard question shows: enough to tell what went wrong.
constexpr qsizetype MaximumRestoreMessages = 100;

// A database the user never named, as the log shows it: with what it stands for.
QString Labelled(const QString& name, const QString& role) {
    return QStringLiteral("%1 (%2)").arg(name, role);
}

bool TellsOfTrouble(const QString& line) {
    return line.contains(u"error", Qt::CaseInsensitive) || line.contains(u"warning", Qt::CaseInsensitive);
}

} // namespace

TRestoreSteps::TRestoreSteps(TDatabaseServer server, const QString& database, int jobs,
                             const QString& backupName)
    : FServer(std::move(server))
    , FDatabase(database)
    , FJobs(jobs)
    , FBackupName(backupName) {
    const QString token = NewToken();
    FRestoring = QStringLiteral("corvane_restoring_") + token;
    FReplaced = QStringLiteral("corvane_replaced_") + token;
}

TServerCheck TRestoreSteps::CheckServer(TRestoreHost& host) {
    // A check repeated with the password the server asked for finds the programs as they were.
    if (!FProgramsChecked) {
        CheckPrograms(host);
        FProgramsChecked = true;
    }

    host.LogFmt(QStringLiteral("Checking database server as user: %s"), {FServer.User});
    const QString target = QuoteLiteral(FDatabase);
    const QString sql =
        QStringLiteral("SELECT r.rolcreatedb OR r.rolsuper, current_setting('server_version_num'), "
                       "(SELECT count(*) FROM pg_stat_activity WHERE datname = %1), "
                       "(SELECT CASE WHEN has_database_privilege(oid, 'CONNECT') THEN pg_size_pretty("
                       "pg_database_size(oid)) END FROM pg_database WHERE datname = %1), "
                       "(SELECT string_agg(d.datname, ',' ORDER BY d.datname) FROM pg_database d WHERE "
                       "d.datname ~ '^corvane_(restoring|replaced)_[0-9a-f]{12}$' AND d.datdba = r.oid AND "
                       "NOT EXISTS (SELECT FROM pg_stat_activity a WHERE a.datname = d.datname)), "
                       "(SELECT pg_get_userbyid(datdba) FROM pg_database WHERE datname = %1) "
                       "FROM pg_roles r WHERE r.rolname = current_user")
            .arg(target);
    QString answer;
    // The answer's one line stays out of the log; psql's own messages, on either channel, go there.
    const auto take = [&answer](const QString& line) {
        if (!answer.isEmpty() || !(line.startsWith(u"t|") || line.startsWith(u"f|")))
            return false;
        answer = line;
        return true;
    };
    TProgramOutcome outcome = Psql(host, TRestoreStep::CheckServer, {sql}, TStoppable::Yes, take);
    // A server without the postgres database is reached through template1, as the client programs do.
    if (!outcome.Succeeded() && outcome.LastErrorLine.contains(u"database \"postgres\" does not exist")) {
        FMaintenance = QStringLiteral("template1");
        outcome = Psql(host, TRestoreStep::CheckServer, {sql}, TStoppable::Yes, take);
    }
    if (!outcome.Succeeded()) {
        if (AskedForPassword(outcome)) {
            TServerCheck asked;
            asked.PasswordNeeded = true;
            return asked;
        }
        throw TError(QStringLiteral("The database server does not answer as user \"%1\", so nothing was "
                                    "downloaded: %2")
                         .arg(FServer.User, DescribeFailure(PsqlProgram, outcome)));
    }

    // "t|150018|0|7669 kB|leftover,...|owner": the owner last, as the only field that may hold "|".
    const QStringList fields = answer.split(u'|');
    if (fields.size() < 6 || !IsDigits(fields[1]) || !IsDigits(fields[2]))
        throw TError(
            QStringLiteral("The database server gave an answer Corvane cannot read: %1").arg(answer));
    FServerVersion = fields[1].toInt();
    if (fields[0] != u"t")
        throw TError(
            QStringLiteral("The database user \"%1\" may not create databases, so nothing was downloaded: "
                           "restore as a user who may, or give this one the right (ALTER ROLE ... "
                           "CREATEDB)")
                .arg(FServer.User));
    TServerCheck check;
    check.TargetOwner = fields.mid(5).join(u'|');
    check.Leftovers = fields[4].split(u',', Qt::SkipEmptyParts);
    check.TargetExists = !check.TargetOwner.isEmpty();
    check.TargetSize = fields[3];
    if (const int sessions = fields[2].toInt(); sessions > 0)
        throw TError(QStringLiteral("The database \"%1\" is in use (%2 open session(s)), so nothing was "
                                    "downloaded: close the programs connected to it and restore again")
                         .arg(FDatabase)
                         .arg(sessions));
    return check;
}

// Each program is started by the full path found here from then on, never by a search that could take
// one from the current folder. Its version run logs that path, and the version it tells.
void TRestoreSteps::CheckPrograms(TRestoreHost& host) {
    host.Log(QStringLiteral("Checking the PostgreSQL client programs"));
    const QStringList folders = ClientProgramFolders(SystemClientProgramSearch());
    for (const QString& program : {PgRestoreProgram, PsqlProgram, CreateDbProgram, DropDbProgram}) {
        const QString path = FindClientProgram(folders, program);
        if (path.isEmpty())
            throw TError(QStringLiteral("%1 was not found, so nothing was downloaded: %2")
                             .arg(program, MissingClientProgramAdvice()));
        FProgramPaths.insert(program, path);
        const TProgramOutcome outcome = Run(host, TRestoreStep::ProgramVersion, program,
                                            {QStringLiteral("--version")}, TStoppable::Yes, {}, path);
        CheckProgramOutcome(program, outcome);
    }
}

void TRestoreSteps::DropLeftovers(TRestoreHost& host, const QStringList& names) {
    for (const QString& name : names) {
        if (const QString left = DropTemporary(host, name, QStringLiteral("left by an earlier restore"),
                                               TRestoreStep::DropLeftover);
            !left.isEmpty())
            host.Log(left);
    }
}

void TRestoreSteps::CheckArchive(TRestoreHost& host, const QString& targetPath, const QString& name) {
    host.Log(QStringLiteral("Checking backup file"));
    FKind = DetectArchiveFormat(targetPath);
    if (FKind.Format == TArchiveFormat::Unknown)
        throw TError(
            QStringLiteral("The backup \"%1\" is neither a pg_dump archive nor a plain SQL dump; no database "
                           "was changed")
                .arg(name));
    if (FKind.Gzipped && FKind.Format != TArchiveFormat::PlainSql)
        throw TError(
            QStringLiteral("The backup \"%1\" is a pg_dump archive compressed with gzip, which pg_restore "
                           "cannot read; no database was changed. Keep such backups uncompressed (pg_dump "
                           "-Fc compresses by itself)")
                .arg(name));
    if (FKind.Format == TArchiveFormat::PlainSql) {
        host.Log(FKind.Gzipped
                     ? QStringLiteral("The backup is a plain SQL dump compressed with gzip: psql restores it")
                     : QStringLiteral("The backup is a plain SQL dump: psql restores it"));
        return;
    }
    // pg_restore restores a tar archive with one job only.
    if (FKind.Format == TArchiveFormat::Tar && FJobs > 1) {
        host.LogFmt(
            QStringLiteral("The backup is a tar archive, which pg_restore restores with one job, not %s"),
            {QString::number(FJobs)});
        FJobs = 1;
    }
    const TProgramOutcome outcome =
        Run(host, TRestoreStep::CheckArchive, PgRestoreProgram,
            {QStringLiteral("--list"), QStringLiteral("--"), targetPath}, TStoppable::Yes,
            [this](const QString& line) { return FProgress.TakeListLine(line); });
    if (!outcome.Started)
        CheckProgramOutcome(PgRestoreProgram, outcome);
    if (!outcome.Succeeded())
        throw TError(QStringLiteral("pg_restore cannot read the backup \"%1\"; no database was changed (%2)")
                         .arg(name, DescribeFailure(PgRestoreProgram, outcome)));
}

void TRestoreSteps::CheckTarget(TRestoreHost& host) {
    host.LogFmt(QStringLiteral("Checking database: %s"), {FDatabase});
    TProgramOutcome outcome = Psql(
        host, TRestoreStep::FindDatabase,
        {QStringLiteral("SELECT count(*) FROM pg_database WHERE datname = %1").arg(QuoteLiteral(FDatabase))});
    if (!outcome.Succeeded())
        throw TError(QStringLiteral("The database \"%1\" cannot be checked, so nothing was restored: %2")
                         .arg(FDatabase, DescribeFailure(PsqlProgram, outcome)));
    FTargetExists = outcome.LastOutputLine.trimmed() == QStringLiteral("1");
    if (!FTargetExists)
        return;
    host.Log(QStringLiteral("Checking that \"%1\" can be replaced").arg(FDatabase));
    outcome = Psql(host, TRestoreStep::CheckRename,
                   {QStringLiteral("BEGIN; %1; ROLLBACK").arg(RenameSql(FDatabase, FReplaced))});
    if (!outcome.Succeeded())
        throw TError(QStringLiteral("The database \"%1\" is in use or cannot be replaced by user \"%2\", so "
                                    "nothing was restored: %3")
                         .arg(FDatabase, FServer.User, DescribeFailure(PsqlProgram, outcome)));
}

QString TRestoreSteps::RestoringRole() const {
    return QStringLiteral("temporary, for \"%1\"").arg(FDatabase);
}

TRestoreOutcome TRestoreSteps::RestoreIntoTemporary(TRestoreHost& host, const QString& targetPath) {
    try {
        host.LogFmt(QStringLiteral("Creating database: %s"), {Labelled(FRestoring, RestoringRole())});
        // From template0, so that nothing a site added to template1 reaches the restored database.
        try {
            CheckProgramOutcome(
                CreateDbProgram,
                Run(host, TRestoreStep::CreateDatabase, CreateDbProgram,
                    FServer.ConnectionArguments() +
                        QStringList{QStringLiteral("-T"), QStringLiteral("template0"), QStringLiteral("-O"),
                                    FServer.User, QStringLiteral("--"), FRestoring},
                    TStoppable::Yes));
        } catch (const TOperationStopped&) {
            FCreateStopped = true;
            throw;
        }
        host.LogFmt(QStringLiteral("Restoring database: %s"), {Labelled(FRestoring, RestoringRole())});
        if (FKind.Format == TArchiveFormat::PlainSql) {
            RestorePlainDump(host, targetPath);
            return {};
        }
        QStringList arguments = FServer.ConnectionArguments();
        if (FJobs > 1)
            arguments << QStringLiteral("-j") << QString::number(FJobs);
        // The lines --verbose writes as each item starts move the progress bar instead of the log.
        arguments << QStringLiteral("--verbose") << QStringLiteral("-d")
                  << QStringLiteral("dbname=") + QuoteConnectionValue(FRestoring) << QStringLiteral("--")
                  << targetPath;
        host.ShowRestoreProgress(0, FProgress.Total());
        TRestoreOutcome restored;
        const TProgramOutcome outcome =
            Run(host, TRestoreStep::RestoreArchive, PgRestoreProgram, arguments, TStoppable::Yes,
                [this, &host, &restored](const QString& line) {
                    if (FProgress.TakeVerboseLine(line)) {
                        host.ShowRestoreProgress(FProgress.Done(), FProgress.Total());
                        return true;
                    }
                    if (restored.Messages.size() < MaximumRestoreMessages && TellsOfTrouble(line))
                        restored.Messages << line;
                    return false;
                });
        if (outcome.Succeeded())
            return {};
        restored.IgnoredErrors = IgnoredErrorCount(outcome);
        if (restored.IgnoredErrors == 0)
            throw TError(DescribeFailure(PgRestoreProgram, outcome));
        return restored;
    } catch (const std::exception& error) {
        ThrowUnchanged(host, error);
    }
}

// psql runs the dump in one transaction that the first error ends, fed from the file (decompressed on the
// way for gzip) through the guard that keeps it in the temporary database. Its progress is the file's
// bytes consumed.
void TRestoreSteps::RestorePlainDump(TRestoreHost& host, const QString& targetPath) {
    TDumpReader reader(targetPath);
    TPlainDumpGuard guard(FBackupName);
    const TDownloadProgress progress = host.DownloadProgress();
    if (progress.Start)
        progress.Start(reader.FileSize());
    qint64 reported = 0;
    const std::function<QByteArray()> dump = GuardedDumpInput(reader, guard);
    // The results of the dump's queries (its set_config calls, say) tell the user nothing: they go
    // nowhere, while psql's notices and errors still reach the log.
    QStringList arguments{QStringLiteral("-X"),
                          QStringLiteral("-q"),
                          QStringLiteral("-o"),
                          QProcess::nullDevice(),
                          QStringLiteral("-v"),
                          QStringLiteral("ON_ERROR_STOP=1"),
                          QStringLiteral("--single-transaction")};
    arguments << FServer.ConnectionArguments() << QStringLiteral("-d")
              << QStringLiteral("dbname=") + QuoteConnectionValue(FRestoring);
    TProgramWatch watch{host.StopToken(),
                        {},
                        FServer.Environment(),
                        [&]() {
                            QByteArray block = dump();
                            if (progress.Advance)
                                progress.Advance(reader.Consumed() -
                                                 std::exchange(reported, reader.Consumed()));
                            return block;
                        },
                        FProgramPaths.value(PsqlProgram)};
    const TProgramOutcome outcome =
        host.RunClientProgram(TRestoreStep::RestoreArchive, PsqlProgram, JoinCommandLine(arguments), watch);
    if (progress.Reset)
        progress.Reset();
    CheckProgramOutcome(PsqlProgram, outcome);
}

void TRestoreSteps::Finish(TRestoreHost& host, bool keep) {
    if (!keep) {
        if (const QString left =
                DropTemporary(host, FRestoring, RestoringRole(), TRestoreStep::DropRestoring);
            !left.isEmpty())
            throw TError(left);
        host.Log(QStringLiteral("The restored database has been discarded"));
        return;
    }
    try {
        Swap(host);
    } catch (const std::exception& error) {
        ThrowUnchanged(host, error);
    }
    FReplacedKept = FTargetExists;
}

void TRestoreSteps::DropReplaced(TRestoreHost& host) {
    if (!std::exchange(FReplacedKept, false))
        return;
    if (const QString left = DropTemporary(host, FReplaced, QStringLiteral("the old \"%1\"").arg(FDatabase),
                                           TRestoreStep::DropReplaced);
        !left.isEmpty())
        throw TError(QStringLiteral("The database \"%1\" has been restored. ").arg(FDatabase) + left);
}

// Ends a failed restore or swap: the temporary database goes, and the error says that the named
// database was not changed (and names a temporary database that could not be dropped).
void TRestoreSteps::ThrowUnchanged(TRestoreHost& host, const std::exception& error) {
    QString message =
        MessageOf(error) + QStringLiteral("; the database \"%1\" was not changed").arg(FDatabase);
    if (FCreateStopped)
        WaitForStoppedCreate(host);
    if (const QString left = DropTemporary(host, FRestoring, RestoringRole(), TRestoreStep::DropRestoring);
        !left.isEmpty())
        message += QStringLiteral(". ") + left;
    if (dynamic_cast<const TOperationStopped*>(&error))
        throw TOperationStopped(message);
    throw TError(message);
}

// The named database takes the temporary name and the restored one takes its name, both in one
// transaction, so that a failure leaves both as they were.
void TRestoreSteps::Swap(TRestoreHost& host) {
    host.LogFmt(QStringLiteral("Replacing database: %s"), {FDatabase});
    const QString moveIn = RenameSql(FRestoring, FDatabase);
    const QString sql =
        FTargetExists ? QStringLiteral("BEGIN; %1; %2; COMMIT").arg(RenameSql(FDatabase, FReplaced), moveIn)
                      : moveIn;
    CheckProgramOutcome(PsqlProgram, Psql(host, TRestoreStep::Swap, {sql}, TStoppable::No));
}

// Drops one of the temporary databases, ending any session left in it (a client program killed
// mid-restore may leave one behind for a moment). Empty when it is gone; otherwise the sentence that
// names it for the error (the log names it too). Servers before 13 have no forced drop: their sessions
// are ended first, and the drop follows in a transaction of its own.
QString TRestoreSteps::DropTemporary(TRestoreHost& host, const QString& name, const QString& role,
                                     TRestoreStep step) {
    host.LogFmt(QStringLiteral("Dropping database: %s"), {Labelled(name, role)});
    TProgramOutcome outcome;
    QString program = DropDbProgram;
    if (FServerVersion > 0 && FServerVersion < FirstServerWithForcedDrop) {
        program = PsqlProgram;
        outcome =
            Psql(host, step,
                 {QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = %1")
                      .arg(QuoteLiteral(name)),
                  QStringLiteral("DROP DATABASE IF EXISTS %1").arg(QuoteIdentifier(name))},
                 TStoppable::No);
    } else {
        outcome = Run(host, step, DropDbProgram,
                      FServer.ConnectionArguments() + QStringList{QStringLiteral("--if-exists"),
                                                                  QStringLiteral("--force"),
                                                                  QStringLiteral("--"), name},
                      TStoppable::No);
    }
    if (outcome.Succeeded())
        return {};
    host.LogFmt(QStringLiteral("Temporary database left behind: %s"), {name});
    return QStringLiteral("The temporary database \"%1\" could not be removed: %2")
        .arg(name, DescribeFailure(program, outcome));
}

void TRestoreSteps::WaitForStoppedCreate(TRestoreHost& host) {
    FCreateStopped = false;
    host.Log(QStringLiteral("Waiting until the server has ended the stopped creation of %1").arg(FRestoring));
    const QString sql =
        QStringLiteral(
            "DO $$BEGIN FOR i IN 1..300 LOOP EXIT WHEN NOT EXISTS (SELECT FROM pg_stat_activity WHERE "
            "pid <> pg_backend_pid() AND usename = current_user AND state = 'active' AND query ILIKE 'CREATE "
            "DATABASE%' AND "
            "position(%1 IN query) > 0); PERFORM pg_sleep(0.1); PERFORM pg_stat_clear_snapshot(); END LOOP; "
            "END$$")
            .arg(QuoteLiteral(FRestoring));
    Psql(host, TRestoreStep::WaitForCreate, {sql}, TStoppable::No);
}

TProgramOutcome TRestoreSteps::Psql(TRestoreHost& host, TRestoreStep step, const QStringList& commands,
                                    TStoppable stoppable, std::function<bool(const QString&)> takeLine) {
    QStringList arguments{QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"),
                          QStringLiteral("-t"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1")};
    arguments << FServer.ConnectionArguments() << QStringLiteral("-d") << FMaintenance;
    for (const QString& command : commands)
        arguments << QStringLiteral("-c") << command;
    return Run(host, step, PsqlProgram, arguments, stoppable, std::move(takeLine));
}

// A stoppable program that was stopped ends the restore with TOperationStopped. The swap and the
// dropping of temporary databases are not stoppable: they are short, and they are what leaves the
// databases as they should be.
TProgramOutcome TRestoreSteps::Run(TRestoreHost& host, TRestoreStep step, const QString& program,
                                   const QStringList& arguments, TStoppable stoppable,
                                   std::function<bool(const QString&)> takeLine, const QString& shownAs) {
    TProgramWatch watch{stoppable == TStoppable::Yes ? host.StopToken() : std::stop_token(),
                        std::move(takeLine),
                        FServer.Environment(),
                        {},
                        FProgramPaths.value(program)};
    const TProgramOutcome outcome = host.RunClientProgram(
        step, shownAs.isEmpty() ? program : JoinCommandLine({shownAs}), JoinCommandLine(arguments), watch);
    if (outcome.Stopped)
        throw TOperationStopped(DescribeFailure(program, outcome));
    return outcome;
}
