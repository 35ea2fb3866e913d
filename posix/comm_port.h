// An open comm port: its fd, its time-outs and its pending requests.
#pragma once

#include <cstdint>
#include <optional>
#include <termios.h>

#include "comm_timeouts.h"
#include "kernel_objects.h"

// One overlapped read or write, recorded by ReadFile/WriteFile and driven
// by the waits until it completes.
struct IoRequest {
    OVERLAPPED *ov;
    HANDLE event;               // as ov->hEvent was at the start
    char *readBuffer;           // a read's destination, or null
    const char *writeBuffer;    // a write's source, or null
    IoProgress progress;
    ReadTimeouts readTimeouts;  // reads
    uint64_t writeTotalMs;      // writes; 0: no limit
};

// An open file or device. Windows opens any existing one; the comm calls
// then fail on what is not a terminal.
class CommPort : public KernelObject {
public:
    // `found`: a terminal's settings at open, put back at its close; none
    // for what is no terminal.
    CommPort(int fd, std::optional<termios> found) : fd_(fd), found_(found) {}
    ~CommPort() override;
    CommPort(const CommPort &) = delete;
    CommPort &operator=(const CommPort &) = delete;

    int fd() const { return fd_; }
    bool terminal() const { return found_.has_value(); }

    COMMTIMEOUTS timeouts{};  // all 0 until set: reads wait for `count` bytes
    bool outxDsrFlow = false;  // hold output while DSR is low
    std::optional<IoRequest> read;
    std::optional<IoRequest> write;

private:
    int fd_;
    std::optional<termios> found_;
};

// The terminal behind `handle` for a comm call, or null with the last error
// set: ERROR_INVALID_HANDLE, or ERROR_INVALID_FUNCTION for a handle that is
// no terminal (what Windows' drivers answer for a non-serial device).
CommPort *FindTerminalOrFail(HANDLE handle);
