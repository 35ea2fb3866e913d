#include "pty_pair.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>

bool MakeModemRaw(int fd)
{
    termios settings;
    if (tcgetattr(fd, &settings) != 0)
        return false;
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&settings, B9600);
    cfsetospeed(&settings, B9600);
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

PtyPair::PtyPair()
{
    master_.Reset(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (master_.get() < 0) {
        Fail("posix_openpt");
        return;
    }
    if (grantpt(master_.get()) != 0 || unlockpt(master_.get()) != 0) {
        Fail("grantpt/unlockpt");
        return;
    }
    const char *name = ptsname(master_.get());
    if (name == nullptr) {
        Fail("ptsname");
        return;
    }
    slaveName_ = name;
}

bool PtyPair::Fail(const char *step)
{
    error_ = std::string(step) + ": " + strerror(errno);
    return false;
}

bool PtyPair::HoldSlave()
{
    slaveHold_.Reset(open(SlaveName(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (slaveHold_.get() < 0)
        return Fail(SlaveName());
    if (!MakeModemRaw(slaveHold_.get()))
        return Fail("tcsetattr");
    int flags = fcntl(master_.get(), F_GETFL);
    if (flags < 0 || fcntl(master_.get(), F_SETFL, flags | O_NONBLOCK) != 0)
        return Fail("fcntl");
    return true;
}

void PtyPair::Send(const std::string &text) const
{
    if (write(master_.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        abort();
}

void PtyPair::HangUp()
{
    master_.Reset();
    slaveHold_.Reset();
}

int PtyPair::PendingForSlave() const
{
    int pending = 0;
    if (slaveHold_.get() < 0 || ioctl(slaveHold_.get(), FIONREAD, &pending) != 0)
        return 0;
    return pending;
}
