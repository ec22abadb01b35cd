#pragma once

#include "app/OperationProgress.h"
#include "restore/RestoreWindow.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <stop_token>

// The window as a restore running on another thread sees it. What changes the window is passed to the
// window's thread: log lines and focus changes without waiting, the questions (the database name, keeping
// a restore with errors) waiting for the answer. The download (the window's Download, which must be safe
// to call from the restore's thread) and the client programs run right here on the restore's thread,
// watched by the stop token; progress goes to the window through counters.
class TRestoreRelay : public TRestoreWindow {
  public:
    // window lives on context's thread.
    TRestoreRelay(TRestoreWindow& window, QObject* context, std::stop_token stop,
                  TOperationProgress& progress);

    void Log(const QString& message) override;
    void ClearLog() override;
    void FocusWorkingFolder() override;
    void FocusDatabaseUser() override;
    // The window shows itself busy for the whole operation; the restore's own marks change nothing.
    void SetBusy(bool busy) override;
    // After a stop, a question is not put: the prompt is taken as cancelled, and a restore with errors
    // is discarded.
    std::optional<QString> PromptDatabaseName(const QString& proposed) override;
    void Download(const TBackupRecord& record, const QString& targetPath) override;
    bool KeepRestoreWithErrors(const QString& database, int errorCount) override;
    std::stop_token StopToken() const override { return stop_; }
    void ShowRestoreProgress(int done, int total) override;

  private:
    // Runs call on the window's thread without waiting.
    void Post(std::function<void(TRestoreWindow&)> call);

    TRestoreWindow& window_;
    QPointer<QObject> context_;
    std::stop_token stop_;
    TOperationProgress& progress_;
};
