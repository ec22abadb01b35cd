// Linked into the test programs of the ThreadSanitizer build only (CORVANE_SANITIZE_THREAD).
//
// QThread::wait() returns once the thread has finished, so everything the thread did comes before what its
// caller does after the wait: RunBeside and TBackgroundOperation take a worker's result that way. Debian's
// Qt is not instrumented and makes that hand-off through a futex, which ThreadSanitizer cannot see, so it
// reports the caller's reads of what the thread wrote as races whenever the thread had ended before
// wait() was called. These two definitions take the place of Qt's own for the program and tell the
// sanitizer of the hand-off: a thread releases its QThread as it finishes (finished() is emitted on the
// thread before wait() can return), and a wait() that returns true acquires it. Accesses that wait()
// does not order are reported as before.
#include <QThread>

#include <dlfcn.h>
#include <sanitizer/tsan_interface.h>

namespace {

template <typename Function> Function QtCore(const char* symbol) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, symbol));
}

} // namespace

void QThread::start(Priority priority) {
    static const auto start = QtCore<void (*)(QThread*, Priority)>("_ZN7QThread5startENS_8PriorityE");
    const auto release = [this] { __tsan_release(this); };
    connect(this, &QThread::finished, this, release, Qt::DirectConnection);
    start(this, priority);
}

bool QThread::wait(QDeadlineTimer deadline) {
    static const auto wait = QtCore<bool (*)(QThread*, QDeadlineTimer)>("_ZN7QThread4waitE14QDeadlineTimer");
    const bool finished = wait(this, deadline);
    if (finished)
        __tsan_acquire(this);
    return finished;
}
