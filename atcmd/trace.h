// Progress and error messages, sent to the debugger output channel.
#pragma once

// Formats printf-style into a 512-byte buffer and hands the text, unchanged,
// to OutputDebugStringA. An over-long text is cut to fit the buffer, keeping
// the line end its format ends with.
void DebugTrace(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// While one lives, the traces of its thread begin with "<port>: ", so that
// texts from transactions run side by side say which port each is about.
// A run on one port names none: its texts stay exactly as they are.
class TracedPort {
public:
    explicit TracedPort(const char *portName);
    ~TracedPort();
    TracedPort(const TracedPort &) = delete;
    TracedPort &operator=(const TracedPort &) = delete;
};

// Traces the failed condition with its source file and line, then ends the
// process with exit code -1.
[[noreturn]] void FatalCheckFailed(const char *condition, const char *file, int line);

#define FATAL_CHECK(condition) \
    ((condition) ? (void)0 : FatalCheckFailed(#condition, __FILE__, __LINE__))
