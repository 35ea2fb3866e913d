#include "comm_timeouts.h"

#include <algorithm>

#include "monotonic_clock.h"

namespace {

uint64_t TotalFor(DWORD multiplier, DWORD constant, DWORD count)
{
    return static_cast<uint64_t>(multiplier) * count + constant;
}

// Shortens `step` to end at `endMs`, or ends it when that time has come.
void LimitStep(IoStep &step, uint64_t endMs, uint64_t nowMs)
{
    if (nowMs >= endMs)
        step.ends = true;
    else
        step.waitMs = std::min(step.waitMs, endMs - nowMs);
}

}  // namespace

ReadTimeouts ReadTimeoutsFor(const COMMTIMEOUTS &timeouts, DWORD count)
{
    ReadTimeouts rules;
    DWORD interval = timeouts.ReadIntervalTimeout;
    DWORD multiplier = timeouts.ReadTotalTimeoutMultiplier;
    DWORD constant = timeouts.ReadTotalTimeoutConstant;
    if (interval == MAXDWORD && multiplier == 0 && constant == 0) {
        rules.atOnce = true;
        return rules;
    }
    if (interval == MAXDWORD && multiplier == MAXDWORD && constant != 0 && constant != MAXDWORD) {
        rules.endAtFirstByte = true;
        rules.totalMs = constant;
        return rules;
    }
    rules.totalMs = TotalFor(multiplier, constant, count);
    rules.intervalMs = interval;
    return rules;
}

uint64_t WriteTotalFor(const COMMTIMEOUTS &timeouts, DWORD count)
{
    return TotalFor(timeouts.WriteTotalTimeoutMultiplier, timeouts.WriteTotalTimeoutConstant, count);
}

IoStep NextReadStep(const ReadTimeouts &timeouts, const IoProgress &progress, uint64_t nowMs)
{
    IoStep step{false, kForever};
    if (progress.done >= progress.count || timeouts.atOnce ||
        (timeouts.endAtFirstByte && progress.done > 0)) {
        step.ends = true;
        return step;
    }
    if (timeouts.totalMs != 0)
        LimitStep(step, progress.startMs + timeouts.totalMs, nowMs);
    if (timeouts.intervalMs != 0 && progress.done > 0)
        LimitStep(step, progress.lastByteMs + timeouts.intervalMs, nowMs);
    return step;
}

IoStep NextWriteStep(uint64_t totalMs, const IoProgress &progress, uint64_t nowMs)
{
    IoStep step{progress.done >= progress.count, kForever};
    if (!step.ends && totalMs != 0)
        LimitStep(step, progress.startMs + totalMs, nowMs);
    return step;
}
