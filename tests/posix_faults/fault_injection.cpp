#include "fault_injection.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <new>
#include <poll.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <termios.h>
#include <ctime>
#include <unistd.h>

struct Fault {
    bool armed = false;
    SystemCall call = SystemCall::Read;
    int fd = -1;               // -1: any
    int error = 0;
    unsigned long request = 0;  // 0: any
    int result = -1;            // -1: fail with error
    int times = -1;             // -1: no end
    int holdMs = 0;             // made for real, then held this long
    int heldFirstMs = 0;        // held this long, then made
    std::atomic<int> hits{0};   // read by a test's other thread
};

namespace {

// A few faults may be armed at once, one per call.
Fault faults[4];

// The fault that changes this call, or null; errno is set for a failure.
Fault *Hit(SystemCall call, int fd, unsigned long request = 0)
{
    for (Fault &fault : faults) {
        if (!fault.armed || fault.call != call || (fault.fd != -1 && fault.fd != fd) ||
            (fault.request != 0 && fault.request != request) || fault.hits == fault.times)
            continue;
        ++fault.hits;
        if (fault.result < 0)
            errno = fault.error;
        return &fault;
    }
    return nullptr;
}

Fault &FreeSlot()
{
    for (Fault &fault : faults)
        if (!fault.armed)
            return fault;
    abort();
}

// Sleeps `ms`, as a call that waits in the kernel; false when a signal
// handler ended the sleep first.
bool Held(int ms)
{
    timespec hold{ms / 1000, (ms % 1000) * 1000000L};
    return nanosleep(&hold, nullptr) == 0;
}

// The call as `fault` changes it: made for real when there is none; the
// fault's own result; or held and made, in the order the fault says.
template <class Call> auto Made(const Fault *fault, Call real) -> decltype(real())
{
    if (fault == nullptr)
        return real();
    if (fault->heldFirstMs > 0) {
        if (!Held(fault->heldFirstMs)) {
            errno = EINTR;
            return -1;
        }
        return real();
    }
    if (fault->holdMs == 0)
        return fault->result;
    auto result = real();
    Held(fault->holdMs);
    return result;
}

}  // namespace

InjectedFault::InjectedFault(SystemCall call, int error) : fault_(FreeSlot())
{
    new (&fault_) Fault();  // as declared: an atomic cannot be assigned
    fault_.armed = true;
    fault_.call = call;
    fault_.error = error;
}

InjectedFault &InjectedFault::OnFd(int fd)
{
    fault_.fd = fd;
    return *this;
}

InjectedFault &InjectedFault::ForRequest(unsigned long request)
{
    fault_.request = request;
    return *this;
}

InjectedFault &InjectedFault::Times(int times)
{
    fault_.times = times;
    return *this;
}

InjectedFault &InjectedFault::Succeeding(int result)
{
    fault_.result = result;
    return *this;
}

InjectedFault &InjectedFault::Holding(int ms)
{
    fault_.holdMs = ms;
    return *this;
}

InjectedFault &InjectedFault::HeldFirst(int ms)
{
    fault_.heldFirstMs = ms;
    return *this;
}

InjectedFault::~InjectedFault()
{
    fault_.armed = false;
}

int InjectedFault::Hits() const
{
    return fault_.hits;
}

extern "C" {

int __real_tcgetattr(int fd, termios *settings);
int __real_tcsetattr(int fd, int when, const termios *settings);
int __real_tcflush(int fd, int queue);
int __real_ioctl(int fd, unsigned long request, ...);
int __real_poll(pollfd *fds, nfds_t count, int timeout);
ssize_t __real_read(int fd, void *buffer, size_t count);
ssize_t __real_write(int fd, const void *buffer, size_t count);
ssize_t __real_readlink(const char *path, char *buffer, size_t size);
ssize_t __real_readlinkat(int dir, const char *path, char *buffer, size_t size);
int __real_fstatat(int dir, const char *path, struct stat *status, int flags);
int __real_close(int fd);

int __wrap_tcgetattr(int fd, termios *settings)
{
    Fault *fault = Hit(SystemCall::Tcgetattr, fd);
    return fault ? fault->result : __real_tcgetattr(fd, settings);
}

int __wrap_tcsetattr(int fd, int when, const termios *settings)
{
    Fault *fault = Hit(SystemCall::Tcsetattr, fd);
    return fault ? fault->result : __real_tcsetattr(fd, when, settings);
}

int __wrap_tcflush(int fd, int queue)
{
    Fault *fault = Hit(SystemCall::Tcflush, fd);
    return fault ? fault->result : __real_tcflush(fd, queue);
}

// Every ioctl the stand-in makes passes at most one pointer.
int __wrap_ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void *argument = va_arg(args, void *);
    va_end(args);
    Fault *fault = Hit(SystemCall::Ioctl, fd, request);
    if (fault == nullptr)
        return __real_ioctl(fd, request, argument);
    if (fault->result < 0)
        return -1;
    *static_cast<int *>(argument) = fault->result;
    return 0;
}

int __wrap_poll(pollfd *fds, nfds_t count, int timeout)
{
    Fault *fault = Hit(SystemCall::Poll, count > 0 ? fds[0].fd : -1);
    return fault ? fault->result : __real_poll(fds, count, timeout);
}

ssize_t __wrap_read(int fd, void *buffer, size_t count)
{
    Fault *fault = Hit(SystemCall::Read, fd);
    return fault ? fault->result : __real_read(fd, buffer, count);
}

ssize_t __wrap_write(int fd, const void *buffer, size_t count)
{
    return Made(Hit(SystemCall::Write, fd), [&] { return __real_write(fd, buffer, count); });
}

ssize_t __wrap_readlink(const char *path, char *buffer, size_t size)
{
    Fault *fault = Hit(SystemCall::Readlink, -1);
    return fault ? fault->result : __real_readlink(path, buffer, size);
}

ssize_t __wrap_readlinkat(int dir, const char *path, char *buffer, size_t size)
{
    return Made(Hit(SystemCall::Readlink, dir), [&] { return __real_readlinkat(dir, path, buffer, size); });
}

// A held stat sleeps as one on a hung NFS or FUSE mount does.
int __wrap_fstatat(int dir, const char *path, struct stat *status, int flags)
{
    return Made(Hit(SystemCall::Stat, dir), [&] { return __real_fstatat(dir, path, status, flags); });
}

// A held close sleeps as tty_wait_until_sent does: interruptibly.
int __wrap_close(int fd)
{
    Fault *fault = Hit(SystemCall::Close, fd);
    if (fault == nullptr || fault->holdMs == 0)
        return fault ? fault->result : __real_close(fd);
    __real_close(fd);
    return Held(fault->holdMs) ? 0 : -1;
}

}  // extern "C"
