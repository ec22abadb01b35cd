#pragma once

#include "restore/DownloadBackup.h"
#include "restore/RestoreWindow.h"

#include <QMap>
#include <QStringList>

#include <functional>
#include <optional>
#include <stop_token>

// A window without widgets for the restore. It records what the restore asks of it in one list of
// events, keeps the log lines, answers the prompt and the question as told, downloads from a real
// service or writes a small file, and runs the real client programs or answers for them.
class FakeRestoreWindow : public TRestoreWindow {
  public:
    // In order: "busy", "idle", "clear log", "focus working folder", "focus database user",
    // "prompt <proposed>", "download <key>", "ask <database> <count>" and "run <step>" (see Step).
    QStringList events;
    QStringList log;

    std::optional<QString> answer;           // the prompt's text; none: the proposed name is accepted
    bool cancel = false;                     // the prompt is cancelled
    bool keep = false;                       // the answer to the question after ignored errors
    QPair<int, int> restoreProgress{-1, -1}; // the last items done and total reported

    std::stop_source stop; // the restore's stop

    // The service the download reads from (its Connection and BucketSetting); none: the download writes
    // the five bytes "PGDMP" into the target file.
    std::optional<TDownloadRequest> storage;
    QString downloadError; // thrown by the download instead when set

    // A step listed here is answered by its function instead of its program. The others run the real
    // programs when realPrograms is set, and otherwise succeed, "find database" saying it exists.
    QMap<QString, std::function<TProgramOutcome(const QString& parameters)>> steps;
    bool realPrograms = false;

    // The step a client program run stands for: "check archive", "find database", "check rename",
    // "createdb", "pg_restore", "swap", "drop restoring", "drop replaced".
    static QString Step(const QString& program, const QString& parameters);

    void Log(const QString& message) override;
    void ClearLog() override;
    void FocusWorkingFolder() override;
    void FocusDatabaseUser() override;
    void SetBusy(bool busy) override;
    std::optional<QString> PromptDatabaseName(const QString& proposed) override;
    void Download(const TBackupRecord& record, const QString& targetPath) override;
    bool KeepRestoreWithErrors(const QString& database, int errorCount) override;
    std::stop_token StopToken() const override { return stop.get_token(); }
    void ShowRestoreProgress(int done, int total) override { restoreProgress = {done, total}; }
    TProgramOutcome RunClientProgram(const QString& program, const QString& parameters,
                                     const TProgramWatch& watch) override;
};

// An outcome for FakeRestoreWindow::steps: the program ran and ended with this exit code, its last
// error line being the one given.
TProgramOutcome Exited(int code, const QString& lastErrorLine = {});

// The log with the random part of the temporary database names replaced by "<token>".
QStringList WithoutToken(const QStringList& log);
