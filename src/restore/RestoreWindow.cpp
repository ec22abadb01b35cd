#include "restore/RestoreWindow.h"

#include "restore/LogSink.h"

TProgramOutcome TRestoreWindow::RunClientProgram(const QString& program, const QString& parameters) {
    return RunAndWait(program, parameters, [this](const QString& line) { Log(line); });
}

void TRestoreWindow::LogFmt(const QString& logTemplate, const QStringList& arguments) {
    Log(FormatLogTemplate(logTemplate, arguments));
}
