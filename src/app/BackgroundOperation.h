#pragma once

#include <QObject>
#include <QThread>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <stop_token>

// Runs one piece of work at a time on a thread of its own, so that the window stays live while it runs,
// and hands its end back on the owner's thread. The work gets a stop token and touches nothing of the
// window: what it needs is copied into it, what it makes is handed over when it has ended.
//
// The end is bound to this object: it is delivered from the owner's event loop only while this object
// lives and the work is still the current one, and never during StopAndJoin. Teardown therefore only
// asks the work to stop and joins its thread; no continuation of the window runs while it goes.
class TBackgroundOperation : public QObject {
    Q_OBJECT

  public:
    using TWork = std::function<void(std::stop_token stop)>;
    // Called on the owner's thread once the work has ended, with what it threw (empty on success). It may
    // start the next work.
    using TEnded = std::function<void(std::exception_ptr error)>;

    explicit TBackgroundOperation(QObject* parent = nullptr);
    // StopAndJoin.
    ~TBackgroundOperation() override;

    // Starts the work. Throws as CheckIdle does while one runs.
    void Start(TWork work, TEnded ended);
    bool IsRunning() const { return FThread != nullptr; }
    // Throws TError "Another operation is still running" while one runs: for a command to call before it
    // changes anything on its way to Start.
    void CheckIdle() const;
    bool IsStopRequested() const { return FStop.stop_requested(); }
    void RequestStop() { FStop.request_stop(); }

    // Asks a running work to stop and waits for its thread to end, processing no events; its Ended is
    // dropped. The work must not wait for the owner's thread, which is blocked here.
    void StopAndJoin();

  private:
    void Finish(quint64 generation);
    // Waits for the thread's end and takes over what the work wrote.
    void Join();

    std::unique_ptr<QThread> FThread;
    quint64 FGeneration = 0; // which Start a finished thread belongs to; a stale end is dropped
    std::stop_source FStop;
    TEnded FEnded;
    std::exception_ptr FError; // written by the work's thread, read after it has ended
    // Set by the work's thread as its last act and read once it has ended: the hand-over of what the
    // work wrote then rests on an atomic that ThreadSanitizer sees, not only on Qt's own wait.
    std::atomic<bool> FWorkEnded{false};
};
