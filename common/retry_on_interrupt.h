// One rule for a system call that a signal interrupted before it did
// anything (-1 with EINTR): it is made again. POSIX only: the stand-in and
// the tools that drive a tty.
#pragma once

#include <cerrno>

template <class Call> auto RetryOnInterrupt(Call call) -> decltype(call())
{
    decltype(call()) result;
    do {
        result = call();
    } while (result == -1 && errno == EINTR);
    return result;
}
