#include "port_restore.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <sys/ioctl.h>

#include "debug_output.h"
#include "output_queue.h"

namespace {

// Read by a signal handler, so a fixed table and no locks. The program
// holds one port at a time; a port beyond the table is still restored at
// its close, only not on a signal.
struct RememberedPort {
    volatile sig_atomic_t inUse;
    int fd;
    termios found;
};

RememberedPort remembered[4];

const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Async-signal-safe: system calls only. Only output still queued in the
// driver is discarded (a pty queues none: what it took has left). Echo is
// never put back: a USB tty or UART starts with it on, and serial drivers
// keep a port's settings from one open to the next, so a port left echoing
// would send a modem's queued output straight back to it while the next
// run is still inside open(), before any program can go raw. Windows has
// no echo at all; ECHO and ECHONL are the flags that send anything, the
// other echo flags only shape what ECHO sends.
void PutBack(int fd, const termios &found)
{
    if (QueuedOutput(fd) > 0)
        tcflush(fd, TCOFLUSH);
    termios settings = found;
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
    tcsetattr(fd, TCSANOW, &settings);
    ioctl(fd, TIOCNXCL);
}

// Puts every remembered port back and writes the gathered traces, then
// lets the signal end the process as it would have without us.
void OnStopSignal(int signalNumber)
{
    RestoreRememberedPorts();
    WriteGatheredTextsOnSignal();
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);  // delivered once this handler returns
}

}  // namespace

void CatchStopSignals()
{
    static std::atomic<bool> installed{false};
    if (installed.exchange(true))
        return;
    for (int signalNumber : kStopSignals) {
        struct sigaction previous;
        if (sigaction(signalNumber, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN)
            continue;
        struct sigaction action;
        memset(&action, 0, sizeof action);
        action.sa_handler = OnStopSignal;
        sigfillset(&action.sa_mask);
        sigaction(signalNumber, &action, nullptr);
    }
}

void RestoreRememberedPorts()
{
    for (RememberedPort &port : remembered)
        if (port.inUse)
            PutBack(port.fd, port.found);
}

void RememberPort(int fd, const termios &found)
{
    CatchStopSignals();
    for (RememberedPort &port : remembered) {
        if (port.inUse)
            continue;
        port.fd = fd;
        port.found = found;
        // The handler must see the entry whole before it sees it in use.
        std::atomic_signal_fence(std::memory_order_seq_cst);
        port.inUse = 1;
        return;
    }
}

void RestorePort(int fd, const termios &found)
{
    // Put back before forgetting: a signal in between puts it back again, harmlessly.
    PutBack(fd, found);
    for (RememberedPort &port : remembered) {
        if (!port.inUse || port.fd != fd)
            continue;
        std::atomic_signal_fence(std::memory_order_seq_cst);
        port.inUse = 0;
        return;
    }
}
