// A time limit in tick-count milliseconds: a transaction's, or how long a
// writer is given to finish.
#pragma once

#include "win32.h"

// Counts the ticks elapsed since the start (unsigned subtraction), so the
// limit holds when the 32-bit tick count wraps after 49.7 days.
class Deadline {
public:
    // limitMs 0 means no limit.
    Deadline(DWORD startTick, DWORD limitMs) : start_(startTick), limit_(limitMs) {}

    bool Reached(DWORD nowTick) const { return limit_ != 0 && nowTick - start_ >= limit_; }

    // What is left for a wait: INFINITE without a limit, 0 once reached.
    DWORD Remaining(DWORD nowTick) const
    {
        if (limit_ == 0)
            return INFINITE;
        DWORD elapsed = nowTick - start_;
        return elapsed >= limit_ ? 0 : limit_ - elapsed;
    }

private:
    DWORD start_;
    DWORD limit_;
};
