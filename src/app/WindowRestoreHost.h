#pragma once

#include "app/OperationProgress.h"
#include "core/LogQueue.h"
#include "restore/RestoreHost.h"

#include <stop_token>

// The window as a restore phase sees it from its worker thread: log lines go into the window's log
// queue, progress into its counters, and the stop is the running operation's. Nothing here touches a
// widget, so the phase never waits for the window's thread.
class TWindowRestoreHost : public TRestoreHost {
  public:
    TWindowRestoreHost(TLogQueue& log, TOperationProgress& progress, std::stop_token stop)
        : FLog(log)
        , FProgress(progress)
        , FStop(std::move(stop)) {}

    void Log(const QString& message) override { FLog.Push(message); }
    std::stop_token StopToken() const override { return FStop; }
    void ShowRestoreProgress(int done, int total) override { FProgress.SetItems(done, total); }
    TDownloadProgress DownloadProgress() override { return TransferProgressOf(FProgress); }

  private:
    TLogQueue& FLog;
    TOperationProgress& FProgress;
    std::stop_token FStop;
};
