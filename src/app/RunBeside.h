#pragma once

#include <QEventLoop>
#include <QThread>

#include <exception>
#include <memory>
#include <optional>

// Runs work on a thread of its own and waits for its result while this thread's events are processed,
// so that the window or dialog that waits stays live: for a short request such as the sign-in check.
// Rethrows what work threw.
template <typename Work> auto RunBeside(Work work) -> decltype(work()) {
    using Result = decltype(work());
    std::optional<Result> result;
    std::exception_ptr error;
    QEventLoop loop;
    const std::unique_ptr<QThread> thread(QThread::create([&] {
        try {
            result.emplace(work());
        } catch (...) {
            error = std::current_exception();
        }
    }));
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    thread->start();
    loop.exec();
    thread->wait();
    if (error)
        std::rethrow_exception(error);
    return std::move(*result);
}
