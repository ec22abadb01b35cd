#include "app/BackgroundOperation.h"

#include "core/Error.h"

TBackgroundOperation::TBackgroundOperation(QObject* parent)
    : QObject(parent) {}

TBackgroundOperation::~TBackgroundOperation() {
    StopAndJoin();
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
    workEnded_.store(false, std::memory_order_relaxed);
    const quint64 generation = ++generation_;
    thread_.reset(QThread::create([this, work = std::move(work), stop = stop_.get_token()] {
        try {
            work(stop);
        } catch (...) {
            error_ = std::current_exception();
        }
        workEnded_.store(true, std::memory_order_release);
    }));
    // The thread's end is heard on this object's thread (the connection is queued), and only by this
    // object: once it is gone, so is the end.
    connect(
        thread_.get(), &QThread::finished, this, [this, generation] { Finish(generation); },
        Qt::QueuedConnection);
    thread_->start();
}

void TBackgroundOperation::Finish(quint64 generation) {
    if (!thread_ || generation != generation_)
        return;
    Join();
    const Ended ended = std::exchange(ended_, nullptr);
    const std::exception_ptr error = std::exchange(error_, nullptr);
    if (ended)
        ended(error);
}

void TBackgroundOperation::StopAndJoin() {
    if (!thread_)
        return;
    RequestStop();
    Join();
    ++generation_;
    ended_ = nullptr;
    error_ = nullptr;
}

void TBackgroundOperation::Join() {
    thread_->wait();
    // True once the thread has ended; the acquiring load is what takes the work's writes over.
    [[maybe_unused]] const bool ended = workEnded_.load(std::memory_order_acquire);
    Q_ASSERT(ended);
    thread_.reset();
}
