// Standard output as a plain handle, and the broken-pipe rule of both
// standard streams.
#pragma once

#include "kernel_objects.h"

// fd 1 behind the handle GetStdHandle gives. Writes block, as a redirected
// standard output does on Windows (a file or an anonymous pipe).
class StdStream : public KernelObject {
public:
    explicit StdStream(int fd) : fd_(fd) {}
    int fd() const { return fd_; }

private:
    int fd_;
};

// WriteFile on a standard stream: every byte, or FALSE with errno at the
// first failure (EPIPE when the reader is gone). No OVERLAPPED.
BOOL WriteStdStream(const StdStream &stream, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov);

// A reader that is gone makes a write fail with EPIPE instead of killing
// the process, as on Windows. Once per process.
void IgnoreBrokenPipe();
