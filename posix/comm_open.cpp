// CreateFileA for comm ports: an exclusive, raw, non-blocking tty.
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "comm_port.h"
#include "fd_guard.h"

namespace {

// An ioctl a device does not implement (a pty has no modem lines).
bool NotImplemented(int error)
{
    return error == ENOTTY || error == EINVAL;
}

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
int MakeRaw(int fd)
{
    termios settings;
    if (tcgetattr(fd, &settings) != 0)
        return errno;
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &settings) == 0 ? 0 : errno;
}

HANDLE Fail(DWORD error)
{
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

}  // namespace

CommPort::~CommPort()
{
    // Our TIOCEXCL would otherwise outlive us on a pty whose master stays open.
    ioctl(fd_, TIOCNXCL);
    close(fd_);
}

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                   DWORD flags, HANDLE templateFile)
{
    (void)access;
    (void)share;  // always exclusive: a comm port cannot be shared on Windows either
    (void)sa;
    (void)templateFile;
    if (name == nullptr || name[0] == '\0')
        return Fail(ENOENT);
    // Only overlapped opens of existing devices are emulated.
    if (disposition != OPEN_EXISTING || (flags & FILE_FLAG_OVERLAPPED) == 0)
        return Fail(ERROR_INVALID_PARAMETER);
    FdGuard fd(open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0)
        return Fail(errno);
    if (!isatty(fd.get()))
        return Fail(ENOTTY);
    if (int error = Lock(fd.get()))
        return Fail(error);
    auto port = std::make_unique<CommPort>(fd.release());
    if (int error = ExcludeOpeners(port->fd()))
        return Fail(error);
    if (int error = MakeRaw(port->fd()))
        return Fail(error);
    return RegisterObject(std::move(port));
}
