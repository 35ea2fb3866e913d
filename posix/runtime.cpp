// Time, the last-error value and debug output.
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <unistd.h>

#include "monotonic_clock.h"
#include "port_restore.h"
#include "std_streams.h"
#include "win32_subset.h"

namespace {

thread_local DWORD lastError = 0;

bool WritableAtOnce(int fd)
{
    pollfd entry{fd, POLLOUT, 0};
    int ready;
    do {
        ready = poll(&entry, 1, 0);
    } while (ready < 0 && errno == EINTR);
    return ready == 1 && (entry.revents & POLLOUT) != 0;
}

// One write, resumed only when a signal came before any byte went.
size_t WriteOnce(int fd, const char *bytes, size_t count)
{
    ssize_t put;
    do {
        put = write(fd, bytes, count);
    } while (put < 0 && errno == EINTR);
    return put < 0 ? 0 : static_cast<size_t>(put);
}

}  // namespace

DWORD GetLastError(void)
{
    return lastError;
}

void SetLastError(DWORD error)
{
    lastError = error;
}

DWORD GetTickCount(void)
{
    return static_cast<DWORD>(MonotonicMs());
}

void Sleep(DWORD milliseconds)
{
    timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// The debugger channel is standard error: the text as it is, nothing added.
// Debug output nobody takes is dropped, as on Windows, where a text is
// lost when no debugger listens: a closed standard error (EPIPE) neither
// kills nor stops the run, and a reader that stopped reading never holds
// it. The file's flags stay as they are (O_NONBLOCK would change them for
// the shell that shares it), so each piece is written only when poll says
// it can go at once: a pipe then takes up to PIPE_BUF bytes whole, and a
// file or a reading terminal takes everything.
void OutputDebugStringA(LPCSTR text)
{
    IgnoreBrokenPipe();
    if (text == nullptr)
        return;
    size_t left = strlen(text);
    while (left > 0) {
        size_t piece = left < PIPE_BUF ? left : PIPE_BUF;
        if (!WritableAtOnce(STDERR_FILENO) || WriteOnce(STDERR_FILENO, text, piece) != piece)
            return;  // the rest is dropped
        text += piece;
        left -= piece;
    }
}

// Ends the process at once, as Windows does: no C++ clean-up runs. The
// ports are put back first, as Windows releases what a process held.
void ExitProcess(UINT exitCode)
{
    RestoreRememberedPorts();
    _exit(static_cast<int>(exitCode));
}
