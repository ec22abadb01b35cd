#pragma once

#include <QObject>
#include <QThread>

#include <exception>
#include <functional>
#include <memory>
#include <stop_token>

// Runs one piece of work on a thread of its own, so that the window stays live while it runs, and tells
// the window on the window's thread when it has ended. One runs at a time; Stop asks the work to end
// through the stop token it is given.
class TBackgroundOperation : public QObject {
    Q_OBJECT

  public:
    using Work = std::function<void(std::stop_token stop)>;
    // Called on the owner's thread once the work has ended, with what it threw (empty on success).
    using Ended = std::function<void(std::exception_ptr error)>;

    explicit TBackgroundOperation(QObject* parent = nullptr);
    // Asks a running work to stop and waits for it (see StopAndWait).
    ~TBackgroundOperation() override;

    // Starts the work. Throws as CheckIdle does while one runs.
    void Start(Work work, Ended ended);
    bool IsRunning() const { return thread_ != nullptr; }
    // Throws Error "Another operation is still running" while one runs: for a command to call before it
    // changes anything on its way to Start.
    void CheckIdle() const;
    bool IsStopRequested() const { return stop_.stop_requested(); }
    void RequestStop() { stop_.request_stop(); }

    // Asks the work to stop and waits for its end, processing this thread's events meanwhile (the work
    // may be waiting for the window to answer it); Ended is then called before this returns.
    void StopAndWait();

  private:
    void Finish();

    std::unique_ptr<QThread> thread_;
    std::stop_source stop_;
    Ended ended_;
    std::exception_ptr error_;
};
