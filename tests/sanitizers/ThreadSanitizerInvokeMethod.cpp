// Linked into the test programs of the ThreadSanitizer build only (CORVANE_SANITIZE_THREAD).
//
// QMetaObject::invokeMethod() with a function object hands it to the receiver's thread: everything the
// caller did before comes before the call there, and with Qt::BlockingQueuedConnection the call comes
// before what the caller does after. Debian's Qt is not instrumented and makes both hand-offs through its
// event queue's mutex and a semaphore, which ThreadSanitizer cannot see, so it reports the receiver's use
// of what the caller prepared (the function object and what it captured), and the caller's use of a
// blocking call's answer, as races. This definition takes the place of Qt's for the program: it wraps the
// function object in one that tells the sanitizer of the hand-offs and passes it on to Qt. Accesses that
// these hand-offs do not order are reported as before.
#include <QObject>

#include <dlfcn.h>
#include <memory>
#include <sanitizer/tsan_interface.h>

namespace {

class THandOff : public QtPrivate::QSlotObjectBase {
  public:
    THandOff(QtPrivate::QSlotObjectBase* call, void* callerWaits)
        : QSlotObjectBase(&Impl)
        , call_(call)
        , callerWaits_(callerWaits) {}

  private:
    static void Impl(int which, QSlotObjectBase* base, QObject* receiver, void** args, bool* ret) {
        auto* self = static_cast<THandOff*>(base);
        switch (which) {
        case Call:
            __tsan_acquire(self);
            self->call_->call(receiver, args);
            if (self->callerWaits_)
                __tsan_release(self->callerWaits_);
            break;
        case Destroy:
            // The last of the caller and the receiver to let go destroys the function object.
            __tsan_acquire(self);
            if (self->callerWaits_)
                __tsan_acquire(self->callerWaits_);
            self->call_->destroyIfLastRef();
            delete self;
            break;
        case Compare:
            *ret = self->call_->compare(args);
            break;
        }
    }

    QtPrivate::QSlotObjectBase* const call_;
    void* const callerWaits_;
};

} // namespace

bool QMetaObject::invokeMethodImpl(QObject* object, QtPrivate::QSlotObjectBase* slot, Qt::ConnectionType type,
                                   void* ret) {
    using Invoke = bool (*)(QObject*, QtPrivate::QSlotObjectBase*, Qt::ConnectionType, void*);
    static const auto invoke = reinterpret_cast<Invoke>(dlsym(
        RTLD_NEXT,
        "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv"));
    // After a blocking call the caller takes its answer; the mark of its end lives on the heap, where the
    // sanitizer forgets it once freed.
    const bool blocking = type == Qt::BlockingQueuedConnection;
    const auto answered = std::make_unique<char>();
    auto* handOff = new THandOff(slot, blocking ? answered.get() : nullptr);
    __tsan_release(handOff);
    const bool invoked = invoke(object, handOff, type, ret);
    if (blocking)
        __tsan_acquire(answered.get());
    return invoked;
}
