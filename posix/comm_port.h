// An open comm port: its fd, its time-outs and its pending requests.
#pragma once

#include <cstdint>
#include <optional>

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

class CommPort : public KernelObject {
public:
    explicit CommPort(int fd) : fd_(fd) {}
    ~CommPort() override;
    CommPort(const CommPort &) = delete;
    CommPort &operator=(const CommPort &) = delete;

    int fd() const { return fd_; }

    COMMTIMEOUTS timeouts{};  // all 0 until set: reads wait for `count` bytes
    std::optional<IoRequest> read;
    std::optional<IoRequest> write;

private:
    int fd_;
};
