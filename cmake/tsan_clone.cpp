// Linked into every executable of a ThreadSanitizer build. QProcess starts a
// child with a vfork-like clone(CLONE_VM | CLONE_VFORK); the runtime's clone
// interceptor treats it as a fork, detaches the parent's thread state from
// inside the child and then aborts in the parent ("CHECK failed ...
// !thr->slot"). Such a child shares the parent's memory and only execs, so it
// goes straight to libc; any other clone keeps the interceptor.
#include <cstdarg>
#include <dlfcn.h>
#include <sched.h>
#include <sys/types.h>

extern "C" int __interceptor_clone(int (*fn)(void*), void* stack, int flags, void* arg, pid_t* parentTid,
                                   void* tls, pid_t* childTid);

extern "C" int clone(int (*fn)(void*), void* stack, int flags, void* arg, ...) {
    va_list rest;
    va_start(rest, arg);
    auto* parentTid = va_arg(rest, pid_t*);
    auto* tls = va_arg(rest, void*);
    auto* childTid = va_arg(rest, pid_t*);
    va_end(rest);
    if (flags & CLONE_VM) {
        using LibcClone = int (*)(int (*)(void*), void*, int, void*, ...);
        static const auto libcClone = reinterpret_cast<LibcClone>(dlsym(RTLD_NEXT, "clone"));
        return libcClone(fn, stack, flags, arg, parentTid, tls, childTid);
    }
    return __interceptor_clone(fn, stack, flags, arg, parentTid, tls, childTid);
}
