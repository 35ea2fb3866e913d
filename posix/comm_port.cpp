// A comm port's life: its making, its release at the last reference; its
// I/O is in overlapped_io.cpp, its line settings in comm_state.cpp.
#include <unistd.h>

#include "comm_port.h"
#include "failure.h"
#include "port_restore.h"

CommPort::CommPort(int fd, int wake, std::optional<termios> settingsAtOpen)
    : KernelObject(kType), fd_(fd), wake_(wake), settingsAtOpen_(settingsAtOpen),
      remembered_(settingsAtOpen ? RememberPort(fd, *settingsAtOpen) : -1)
{
}

CommPort::~CommPort()
{
    // Our TIOCEXCL and settings would otherwise outlive us (on a pty whose
    // master stays open, or the user's own terminal), and a close with
    // output a frozen modem never takes would wait for the closing wait.
    if (settingsAtOpen_)
        ReleasePort(remembered_, fd_, *settingsAtOpen_);
    else
        close(fd_);
    close(wake_);
}

std::shared_ptr<CommPort> ReferenceTerminal(HANDLE handle)
{
    std::shared_ptr<CommPort> port = Reference<CommPort>(handle);
    if (port != nullptr && !port->terminal())
        return Fail(ERROR_INVALID_FUNCTION, nullptr);
    return port;
}
