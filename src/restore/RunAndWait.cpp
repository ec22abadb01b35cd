#include "restore/RunAndWait.h"

#include "core/Platform.h"
#include "restore/CommandLine.h"

#include <QCoreApplication>
#include <QProcess>

#include <stdexcept>

namespace {

constexpr int PollIntervalMs = 100;

// Owns the child process: whoever leaves the wait early (an error while events were processed) does not
// leave a running or unreaped program behind.
class TChildProcess {
  public:
    TChildProcess() = default;
    ~TChildProcess() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(-1);
        }
    }
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    QProcess& operator*() { return process_; }
    QProcess* operator->() { return &process_; }

  private:
    QProcess process_;
};

} // namespace

TProgramOutcome RunAndWait(const QString& program, const QString& parameters, const TLogFunction& log) {
    log(program + u' ' + parameters);

    TChildProcess process;
    process->setProgram(program);
    process->setArguments(SplitCommandLine(parameters));
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    // Hidden, the program cannot ask for a password on the terminal the tool was started from and wait
    // there for ever.
    StartHidden(*process);
    process->start();

    TProgramOutcome outcome;
    if (!process->waitForStarted(-1)) {
        outcome.StartError = process->errorString();
        return outcome;
    }
    outcome.Started = true;

    while (!process->waitForFinished(PollIntervalMs)) {
        if (process->state() == QProcess::NotRunning)
            break;
        QCoreApplication::processEvents();
    }
    outcome.Crashed = process->exitStatus() == QProcess::CrashExit;
    outcome.ExitCode = outcome.Crashed ? -1 : process->exitCode();
    return outcome;
}

void CheckProgramOutcome(const QString& program, const TProgramOutcome& outcome) {
    if (!outcome.Started)
        throw std::runtime_error(
            QStringLiteral("%1 could not be started. %2").arg(program, outcome.StartError).toStdString());
    if (outcome.Crashed)
        throw std::runtime_error(QStringLiteral("%1 ended abnormally").arg(program).toStdString());
    if (outcome.ExitCode != 0)
        throw std::runtime_error(
            QStringLiteral("%1 failed with exit code %2").arg(program).arg(outcome.ExitCode).toStdString());
}
