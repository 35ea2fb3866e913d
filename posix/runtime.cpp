// Time and the last-error value.
#include <cerrno>
#include <ctime>
#include <unistd.h>

#include "debug_output.h"
#include "monotonic_clock.h"
#include "port_restore.h"
#include "win32_subset.h"

namespace {

thread_local DWORD lastError = 0;

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
    if (milliseconds != 0)
        WriteGatheredTextsBeforeWait();
    timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// Ends the process at once, as Windows does: no C++ clean-up runs. The
// ports are put back and closed first, as Windows releases what a process
// held; the kernel's own close at exit would wait on the driver.
void ExitProcess(UINT exitCode)
{
    ReleaseRememberedPorts();
    WriteGatheredTexts();
    _exit(static_cast<int>(exitCode));
}
