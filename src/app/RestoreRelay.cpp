#include "app/RestoreRelay.h"

#include <QMetaObject>

TRestoreRelay::TRestoreRelay(TRestoreWindow& window, QObject* context, std::stop_token stop,
                             TOperationProgress& progress)
    : window_(window)
    , context_(context)
    , stop_(std::move(stop))
    , progress_(progress) {}

void TRestoreRelay::Post(std::function<void(TRestoreWindow&)> call) {
    QMetaObject::invokeMethod(
        context_, [&window = window_, call = std::move(call)] { call(window); }, Qt::QueuedConnection);
}

void TRestoreRelay::Log(const QString& message) {
    Post([message](TRestoreWindow& window) { window.Log(message); });
}

void TRestoreRelay::ClearLog() {
    Post([](TRestoreWindow& window) { window.ClearLog(); });
}

void TRestoreRelay::FocusWorkingFolder() {
    Post([](TRestoreWindow& window) { window.FocusWorkingFolder(); });
}

void TRestoreRelay::FocusDatabaseUser() {
    Post([](TRestoreWindow& window) { window.FocusDatabaseUser(); });
}

void TRestoreRelay::SetBusy(bool) {}

std::optional<QString> TRestoreRelay::PromptDatabaseName(const QString& proposed) {
    std::optional<QString> answer;
    if (stop_.stop_requested())
        return answer;
    QMetaObject::invokeMethod(
        context_, [&] { answer = window_.PromptDatabaseName(proposed); }, Qt::BlockingQueuedConnection);
    return answer;
}

void TRestoreRelay::Download(const TBackupRecord& record, const QString& targetPath) {
    window_.Download(record, targetPath);
}

bool TRestoreRelay::KeepRestoreWithErrors(const QString& database, int errorCount) {
    bool keep = false;
    if (stop_.stop_requested())
        return keep;
    QMetaObject::invokeMethod(
        context_, [&] { keep = window_.KeepRestoreWithErrors(database, errorCount); },
        Qt::BlockingQueuedConnection);
    return keep;
}

void TRestoreRelay::ShowRestoreProgress(int done, int total) {
    progress_.SetItems(done, total);
}
