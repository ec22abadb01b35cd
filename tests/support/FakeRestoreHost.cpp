#include "support/FakeRestoreHost.h"

#include "core/Error.h"

#include <QFile>
#include <QRegularExpression>

QString FakeRestoreHost::StepName(TRestoreStep step) {
    switch (step) {
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
    if (const auto answer = steps.constFind(name); answer != steps.cend()) {
        log << program + u' ' + parameters;
        return answer.value()(parameters);
    }
    if (realPrograms)
        return TRestoreHost::RunClientProgram(step, program, parameters, watch);
    log << program + u' ' + parameters;
    TProgramOutcome success = Exited(0);
    if (step == TRestoreStep::FindDatabase)
        success.LastOutputLine = QStringLiteral("1");
    return success;
}

void RestoreThroughPhases(const TRestoreInput& input, FakeRestoreHost& host) {
    TRestoreSession session(input);
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
