#include "restore/RestoreWindow.h"

#include "restore/LogSink.h"

TProgramOutcome TRestoreWindow::RunClientProgram(const QString& program, const QString& parameters,
                                                 const TProgramWatch& watch) {
    return RunAndWait(
        program, parameters, [this](const QString& line) { Log(line); }, watch);
}

void TRestoreWindow::LogFmt(const QString& logTemplate, const QStringList& arguments) {
    Log(FormatLogTemplate(logTemplate, arguments));
}
