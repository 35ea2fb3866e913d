#include "pty_pair.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>

namespace {

std::string Failure(const char *step)
{
    return std::string(step) + ": " + strerror(errno);
}

// Raw, 8 data bits, no echo: nothing of the modem's own between the bytes.
bool MakeRaw(int fd)
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

}  // namespace

bool PtyPair::Open(std::string &error)
{
    master_.Reset(posix_openpt(O_RDWR | O_NOCTTY));
    if (master_.get() < 0) {
        error = Failure("posix_openpt");
        return false;
    }
    if (grantpt(master_.get()) != 0 || unlockpt(master_.get()) != 0) {
        error = Failure("grantpt/unlockpt");
        return false;
    }
    const char *name = ptsname(master_.get());
    if (name == nullptr) {
        error = Failure("ptsname");
        return false;
    }
    slavePath_ = name;
    slaveHold_.Reset(open(name, O_RDWR | O_NOCTTY | O_NONBLOCK));
    if (slaveHold_.get() < 0) {
        error = Failure(name);
        return false;
    }
    if (!MakeRaw(slaveHold_.get())) {
        error = Failure("tcsetattr");
        return false;
    }
    int flags = fcntl(master_.get(), F_GETFL);
    if (flags < 0 || fcntl(master_.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        error = Failure("fcntl");
        return false;
    }
    return true;
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
