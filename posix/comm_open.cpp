// CreateFileA for comm ports: an exclusive, raw, non-blocking tty.
#include <cerrno>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "comm_port.h"
#include "failure.h"
#include "fd_guard.h"

namespace {

// Windows' no-sharing open. TIOCEXCL keeps out later open() calls, but not
// those of a process with CAP_SYS_ADMIN, nor one already open; flock is
// what other serial tools check, and it binds root too. Both, then: flock
// first, so a refused opener never touches the holder's TIOCEXCL.
int Lock(int fd)
{
    return flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno == EWOULDBLOCK ? EBUSY : errno;
}

int ExcludeOpeners(int fd)
{
    return ioctl(fd, TIOCEXCL) == 0 || NotImplemented(errno) ? 0 : errno;
}

// Raw bytes, no echo or line editing, carrier ignored (Windows does not
// hang up on DCD). VMIN=VTIME=0: the time-outs are kept by poll(), never
// by VTIME, which a non-blocking fd ignores anyway.
int MakeRaw(int fd, termios settings)
{
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &settings) == 0 ? 0 : errno;
}

}  // namespace

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                   DWORD flags, HANDLE templateFile)
{
    (void)access;
    (void)share;  // always exclusive: a comm port cannot be shared on Windows either
    (void)sa;
    (void)templateFile;
    if (name == nullptr || name[0] == '\0')
        return Fail(ENOENT, INVALID_HANDLE_VALUE);
    // Only overlapped opens of existing devices are emulated.
    if (disposition != OPEN_EXISTING || (flags & FILE_FLAG_OVERLAPPED) == 0)
        return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    FdGuard fd(open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0)
        return Fail(errno, INVALID_HANDLE_VALUE);
    if (int error = Lock(fd.get()))
        return Fail(error, INVALID_HANDLE_VALUE);
    // How a cancel on one thread wakes a wait on the port on another.
    FdGuard wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (wake.get() < 0)
        return Fail(errno, INVALID_HANDLE_VALUE);
    // Like Windows, any existing file or device opens; the comm calls then
    // fail on one that is no terminal.
    termios found;
    if (tcgetattr(fd.get(), &found) != 0) {
        if (errno != ENOTTY)
            return Fail(errno, INVALID_HANDLE_VALUE);
        return RegisterObject(std::make_shared<CommPort>(fd.release(), wake.release(), std::nullopt));
    }
    auto port = std::make_shared<CommPort>(fd.release(), wake.release(), found);
    // Raw before anything else: a modem's queued output arrives the moment
    // the port opens, and while the line discipline echoes it goes back to
    // the modem (Windows' drivers never echo). What comes during open()
    // itself only a port that opens with echo off is spared: serial drivers
    // keep a port's settings from one open to the next, and our close
    // leaves echo off (ReleasePort).
    if (int error = MakeRaw(port->fd(), found))
        return Fail(error, INVALID_HANDLE_VALUE);
    if (int error = ExcludeOpeners(port->fd()))
        return Fail(error, INVALID_HANDLE_VALUE);
    return RegisterObject(std::move(port));
}
