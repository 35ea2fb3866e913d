// Milliseconds on the monotonic clock: the one time base of waits and time-outs.
#pragma once

#include <cstdint>
#include <ctime>

// A time that never comes: a wait or request without a limit.
const uint64_t kForever = UINT64_MAX;

inline uint64_t MonotonicMs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

// The absolute time a wait of `milliseconds` from now ends; INFINITE never ends.
inline uint64_t LimitAfter(uint32_t milliseconds)
{
    return milliseconds == 0xFFFFFFFFu ? kForever : MonotonicMs() + milliseconds;
}
