// A standard stream pointed elsewhere for a while, for the tests of what
// the stand-in writes there.
#pragma once

#include <unistd.h>

#include "fd_guard.h"

// `fd` stands in for the standard stream `stream` while this lives; then the
// stream is put back, also when an assertion ends the test early.
class Redirected {
public:
    Redirected(int stream, int fd) : stream_(stream), saved_(dup(stream))
    {
        dup2(fd, stream);
    }
    ~Redirected()
    {
        dup2(saved_.get(), stream_);
    }
    Redirected(const Redirected &) = delete;
    Redirected &operator=(const Redirected &) = delete;

private:
    int stream_;
    FdGuard saved_;
};
