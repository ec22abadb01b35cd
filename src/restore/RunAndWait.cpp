#include "restore/RunAndWait.h"

#include "core/Error.h"
#include "core/Platform.h"
#include "restore/CommandLine.h"

#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>

namespace {

constexpr qsizetype LongestLine = 4096;

// Owns the child process: whoever leaves the wait early does not leave a running or unreaped program
// behind.
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

// One output channel of the program, cut into lines as its bytes arrive.
class TOutputLines {
  public:
    explicit TOutputLines(const TLogFunction& log)
        : log_(log) {}

    // Logs every complete line of what has arrived so far; at the end, the unfinished last one too.
    void Take(const QByteArray& data, bool atEnd) {
        pending_ += data;
        qsizetype from = 0;
        for (;;) {
            const qsizetype newline = pending_.indexOf('\n', from);
            if (newline >= 0 && newline - from <= LongestLine) {
                Emit(pending_.mid(from, newline - from));
                from = newline + 1;
            } else if (pending_.size() - from > LongestLine) {
                Emit(pending_.mid(from, LongestLine));
                from += LongestLine;
            } else {
                break;
            }
        }
        pending_.remove(0, from);
        if (atEnd && !pending_.isEmpty()) {
            Emit(pending_);
            pending_.clear();
        }
    }

    const QString& Last() const { return last_; }
    const QString& LastError() const { return lastError_.isEmpty() ? last_ : lastError_; }

  private:
    void Emit(QByteArray bytes) {
        if (bytes.endsWith('\r'))
            bytes.chop(1);
        const QString line = QString::fromLocal8Bit(bytes);
        log_(ProgramOutputIndent + line);
        if (line.trimmed().isEmpty())
            return;
        last_ = line;
        static const QRegularExpression error(QStringLiteral("error|fatal"),
                                              QRegularExpression::CaseInsensitiveOption);
        if (line.contains(error))
            lastError_ = line;
    }

    const TLogFunction& log_;
    QByteArray pending_;
    QString last_;
    QString lastError_;
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

TProgramOutcome RunAndWait(const QString& program, const QString& parameters, const TLogFunction& log) {
    log(program + u' ' + parameters);

    // The lines outlive the process: output that arrives while an early exit kills the program still
    // has somewhere to go.
    TOutputLines output(log);
    TOutputLines errors(log);
    TChildProcess process;
    process->setProgram(program);
    process->setArguments(SplitCommandLine(parameters));
    process->setProcessEnvironment(ClientEnvironment());
    process->setStandardInputFile(QProcess::nullDevice());
    StartHidden(*process);

    QProcess* child = &*process;
    QObject::connect(child, &QProcess::readyReadStandardOutput, child,
                     [&] { output.Take(child->readAllStandardOutput(), false); });
    QObject::connect(child, &QProcess::readyReadStandardError, child,
                     [&] { errors.Take(child->readAllStandardError(), false); });
    QEventLoop loop;
    QObject::connect(child, &QProcess::finished, &loop, &QEventLoop::quit);

    process->start();
    TProgramOutcome outcome;
    if (!process->waitForStarted(-1)) {
        outcome.StartError = process->errorString();
        return outcome;
    }
    outcome.Started = true;

    // Each block of output is logged from the event loop, with the window's own events between blocks.
    if (process->state() != QProcess::NotRunning)
        loop.exec();
    output.Take(process->readAllStandardOutput(), true);
    errors.Take(process->readAllStandardError(), true);

    outcome.Crashed = process->exitStatus() == QProcess::CrashExit;
    outcome.ExitCode = outcome.Crashed ? -1 : process->exitCode();
    outcome.LastErrorLine = errors.LastError();
    outcome.LastOutputLine = output.Last();
    return outcome;
}

QString DescribeFailure(const QString& program, const TProgramOutcome& outcome) {
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
    if (!outcome.Succeeded())
        throw Error(DescribeFailure(program, outcome));
}
