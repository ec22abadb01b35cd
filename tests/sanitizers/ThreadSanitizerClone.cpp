// Linked into the test programs of the ThreadSanitizer build only (CORVANE_SANITIZE_THREAD).
//
// QProcess starts a program through clone() with CLONE_VM | CLONE_VFORK: the child runs in the parent's
// memory until it calls exec. ThreadSanitizer's clone() takes every clone for a fork and, when the parent
// has other threads, marks the child's thread state to ignore everything from then on; in the parent's
// shared memory that state is the calling thread's own. That thread's accesses and locks go unseen for the
// rest of the run: its races are missed and other threads' accesses under a lock it takes are reported as
// races. This definition takes the place of the sanitizer's for the program and hands a clone that shares
// memory straight to the C library; any other clone goes on to the sanitizer as before.
#include <cstdarg>
#include <dlfcn.h>
#include <sched.h>
#include <sys/types.h>

namespace {

using Clone = int (*)(int (*)(void*), void*, int, void*, ...);

Clone Next(void* library) {
    return reinterpret_cast<Clone>(dlsym(library, "clone"));
}

} // namespace

extern "C" int clone(int (*function)(void*), void* stack, int flags, void* argument, ...) {
    // The optional arguments are passed on whether or not the caller gave them, as the C library reads
    // only those its flags name.
    va_list optional;
    va_start(optional, argument);
    auto* parentTid = va_arg(optional, pid_t*);
    auto* tls = va_arg(optional, void*);
    auto* childTid = va_arg(optional, pid_t*);
    va_end(optional);
    static const Clone sanitizer = Next(RTLD_NEXT);
    static const Clone library = Next(dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD));
    const Clone next = (flags & CLONE_VM) ? library : sanitizer;
    return next(function, stack, flags, argument, parentTid, tls, childTid);
}
