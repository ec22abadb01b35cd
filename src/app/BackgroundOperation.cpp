#include "app/BackgroundOperation.h"

#include "core/Error.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

TBackgroundOperation::TBackgroundOperation(QObject* parent)
    : QObject(parent) {}

TBackgroundOperation::~TBackgroundOperation() {
    StopAndWait();
}

void TBackgroundOperation::CheckIdle() const {
    if (IsRunning())
        throw Error(QStringLiteral("Another operation is still running"));
}

void TBackgroundOperation::Start(Work work, Ended ended) {
    CheckIdle();
    stop_ = std::stop_source();
    ended_ = std::move(ended);
    error_ = nullptr;
    thread_.reset(QThread::create([this, work = std::move(work), stop = stop_.get_token()] {
        try {
            work(stop);
        } catch (...) {
            error_ = std::current_exception();
        }
    }));
    // The thread's end is heard on this object's thread: the connection is queued.
    connect(thread_.get(), &QThread::finished, this, &TBackgroundOperation::Finish, Qt::QueuedConnection);
    thread_->start();
}

void TBackgroundOperation::Finish() {
    if (!thread_)
        return;
    thread_->wait();
    thread_.reset();
    const Ended ended = std::move(ended_);
    ended_ = nullptr;
    if (ended)
        ended(std::exchange(error_, nullptr));
}

void TBackgroundOperation::StopAndWait() {
    if (!thread_)
        return;
    RequestStop();
    while (!thread_->wait(QDeadlineTimer(20)))
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    Finish();
}
