#include "restore/RestoreHost.h"

#include "restore/LogSink.h"

TDownloadOutcome TRestoreHost::Download(const TDownloadRequest& request) {
    TDownloadRequest stoppable = request;
    stoppable.Limits.Stop = StopToken();
    return DownloadBackup(
        stoppable, [this](const QString& line) { Log(line); }, DownloadProgress());
}

bool IsServerCheck(TRestoreStep step) {
    switch (step) {
    case TRestoreStep::CheckServer:
    case TRestoreStep::FindDatabase:
    case TRestoreStep::CheckRename:
    case TRestoreStep::WaitForCreate:
        return true;
    default:
        return false;
    }
}

TProgramOutcome TRestoreHost::RunClientProgram(TRestoreStep step, const QString& program,
                                               const QString& parameters, const TProgramWatch& watch) {
    if (IsServerCheck(step))
        return RunAndWait(
            program, parameters, [](const QString&) {}, watch);
    return RunAndWait(
        program, parameters, [this](const QString& line) { Log(line); }, watch);
}

void TRestoreHost::LogFmt(const QString& logTemplate, const QStringList& arguments) {
    Log(FormatLogTemplate(logTemplate, arguments));
}
