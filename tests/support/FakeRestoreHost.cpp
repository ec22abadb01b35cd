#include "support/FakeRestoreHost.h"

#include "core/Error.h"

#include <QFile>
#include <QRegularExpression>

QString TFakeRestoreHost::StepName(TRestoreStep step) {
    switch (step) {
    case TRestoreStep::ProgramVersion:
        return QStringLiteral("program version");
    case TRestoreStep::CheckServer:
        return QStringLiteral("check server");
    case TRestoreStep::WaitForCreate:
        return QStringLiteral("wait for create");
    case TRestoreStep::CheckArchive:
        return QStringLiteral("check archive");
    case TRestoreStep::FindDatabase:
        return QStringLiteral("find database");
    case TRestoreStep::CheckRename:
        return QStringLiteral("check rename");
    case TRestoreStep::CreateDatabase:
        return QStringLiteral("createdb");
    case TRestoreStep::RestoreArchive:
        return QStringLiteral("pg_restore");
    case TRestoreStep::Swap:
        return QStringLiteral("swap");
    case TRestoreStep::DropRestoring:
        return QStringLiteral("drop restoring");
    case TRestoreStep::DropReplaced:
        return QStringLiteral("drop replaced");
    case TRestoreStep::DropLeftover:
        return QStringLiteral("drop leftover");
    }
    return {};
}

void TFakeRestoreHost::Log(const QString& message) {
    LogLines << message;
}

TDownloadOutcome TFakeRestoreHost::Download(const TDownloadRequest& request) {
    Events << QStringLiteral("download ") + request.ObjectKey;
    if (!DownloadError.isEmpty())
        throw TError(DownloadError);
    if (RealDownload)
        return TRestoreHost::Download(request);
    QFile file(request.TargetPath);
    if (!file.open(QIODevice::WriteOnly) || file.write("PGDMP") != 5)
        throw TError(QStringLiteral("Cannot write ") + request.TargetPath);
    LogLines << QStringLiteral("Downloading backup file") << QStringLiteral("Download completed");
    return TDownloadOutcome::Downloaded;
}

TProgramOutcome TFakeRestoreHost::RunClientProgram(TRestoreStep step, const QString& program,
                                                   const QString& parameters, const TProgramWatch& watch) {
    const QString name = StepName(step);
    Events << QStringLiteral("run ") + name;
    if (OnRun)
        OnRun(watch);
    const QString commandLine = program + u' ' + parameters;
    CommandLines << commandLine;
    const auto answer = Steps.constFind(name);
    if (answer == Steps.cend() && RealPrograms)
        return TRestoreHost::RunClientProgram(step, program, parameters, watch);
    if (!IsServerCheck(step))
        LogLines << commandLine;
    TProgramOutcome outcome = Exited(0);
    if (answer != Steps.cend())
        outcome = answer.value()(parameters);
    else if (step == TRestoreStep::FindDatabase)
        outcome.LastOutputLine = QStringLiteral("1");
    if (step == TRestoreStep::CheckServer && outcome.Succeeded() && watch.TakeLine)
        watch.TakeLine(ServerAnswer);
    return outcome;
}

void RestoreThroughPhases(const TRestoreInput& input, TFakeRestoreHost& host) {
    TRestoreSession session(input);
    TServerCheck check = session.CheckServer(host);
    if (check.PasswordNeeded) {
        host.Events << QStringLiteral("password");
        if (!host.Password)
            return;
        session.SetPassword(*host.Password);
        check = session.CheckServer(host);
        if (check.PasswordNeeded)
            throw TError(QStringLiteral("The server refused the password"));
    }
    if (check.TargetExists) {
        host.Events << QStringLiteral("replace ") + input.Database;
        if (!host.Replace)
            return;
    }
    if (!check.Leftovers.isEmpty()) {
        host.Events << QStringLiteral("leftovers ") + check.Leftovers.join(u',');
        if (host.DropLeftovers)
            session.DropLeftoversFirst(check.Leftovers);
    }
    while (!session.Prepare(host)) {
        host.Events << QStringLiteral("replace file ") + session.TargetPath();
        if (!host.ReplaceFile)
            return;
        session.ReplaceExistingFile();
    }
    const TRestoreOutcome restored = session.RestoreIntoTemporary(host);
    if (restored.IgnoredErrors > 0)
        host.Events << QStringLiteral("ask %1 %2").arg(input.Database).arg(restored.IgnoredErrors);
    session.Finish(host, restored.IgnoredErrors == 0 || host.Keep);
    session.DropReplaced(host);
}

TProgramOutcome Exited(int code, const QString& lastErrorLine) {
    TProgramOutcome outcome;
    outcome.Started = true;
    outcome.ExitCode = code;
    outcome.LastErrorLine = lastErrorLine;
    return outcome;
}

QStringList WithoutToken(const QStringList& log) {
    static const QRegularExpression token(QStringLiteral("(corvane_(restoring|replaced)_)[0-9a-f]{12}"));
    QStringList lines;
    for (QString line : log)
        lines << line.replace(token, QStringLiteral("\\1<token>"));
    return lines;
}
