#pragma once

#include "restore/DownloadBackup.h"
#include "restore/RestoreSession.h"

#include <QMap>
#include <QStringList>

#include <functional>
#include <optional>
#include <stop_token>

// A host without a window for the restore. It records what the restore asks of it in one list of events,
// keeps the log lines, downloads from a real service or writes a small file, and runs the real client
// programs or answers for them.
class TFakeRestoreHost : public TRestoreHost {
  public:
    // In order: "run <step>" (see StepName), "password", "replace <database>", "leftovers <names>",
    // "download <key>", "replace file <path>" and "ask <database> <count>" (see RestoreThroughPhases).
    QStringList Events;
    QStringList LogLines;
    // The command line of every client program run or answered for, also of the server checks, whose
    // command lines stay out of the log.
    QStringList CommandLines;

    bool Keep = false;               // the answer to the question after ignored errors
    bool Replace = true;             // the answer to the question before replacing a database
    bool ReplaceFile = true;         // the answer to the question before replacing a file in the way
    bool DropLeftovers = false;      // the answer to the question about an earlier restore's leftovers
    std::optional<QString> Password; // the answer to the password prompt; none: cancelled
    // What the server check's query answers unless a step answers for it: the user may create
    // databases, the server's version, the named database's sessions, size and owner.
    QString ServerAnswer = QStringLiteral("t|150000|0|8 MB||postgres");
    QPair<int, int> RestoreProgress{-1, -1}; // the last items done and total reported

    std::stop_source Stop; // the restore's stop

    // Download from the service the request names; otherwise the download writes the five bytes
    // "PGDMP" into the target file.
    bool RealDownload = false;
    QString DownloadError; // thrown by the download instead when set

    // A step listed here is answered by its function instead of its program. The others run the real
    // programs when realPrograms is set, and otherwise succeed, "find database" saying it exists.
    QMap<QString, std::function<TProgramOutcome(const QString& parameters)>> Steps;
    bool RealPrograms = false;
    // Sees how every client program is run, before it runs or is answered for.
    std::function<void(const TProgramWatch& watch)> OnRun;

    // "program version", "check server", "check archive", "find database", "check rename", "createdb",
    // "pg_restore", "swap", "wait for create", "drop restoring", "drop replaced", "drop leftover".
    static QString StepName(TRestoreStep step);

    void Log(const QString& message) override;
    std::stop_token StopToken() const override { return Stop.get_token(); }
    void ShowRestoreProgress(int done, int total) override { RestoreProgress = {done, total}; }
    TDownloadOutcome Download(const TDownloadRequest& request) override;
    TProgramOutcome RunClientProgram(TRestoreStep step, const QString& program, const QString& parameters,
                                     const TProgramWatch& watch) override;
};

// The window's part of a restore without the window: the phases one after the other on this thread, with
// the questions answered by the host's password, replace, leftovers and keep. A restore the answers cancel
// ends quietly, as in the window.
void RestoreThroughPhases(const TRestoreInput& input, TFakeRestoreHost& host);

// An outcome for TFakeRestoreHost::Steps: the program ran and ended with this exit code, its last
// error line being the one given.
TProgramOutcome Exited(int code, const QString& lastErrorLine = {});

// The log with the random part of the temporary database names replaced by "<token>".
QStringList WithoutToken(const QStringList& log);
