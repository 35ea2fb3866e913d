// Standard output as a plain handle. A reader that is gone fails a write
// with EPIPE (SIGPIPE is ignored from the process's start: process_setup.cpp).
#pragma once

#include "kernel_objects.h"

// fd 1 behind the handle GetStdHandle gives. Writes block, as a redirected
// standard output does on Windows (a file or an anonymous pipe).
class StandardOutput : public KernelObject {
public:
    static const ObjectType kType = ObjectType::StandardOutput;

    explicit StandardOutput(int fd) : KernelObject(kType), fd_(fd) {}

    // WriteFile: every byte, or FALSE with errno at the first failure
    // (EPIPE when the reader is gone). No OVERLAPPED.
    BOOL Write(LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov) override;
    DWORD FileType() const override;

private:
    const int fd_;
};
