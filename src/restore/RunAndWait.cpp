#include "restore/RunAndWait.h"

#include "core/Error.h"
#include "core/Platform.h"
#include "restore/CommandLine.h"
#include "restore/ProgramInput.h"

#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <optional>

namespace {

constexpr qsizetype LongestLine = 4096;

// Owns the child process: whoever leaves the wait early does not leave a running or unreaped program
// behind.
class TChildProcess {
  public:
    TChildProcess() = default;
    ~TChildProcess() {
        if (FProcess.state() != QProcess::NotRunning) {
            ForceEnd(FProcess);
            FProcess.waitForFinished(-1);
        }
    }
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    QProcess& operator*() { return FProcess; }
    QProcess* operator->() { return &FProcess; }

  private:
    QProcess FProcess;
};

// One output channel of the program, cut into lines as its bytes arrive.
class TOutputLines {
  public:
    TOutputLines(const TLogFunction& log, const std::function<bool(const QString&)>& takeLine)
        : FLog(log)
        , FTakeLine(takeLine) {}

    // Logs every complete line of what has arrived so far; at the end, the unfinished last one too.
    void Take(const QByteArray& data, bool atEnd) {
        FPending += data;
        qsizetype from = 0;
        for (;;) {
            const qsizetype newline = FPending.indexOf('\n', from);
            if (newline >= 0 && newline - from <= LongestLine) {
                Emit(FPending.mid(from, newline - from));
                from = newline + 1;
            } else if (FPending.size() - from > LongestLine) {
                Emit(FPending.mid(from, LongestLine));
                from += LongestLine;
            } else {
                break;
            }
        }
        FPending.remove(0, from);
        if (atEnd && !FPending.isEmpty()) {
            Emit(FPending);
            FPending.clear();
        }
    }

    const QString& Last() const { return FLast; }
    const QString& LastError() const { return FLastError.isEmpty() ? FLast : FLastError; }

  private:
    void Emit(QByteArray bytes) {
        if (bytes.endsWith('\r'))
            bytes.chop(1);
        const QString line = QString::fromLocal8Bit(bytes);
        if (FTakeLine && FTakeLine(line))
            return;
        FLog(ProgramOutputIndent + line);
        if (line.trimmed().isEmpty())
            return;
        FLast = line;
        if (line.contains(u"error", Qt::CaseInsensitive) || line.contains(u"fatal", Qt::CaseInsensitive))
            FLastError = line;
    }

    const TLogFunction& FLog;
    const std::function<bool(const QString&)>& FTakeLine;
    QByteArray FPending;
    QString FLast;
    QString FLastError;
};

// The environment of a client program: ours, with the messages in English.
QProcessEnvironment ClientEnvironment() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // LC_ALL would override LC_MESSAGES; its choice stays for the other categories through LANG.
    if (environment.contains(QStringLiteral("LC_ALL"))) {
        environment.insert(QStringLiteral("LANG"), environment.value(QStringLiteral("LC_ALL")));
        environment.remove(QStringLiteral("LC_ALL"));
    }
    environment.remove(QStringLiteral("LANGUAGE"));
    environment.insert(QStringLiteral("LC_MESSAGES"), QStringLiteral("C"));
    return environment;
}

} // namespace

TProgramOutcome RunAndWait(const QString& program, const QString& parameters, const TLogFunction& log,
                           const TProgramWatch& watch) {
    log(program + u' ' + parameters);
    TProgramOutcome outcome;
    if (watch.Stop.stop_requested()) {
        outcome.Stopped = true;
        return outcome;
    }

    // The lines outlive the process: output that arrives while an early exit kills the program still
    // has somewhere to go.
    TOutputLines output(log, watch.TakeLine);
    TOutputLines errors(log, watch.TakeLine);
    TChildProcess process;
    process->setProgram(watch.Executable.isEmpty() ? program : watch.Executable);
    process->setArguments(SplitCommandLine(parameters));
    QProcessEnvironment environment = ClientEnvironment();
    for (const auto& [name, value] : watch.Environment)
        environment.insert(name, value);
    process->setProcessEnvironment(environment);
    std::optional<TProgramInput> input;
    if (watch.Input)
        input.emplace(*process, watch.Input, watch.Stop);
    else
        process->setStandardInputFile(QProcess::nullDevice());
    StartHidden(*process);

    QProcess* child = &*process;
    QObject::connect(child, &QProcess::readyReadStandardOutput, child,
                     [&] { output.Take(child->readAllStandardOutput(), false); });
    QObject::connect(child, &QProcess::readyReadStandardError, child,
                     [&] { errors.Take(child->readAllStandardError(), false); });
    QEventLoop loop;
    QObject::connect(child, &QProcess::finished, &loop, &QEventLoop::quit);

    // A stop is looked for a few times a second: the program is asked to end, and ended once the grace
    // is over.
    QTimer stopCheck;
    stopCheck.setInterval(100);
    QTimer graceOver;
    graceOver.setSingleShot(true);
    graceOver.setInterval(EndGrace);
    QObject::connect(&stopCheck, &QTimer::timeout, &loop, [&] {
        if (!watch.Stop.stop_requested())
            return;
        stopCheck.stop();
        outcome.Stopped = true;
        if (input)
            input->Halt();
        AskToEnd(*process);
        graceOver.start();
    });
    QObject::connect(&graceOver, &QTimer::timeout, &loop, [&] { ForceEnd(*process); });

    process->start();
    if (!process->waitForStarted(-1)) {
        outcome.StartError = process->errorString();
        return outcome;
    }
    outcome.Started = true;
    KeepWithThisProcess(*process);
    if (input)
        input->Start();

    // Each block of output is logged from the event loop, with the events of this thread between blocks.
    if (process->state() != QProcess::NotRunning) {
        if (watch.Stop.stop_possible())
            stopCheck.start();
        loop.exec();
    }
    output.Take(process->readAllStandardOutput(), true);
    errors.Take(process->readAllStandardError(), true);
    if (input && input->Failure())
        std::rethrow_exception(input->Failure());

    outcome.Crashed = process->exitStatus() == QProcess::CrashExit;
    outcome.ExitCode = outcome.Crashed ? -1 : process->exitCode();
    outcome.LastErrorLine = errors.LastError();
    outcome.LastOutputLine = output.Last();
    return outcome;
}

QString DescribeFailure(const QString& program, const TProgramOutcome& outcome) {
    if (outcome.Stopped)
        return QStringLiteral("%1 was stopped").arg(program);
    if (!outcome.Started)
        return QStringLiteral("%1 could not be started. %2").arg(program, outcome.StartError);
    QString message = outcome.Crashed
                          ? QStringLiteral("%1 ended abnormally").arg(program)
                          : QStringLiteral("%1 failed with exit code %2").arg(program).arg(outcome.ExitCode);
    if (!outcome.LastErrorLine.isEmpty())
        message += QStringLiteral(": ") + outcome.LastErrorLine.trimmed();
    return message;
}

void CheckProgramOutcome(const QString& program, const TProgramOutcome& outcome) {
    if (outcome.Stopped)
        throw TOperationStopped(DescribeFailure(program, outcome));
    if (!outcome.Succeeded())
        throw TError(DescribeFailure(program, outcome));
}
