#pragma once

#include "restore/LogSink.h"

#include <QString>

// How one outside program ended.
struct TProgramOutcome {
    bool Started = false;   // false: the program could not be started at all
    bool Crashed = false;   // it was ended by a signal, so there is no exit code
    int ExitCode = -1;      // meaningful when it started and did not crash
    QString StartError;     // the system's reason when it could not be started
    QString LastErrorLine;  // its last standard error line that speaks of an error, else its last one
    QString LastOutputLine; // its last standard output line

    bool Succeeded() const { return Started && !Crashed && ExitCode == 0; }
};

// What a client program writes is logged under its command line with this in front.
inline const QString ProgramOutputIndent = QStringLiteral("    ");

// Runs a program to its end. Logs "<program> <parameters>" first, then starts the program by bare name
// through the PATH search, with the parameter text split by SplitCommandLine and no shell, its input
// closed and no controlling terminal (StartHidden), so it can never stop to ask for input. Every line
// it writes, on standard output or standard error, is logged as it arrives, indented by
// ProgramOutputIndent; a line longer than 4096 bytes is logged in parts. The window's events are
// processed while it runs, between any two blocks of its output, so that neither a long silence nor a
// flood of output freezes the window.
// The program inherits our environment and current folder, except that its messages are in English
// (LC_MESSAGES=C): the log reads the same on every machine and pg_restore's closing words can be
// recognised.
TProgramOutcome RunAndWait(const QString& program, const QString& parameters, const TLogFunction& log);

// The message for a program that could not be started or did not end with exit code 0:
// "<program> failed with exit code N", "<program> could not be started. <reason>" or
// "<program> ended abnormally", followed by ": <its last error line>" when it wrote one.
QString DescribeFailure(const QString& program, const TProgramOutcome& outcome);

// Throws DescribeFailure as an Error; does nothing for a success.
void CheckProgramOutcome(const QString& program, const TProgramOutcome& outcome);
