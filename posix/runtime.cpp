// Time, the last-error value and debug output.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <unistd.h>

#include "monotonic_clock.h"
#include "port_restore.h"
#include "win32_posix.h"

namespace {
thread_local DWORD lastError = 0;
}

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
// Debug output nobody takes is dropped, as on Windows: a closed standard
// error (EPIPE) neither kills nor stops the run.
void OutputDebugStringA(LPCSTR text)
{
    static const bool brokenPipeIgnored = signal(SIGPIPE, SIG_IGN) != SIG_ERR;
    (void)brokenPipeIgnored;
    if (text == nullptr)
        return;
    size_t left = strlen(text);
    while (left > 0) {
        ssize_t put = write(STDERR_FILENO, text, left);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return;
        text += put;
        left -= static_cast<size_t>(put);
    }
}

// Ends the process at once, as Windows does: no C++ clean-up runs. The
// ports are put back first, as Windows releases what a process held.
void ExitProcess(UINT exitCode)
{
    RestoreRememberedPorts();
    _exit(static_cast<int>(exitCode));
}
