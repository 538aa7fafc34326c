#pragma once
// Included once by each test program's main. Only under ThreadSanitizer: Qt starts a child process
// with clone(CLONE_VM | CLONE_VFORK), so until it execs the child runs on the calling thread's memory
// and thread-local state, and the sanitizer's state of that thread is left damaged: every later
// report about that thread is spurious (it no longer sees the thread's locks). Test programs start
// children through a real fork() instead, which the sanitizer prepares for. Every other clone() is
// passed on unchanged.
#include "core/records/Runtime.h" // PV_TSAN_ENABLED

#ifdef PV_TSAN_ENABLED
#include <dlfcn.h>
#include <sched.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdarg>

extern "C" int clone(int (*fn)(void*), void* stack, int flags, void* arg, ...)
{
    va_list ap;
    va_start(ap, arg);
    void* parentTid = va_arg(ap, void*);
    void* tls = va_arg(ap, void*);
    void* childTid = va_arg(ap, void*);
    va_end(ap);
    constexpr int kVfork = CLONE_VM | CLONE_VFORK;
    if ((flags & kVfork) == kVfork && (flags & CLONE_THREAD) == 0) {
        const pid_t pid = fork();
        if (pid == 0)
            _exit(fn(arg));
        if (pid < 0)
            return -1;
        if ((flags & CLONE_PIDFD) != 0) {
            const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
            if (fd < 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
                return -1;
            }
            *static_cast<int*>(parentTid) = fd;
        }
        return pid;
    }
    using Clone = int (*)(int (*)(void*), void*, int, void*, ...);
    static const auto next = reinterpret_cast<Clone>(dlsym(RTLD_NEXT, "clone"));
    return next(fn, stack, flags, arg, parentTid, tls, childTid);
}
#endif
