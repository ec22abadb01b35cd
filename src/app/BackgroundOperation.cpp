#include "app/BackgroundOperation.h"

#include "core/Error.h"

TBackgroundOperation::TBackgroundOperation(QObject* parent)
    : QObject(parent) {}

TBackgroundOperation::~TBackgroundOperation() {
    StopAndJoin();
}

void TBackgroundOperation::CheckIdle() const {
    if (IsRunning())
        throw TError(QStringLiteral("Another operation is still running"));
}

void TBackgroundOperation::Start(TWork work, TEnded ended) {
    CheckIdle();
    FStop = std::stop_source();
    FEnded = std::move(ended);
    FError = nullptr;
    FWorkEnded.store(false, std::memory_order_relaxed);
    const quint64 generation = ++FGeneration;
    FThread.reset(QThread::create([this, work = std::move(work), stop = FStop.get_token()] {
        try {
            work(stop);
        } catch (...) {
            FError = std::current_exception();
        }
        FWorkEnded.store(true, std::memory_order_release);
    }));
    // The thread's end is heard on this object's thread (the connection is queued), and only by this
    // object: once it is gone, so is the end.
    connect(
        FThread.get(), &QThread::finished, this, [this, generation] { Finish(generation); },
        Qt::QueuedConnection);
    FThread->start();
}

void TBackgroundOperation::Finish(quint64 generation) {
    if (!FThread || generation != FGeneration)
        return;
    Join();
    const TEnded ended = std::exchange(FEnded, nullptr);
    const std::exception_ptr error = std::exchange(FError, nullptr);
    if (ended)
        ended(error);
}

void TBackgroundOperation::StopAndJoin() {
    if (!FThread)
        return;
    RequestStop();
    Join();
    ++FGeneration;
    FEnded = nullptr;
    FError = nullptr;
}

void TBackgroundOperation::Join() {
    FThread->wait();
    // True once the thread has ended; the acquiring load is what takes the work's writes over.
    [[maybe_unused]] const bool ended = FWorkEnded.load(std::memory_order_acquire);
    Q_ASSERT(ended);
    FThread.reset();
}
