#include "core/Platform.h"

#include "core/Error.h"

#include <QFile>
#include <QFileInfo>

#include <array>
#include <atomic>
#include <climits>
#include <cstring>
#include <mutex>

#include <signal.h>
#include <unistd.h>

namespace {

// The handler may run at any moment, on any thread, so the list is a fixed array that it reads without
// locks and with nothing but calls that are safe in a signal handler (unlink, sigaction, raise). A
// slot's path is written only while the slot is Claimed and read only by whoever moved it from Armed
// to Removing, so neither ever sees half a path.
enum TSlotState : int { Free, Claimed, Armed, Removing };
static_assert(std::atomic<int>::is_always_lock_free);

struct TSlot {
    std::atomic<int> State{Free};
    char Path[PATH_MAX];
};

constexpr int SlotCount = 16;
std::array<TSlot, SlotCount> registry;

constexpr int HandledSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The process that registered the files: a child forked to start another program keeps the handler
// until it runs that program, and must not remove its parent's files.
std::atomic<pid_t> owner{0};

void RemoveRegisteredFilesAndEnd(int signalNumber) {
    for (TSlot& slot : registry) {
        int armed = Armed;
        if (::getpid() == owner.load() && slot.State.compare_exchange_strong(armed, Removing))
            ::unlink(slot.Path);
    }
    // The signal's own action ends the process once this handler returns, with the status that the
    // parent expects from this signal.
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    ::sigaction(signalNumber, &standard, nullptr);
    ::raise(signalNumber);
}

// Handles each signal whose action is still the default: an ignored one stays ignored (nohup), and one
// that another part of the program handles is left to it.
void InstallHandlers() {
    owner.store(::getpid());
    struct sigaction action {};
    action.sa_handler = RemoveRegisteredFilesAndEnd;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : HandledSignals)
        sigaddset(&action.sa_mask, signalNumber);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : HandledSignals) {
        struct sigaction current {};
        if (::sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler == SIG_DFL &&
            !(current.sa_flags & SA_SIGINFO))
            ::sigaction(signalNumber, &action, nullptr);
    }
}

} // namespace

TRemovedIfKilled::TRemovedIfKilled(const QString& path) {
    static std::once_flag installed;
    std::call_once(installed, InstallHandlers);
    // Absolute, since the handler cannot know the working directory the path was meant in.
    const QByteArray name = QFile::encodeName(QFileInfo(path).absoluteFilePath());
    for (FSlot = 0; name.size() < PATH_MAX && FSlot < SlotCount; ++FSlot) {
        TSlot& slot = registry[FSlot];
        int free = Free;
        if (!slot.State.compare_exchange_strong(free, Claimed))
            continue;
        std::memcpy(slot.Path, name.constData(), size_t(name.size()) + 1);
        slot.State.store(Armed);
        return;
    }
    throw TError(
        QStringLiteral("Cannot register file \"%1\" for removal should the process be ended").arg(path));
}

TRemovedIfKilled::~TRemovedIfKilled() {
    // A slot the handler is working on stays Removing: the process ends with it.
    int armed = Armed;
    registry[FSlot].State.compare_exchange_strong(armed, Free);
}
