#pragma once

#include "restore/LogSink.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <chrono>
#include <functional>
#include <stop_token>

// How one outside program ended.
struct TProgramOutcome {
    bool Started = false;   // false: the program could not be started at all
    bool Crashed = false;   // it was ended by a signal, so there is no exit code
    bool Stopped = false;   // it was ended, or never started, because a stop was asked for
    int ExitCode = -1;      // meaningful when it started and did not crash
    QString StartError;     // the system's reason when it could not be started
    QString LastErrorLine;  // its last standard error line that speaks of an error, else its last one
    QString LastOutputLine; // its last standard output line

    bool Succeeded() const { return Started && !Crashed && !Stopped && ExitCode == 0; }
};

// How a program is watched while it runs, and what it reads. All may be left empty.
struct TProgramWatch {
    // Once a stop is asked for, the program is asked to end (AskToEnd) and ended (ForceEnd) when it is
    // still running after EndGrace; a program not yet started is not started.
    std::stop_token Stop;
    // Sees every complete line the program writes; a line it takes (returns true for) is not logged.
    std::function<bool(const QString& line)> TakeLine;
    // Set in the program's environment beside ours, such as a password that must not appear on its
    // command line or in the log.
    QList<QPair<QString, QString>> Environment = {};
    // The program's standard input, one block per call and an empty block at the end, asked for only as
    // the program reads (little more than a MiB waits for it at any time). Left empty, the input is
    // closed. Once a stop is asked for, or the program has ended, it is not called again. Should it
    // throw, the program is ended at once, never seeing an end of input, and RunAndWait throws that
    // exception on once the program is gone. (The "= {}" lets a watch be made of the first members alone
    // without a warning.)
    std::function<QByteArray()> Input = {};
    // The program file to start, by its full path; empty: the program, found through PATH.
    QString Executable = {};
};

// How long a program asked to end may take before it is ended by force.
constexpr std::chrono::milliseconds EndGrace{2000};

// What a client program writes is logged under its command line with this in front.
inline const QString ProgramOutputIndent = QStringLiteral("    ");

// Runs a program to its end. Logs "<program> <parameters>" first, then starts watch.Executable (or the
// program by bare name through the PATH search), with the parameter text split by SplitCommandLine and no
// shell, its input closed or fed by watch.input and no controlling terminal (StartHidden), so it can never
// stop to ask for input. Every line it writes, on standard output or standard error, is logged as it arrives,
// indented by ProgramOutputIndent; a line longer than 4096 bytes is logged in parts.
// The program inherits our environment and current folder, except that its messages are in English
// (LC_MESSAGES=C): the log reads the same on every machine and pg_restore's closing words can be
// recognised. Runs on any thread, in an event loop of its own on that thread (which serves the output
// and the stop check); a restore runs it on its worker thread.
TProgramOutcome RunAndWait(const QString& program, const QString& parameters, const TLogFunction& log,
                           const TProgramWatch& watch = {});

// The message for a program that could not be started or did not end with exit code 0:
// "<program> failed with exit code N", "<program> could not be started. <reason>",
// "<program> was stopped" or "<program> ended abnormally", followed by ": <its last error line>" when it
// wrote one.
QString DescribeFailure(const QString& program, const TProgramOutcome& outcome);

// Throws DescribeFailure as a TError; does nothing for a success.
void CheckProgramOutcome(const QString& program, const TProgramOutcome& outcome);
