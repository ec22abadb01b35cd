#pragma once

#include "restore/LogSink.h"

#include <QString>

// How one outside program ended.
struct TProgramOutcome {
    bool Started = false; // false: the program could not be started at all
    bool Crashed = false; // it was ended by a signal, so there is no exit code
    int ExitCode = -1;    // meaningful when it started and did not crash
    QString StartError;   // the system's reason when it could not be started

    bool Succeeded() const { return Started && !Crashed && ExitCode == 0; }
};

// Runs a program to its end. Logs "<program> <parameters>" first, then starts the program by bare name
// through the PATH search, with the parameter text split by SplitCommandLine and no shell, its input
// closed, its output passed through to ours and no controlling terminal, so it can never stop to ask
// for input. While it runs, pending events are processed every 100 ms so the window stays responsive.
// The program inherits our environment and current folder.
TProgramOutcome RunAndWait(const QString& program, const QString& parameters, const TLogFunction& log);

// Throws the error that names a program which could not be started or did not end with exit code 0:
// "<program> failed with exit code N", "<program> could not be started. <reason>" or
// "<program> ended abnormally". Does nothing for a success.
void CheckProgramOutcome(const QString& program, const TProgramOutcome& outcome);
