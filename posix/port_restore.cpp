#include "port_restore.h"

#include <atomic>
#include <ctime>
#include <sys/ioctl.h>

#include "bounded_close.h"
#include "output_queue.h"
#include "stop_signals.h"

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
// bounded, and gives up after a few bounds. Never this thread: every thread
// blocks the stop signals while it has an entry busy (filling it in, or
// releasing its port), so a stop signal's handler cannot run in between.
void AwaitRelease(const RememberedPort &port)
{
    const timespec pause{0, 5000000L};
    for (int waited = 0; port.state == kBusy && waited < 4 * kCloseBoundMs; waited += 5)
        nanosleep(&pause, nullptr);
}

}  // namespace

void ReleaseRememberedPorts()
{
    StopSignalsHeld stops;  // for ExitProcess: a stop signal's handler has them blocked already
    for (RememberedPort &port : remembered) {
        AwaitRelease(port);  // an entry being filled in is then held
        int held = kHeld;
        if (port.state.compare_exchange_strong(held, kBusy)) {
            PutBackAndClose(port.fd, port.settingsAtOpen);
            port.state = kReleasedOnExit;
        }
    }
}

int RememberPort(int fd, const termios &settingsAtOpen)
{
    StopSignalsHeld stops;
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
    StopSignalsHeld stops;
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
