#include "support/FakeRestoreWindow.h"

#include "core/Error.h"
#include "restore/RestoreSequence.h"

#include <QFile>
#include <QRegularExpression>

QString FakeRestoreWindow::Step(const QString& program, const QString& parameters) {
    if (program == PgRestoreProgram)
        return parameters.startsWith(QStringLiteral("--list ")) ? QStringLiteral("check archive") : program;
    if (program == PsqlProgram) {
        if (parameters.contains(QStringLiteral("SELECT count(*)")))
            return QStringLiteral("find database");
        return parameters.contains(QStringLiteral("ROLLBACK")) ? QStringLiteral("check rename")
                                                               : QStringLiteral("swap");
    }
    if (program == DropDbProgram)
        return parameters.contains(QStringLiteral("corvane_restoring_")) ? QStringLiteral("drop restoring")
                                                                         : QStringLiteral("drop replaced");
    return program;
}

void FakeRestoreWindow::Log(const QString& message) {
    log << message;
}

void FakeRestoreWindow::ClearLog() {
    events << QStringLiteral("clear log");
    log.clear();
}

void FakeRestoreWindow::FocusWorkingFolder() {
    events << QStringLiteral("focus working folder");
}

void FakeRestoreWindow::FocusDatabaseUser() {
    events << QStringLiteral("focus database user");
}

void FakeRestoreWindow::SetBusy(bool busy) {
    events << (busy ? QStringLiteral("busy") : QStringLiteral("idle"));
}

std::optional<QString> FakeRestoreWindow::PromptDatabaseName(const QString& proposed) {
    events << QStringLiteral("prompt ") + proposed;
    if (cancel)
        return std::nullopt;
    return answer.value_or(proposed);
}

void FakeRestoreWindow::Download(const TBackupRecord& record, const QString& targetPath) {
    events << QStringLiteral("download ") + record.Path;
    if (!downloadError.isEmpty())
        throw Error(downloadError);
    if (storage) {
        TDownloadRequest request = *storage;
        request.ObjectKey = record.Path;
        request.TargetPath = targetPath;
        DownloadBackup(request, [this](const QString& line) { Log(line); }, {});
        return;
    }
    QFile file(targetPath);
    if (!file.open(QIODevice::WriteOnly) || file.write("PGDMP") != 5)
        throw Error(QStringLiteral("Cannot write ") + targetPath);
    log << QStringLiteral("Downloading backup file") << QStringLiteral("Download completed");
}

bool FakeRestoreWindow::KeepRestoreWithErrors(const QString& database, int errorCount) {
    events << QStringLiteral("ask %1 %2").arg(database).arg(errorCount);
    return keep;
}

TProgramOutcome FakeRestoreWindow::RunClientProgram(const QString& program, const QString& parameters,
                                                    const TProgramWatch& watch) {
    const QString step = Step(program, parameters);
    events << QStringLiteral("run ") + step;
    if (const auto answer = steps.constFind(step); answer != steps.cend()) {
        log << program + u' ' + parameters;
        return answer.value()(parameters);
    }
    if (realPrograms)
        return TRestoreWindow::RunClientProgram(program, parameters, watch);
    log << program + u' ' + parameters;
    TProgramOutcome success = Exited(0);
    if (step == QStringLiteral("find database"))
        success.LastOutputLine = QStringLiteral("1");
    return success;
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
