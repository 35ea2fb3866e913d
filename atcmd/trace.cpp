#include "trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "win32.h"

namespace {
const int kTraceBufferSize = 512;
}

void DebugTrace(const char *format, ...)
{
    char buffer[kTraceBufferSize];
    va_list args;
    va_start(args, format);
    int written = vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (written < 0)
        buffer[0] = '\0';
    // Some C runtimes leave a cut text unterminated.
    buffer[kTraceBufferSize - 1] = '\0';
    OutputDebugStringA(buffer);
}

void FatalCheckFailed(const char *condition, const char *file, int line)
{
    DebugTrace("assertion failed: %s, file %s, line %d\n", condition, file, line);
    abort();
}
