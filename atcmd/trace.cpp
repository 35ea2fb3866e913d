#include "trace.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "win32.h"

namespace {
const int kTraceBufferSize = 512;
// The port this thread's transaction runs on, when several run at once.
thread_local const char *tracedPort = nullptr;
}

TracedPort::TracedPort(const char *portName)
{
    tracedPort = portName;
}

TracedPort::~TracedPort()
{
    tracedPort = nullptr;
}

void DebugTrace(const char *format, ...)
{
    char buffer[kTraceBufferSize];
    int prefix = tracedPort == nullptr ? 0 : snprintf(buffer, sizeof buffer, "%s: ", tracedPort);
    prefix = prefix < 0 ? 0 : std::min(prefix, kTraceBufferSize / 2);
    va_list args;
    va_start(args, format);
    int written = vsnprintf(buffer + prefix, sizeof buffer - prefix, format, args);
    va_end(args);
    if (written < 0) {
        buffer[prefix] = '\0';
        written = 0;
    }
    written += prefix;
    // Some C runtimes leave a cut text unterminated.
    buffer[kTraceBufferSize - 1] = '\0';
    // A cut text keeps its line end, so the next trace starts a line of its own.
    size_t formatLength = strlen(format);
    if (written >= kTraceBufferSize && formatLength > 0 && format[formatLength - 1] == '\n')
        buffer[kTraceBufferSize - 2] = '\n';
    OutputDebugStringA(buffer);
}

void FatalCheckFailed(const char *condition, const char *file, int line)
{
    DebugTrace("assertion failed: %s, file %s, line %d\n", condition, file, line);
    // Not abort(): in a program without a console the C runtime may show a
    // message box, which would hold an unattended script. -1 is a failure.
    ExitProcess(static_cast<UINT>(-1));
}
