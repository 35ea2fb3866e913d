// Owns a Win32 handle (a port, an event, a process or a thread) and closes it
// when it goes out of scope.
#pragma once

#include "win32.h"

class HandleGuard {
public:
    explicit HandleGuard(HANDLE handle) : handle_(handle) {}
    ~HandleGuard()
    {
        if (handle_ != NULL && handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    HandleGuard(const HandleGuard &) = delete;
    HandleGuard &operator=(const HandleGuard &) = delete;

    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};
