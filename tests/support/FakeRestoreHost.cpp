#include "support/FakeRestoreHost.h"

#include "core/Error.h"

#include <QFile>
#include <QRegularExpression>

QString FakeRestoreHost::StepName(TRestoreStep step) {
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
    }
    return {};
}

void FakeRestoreHost::Log(const QString& message) {
    log << message;
}

void FakeRestoreHost::Download(const TDownloadRequest& request) {
    events << QStringLiteral("download ") + request.ObjectKey;
    if (!downloadError.isEmpty())
        throw Error(downloadError);
    if (realDownload) {
        TRestoreHost::Download(request);
        return;
    }
    QFile file(request.TargetPath);
    if (!file.open(QIODevice::WriteOnly) || file.write("PGDMP") != 5)
        throw Error(QStringLiteral("Cannot write ") + request.TargetPath);
    log << QStringLiteral("Downloading backup file") << QStringLiteral("Download completed");
}

TProgramOutcome FakeRestoreHost::RunClientProgram(TRestoreStep step, const QString& program,
                                                  const QString& parameters, const TProgramWatch& watch) {
    const QString name = StepName(step);
    events << QStringLiteral("run ") + name;
    if (onRun)
        onRun(watch);
    TProgramOutcome outcome = Exited(0);
    if (const auto answer = steps.constFind(name); answer != steps.cend()) {
        log << program + u' ' + parameters;
        outcome = answer.value()(parameters);
    } else if (realPrograms) {
        return TRestoreHost::RunClientProgram(step, program, parameters, watch);
    } else {
        log << program + u' ' + parameters;
        if (step == TRestoreStep::FindDatabase)
            outcome.LastOutputLine = QStringLiteral("1");
    }
    if (step == TRestoreStep::CheckServer && outcome.Succeeded() && watch.takeLine)
        watch.takeLine(serverAnswer);
    return outcome;
}

void RestoreThroughPhases(const TRestoreInput& input, FakeRestoreHost& host) {
    TRestoreSession session(input);
    TServerCheck check = session.CheckServer(host);
    if (check.PasswordNeeded) {
        host.events << QStringLiteral("password");
        if (!host.password)
            return;
        session.SetPassword(*host.password);
        check = session.CheckServer(host);
        if (check.PasswordNeeded)
            throw Error(QStringLiteral("The server refused the password"));
    }
    if (check.TargetExists) {
        host.events << QStringLiteral("replace ") + input.Database;
        if (!host.replace)
            return;
    }
    session.Prepare(host);
    const int ignored = session.RestoreIntoTemporary(host);
    if (ignored > 0)
        host.events << QStringLiteral("ask %1 %2").arg(input.Database).arg(ignored);
    session.Finish(host, ignored == 0 || host.keep);
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
