#include "restore/RestoreHost.h"

#include "restore/LogSink.h"

TDownloadOutcome TRestoreHost::Download(const TDownloadRequest& request) {
    TDownloadRequest stoppable = request;
    stoppable.Limits.Stop = StopToken();
    return DownloadBackup(
        stoppable, [this](const QString& line) { Log(line); }, DownloadProgress());
}

TProgramOutcome TRestoreHost::RunClientProgram(TRestoreStep, const QString& program,
                                               const QString& parameters, const TProgramWatch& watch) {
    return RunAndWait(
        program, parameters, [this](const QString& line) { Log(line); }, watch);
}

void TRestoreHost::LogFmt(const QString& logTemplate, const QStringList& arguments) {
    Log(FormatLogTemplate(logTemplate, arguments));
}
