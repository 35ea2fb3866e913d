#include "port_restore.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <ctime>
#include <sys/ioctl.h>

#include "bounded_close.h"
#include "debug_output.h"
#include "output_queue.h"

namespace {

// A table entry's state. Held: an open port. Busy: one thread is filling
// it in, or putting its port back and closing it (at the close or on a way
// out). Released on exit: closed by a way out; the process is ending, and
// the entry is never used again.
enum EntryState { kFree, kHeld, kBusy, kReleasedOnExit };

// Read by a signal handler, so a fixed table and no locks; lock-free
// atomics are async-signal-safe. A run holds one port, or with /list one a
// listed port; a port beyond the table is still released at its close,
// only not on a way out.
struct RememberedPort {
    std::atomic<int> state;
    int fd;
    termios settingsAtOpen;
};

RememberedPort remembered[64];

const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Async-signal-safe: system calls only. Only output still queued in the
// driver is discarded (a pty queues none: what it took has left). Echo is
// never put back: a USB tty or UART starts with it on, and serial drivers
// keep a port's settings from one open to the next, so a port left echoing
// would send a modem's queued output straight back to it while the next
// run is still inside open(), before any program can go raw. Windows has
// no echo at all; ECHO and ECHONL are the flags that send anything, the
// other echo flags only shape what ECHO sends.
void PutBackAndClose(int fd, const termios &settingsAtOpen)
{
    if (QueuedOutput(fd) > 0)
        tcflush(fd, TCOFLUSH);
    termios settings = settingsAtOpen;
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
    tcsetattr(fd, TCSANOW, &settings);
    ioctl(fd, TIOCNXCL);
    CloseWithinBound(fd);
}

// Another thread has the entry: the way out waits for it, as its close is
// bounded (the stop signals are blocked on a thread that releases a port,
// so that is never this one), and gives up after a few bounds.
void AwaitRelease(const RememberedPort &port)
{
    const timespec pause{0, 5000000L};
    for (int waited = 0; port.state == kBusy && waited < 4 * kCloseBoundMs; waited += 5)
        nanosleep(&pause, nullptr);
}

// Puts every remembered port back and closes it, writes the gathered
// traces, then lets the signal end the process as it would have without us.
void OnStopSignal(int signalNumber)
{
    ReleaseRememberedPorts();
    WriteGatheredTextsOnSignal();
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);  // delivered once this handler returns
}

// The stop signals, blocked on this thread while it releases a port, so
// that none ends the process between the entry's claim and the close.
class StopSignalsHeld {
public:
    StopSignalsHeld()
    {
        sigset_t stops;
        sigemptyset(&stops);
        for (int signalNumber : kStopSignals)
            sigaddset(&stops, signalNumber);
        pthread_sigmask(SIG_BLOCK, &stops, &mask_);
    }
    ~StopSignalsHeld() { pthread_sigmask(SIG_SETMASK, &mask_, nullptr); }
    StopSignalsHeld(const StopSignalsHeld &) = delete;
    StopSignalsHeld &operator=(const StopSignalsHeld &) = delete;

private:
    sigset_t mask_;
};

}  // namespace

void CatchStopSignals()
{
    static std::atomic<bool> installed{false};
    if (installed.exchange(true))
        return;
    PrepareBoundedClose();
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

void ReleaseRememberedPorts()
{
    for (RememberedPort &port : remembered) {
        int held = kHeld;
        if (port.state.compare_exchange_strong(held, kBusy)) {
            PutBackAndClose(port.fd, port.settingsAtOpen);
            port.state = kReleasedOnExit;
        } else if (held == kBusy) {
            AwaitRelease(port);
        }
    }
}

int RememberPort(int fd, const termios &settingsAtOpen)
{
    CatchStopSignals();
    for (int i = 0; i < static_cast<int>(sizeof remembered / sizeof remembered[0]); ++i) {
        RememberedPort &port = remembered[i];
        int free = kFree;
        if (!port.state.compare_exchange_strong(free, kBusy))
            continue;
        port.fd = fd;
        port.settingsAtOpen = settingsAtOpen;
        // The handler must see the entry whole before it sees it held.
        port.state = kHeld;
        return i;
    }
    return -1;
}

void ReleasePort(int remembered, int fd, const termios &settingsAtOpen)
{
    StopSignalsHeld held;
    if (remembered < 0) {
        PutBackAndClose(fd, settingsAtOpen);
        return;
    }
    RememberedPort &port = ::remembered[remembered];
    int expected = kHeld;
    if (!port.state.compare_exchange_strong(expected, kBusy))
        return;  // a way out has released it
    PutBackAndClose(fd, settingsAtOpen);
    port.state = kFree;
}
