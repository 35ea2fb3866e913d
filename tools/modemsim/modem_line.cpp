#include "modem_line.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>

#include "fd_guard.h"
#include "pty_pair.h"

namespace {

class PtyLine : public ModemLine {
public:
    int Fd() const override { return pty_.Master(); }
    std::string PortName() const override { return pty_.SlaveName(); }
    int Pending() const override { return pty_.PendingForSlave(); }
    void HangUp() override { pty_.HangUp(); }
    PtyPair &pty() { return pty_; }

private:
    PtyPair pty_;
};

class TtyLine : public ModemLine {
public:
    TtyLine(const std::string &path, int fd) : path_(path), fd_(fd) {}
    int Fd() const override { return fd_.get(); }
    std::string PortName() const override { return path_; }
    // What the driver has not sent yet; whether the far side read it, a
    // real line cannot tell.
    int Pending() const override
    {
        int queued = 0;
        return fd_.get() >= 0 && ioctl(fd_.get(), TIOCOUTQ, &queued) == 0 ? queued : 0;
    }
    void HangUp() override { fd_.Reset(); }

private:
    std::string path_;
    FdGuard fd_;
};

}  // namespace

std::unique_ptr<ModemLine> OpenPtyLine(std::string &error)
{
    auto line = std::make_unique<PtyLine>();
    if (!line->pty().Error().empty() || !line->pty().HoldSlave()) {
        error = line->pty().Error();
        return nullptr;
    }
    return line;
}

std::unique_ptr<ModemLine> OpenTtyLine(const std::string &path, std::string &error)
{
    FdGuard fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0 || !MakeModemRaw(fd.get())) {
        error = path + ": " + strerror(errno);
        return nullptr;
    }
    return std::make_unique<TtyLine>(path, fd.release());
}
