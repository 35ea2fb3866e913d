// When an overlapped comm read or write ends, from the port's COMMTIMEOUTS.
// Pure arithmetic on millisecond times, so the rules can be tested with a
// fake clock; the I/O loop feeds it the monotonic clock. The one statement
// of the rules (posix/README.md points here):
//
//   ReadIntervalTimeout  total (mult*count+const)           the read ends
//   MAXDWORD             0, 0                               at once, with what is there (maybe 0)
//   MAXDWORD             mult MAXDWORD, 0<const<MAXDWORD    at the first byte, or after const
//   0                    0                                  when `count` bytes are in
//   I > 0                any                                I ms after the last byte, once one came
//   any                  T > 0                              T ms after ReadFile, maybe with 0 bytes
//
// and always at `count` bytes. A write ends when every byte has left the
// driver (TIOCOUTQ 0; CTS flow control or DSR may hold them), or
// WriteTotalTimeoutConstant + multiplier * count ms after WriteFile (no
// limit when both are 0). A read or write that times out succeeds with the
// bytes moved so far (a write's rest is discarded): Windows completes both
// with STATUS_TIMEOUT, a success status. A zero-length write ends at once.
#pragma once

#include <cstdint>

#include "win32_subset.h"

struct ReadTimeouts {
    bool atOnce = false;          // return what is there, never wait
    bool endAtFirstByte = false;  // the MAXDWORD / MAXDWORD / constant case
    uint64_t totalMs = 0;         // 0: no total limit
    uint64_t intervalMs = 0;      // 0: no interval limit
};

// Noted at ReadFile.
ReadTimeouts ReadTimeoutsFor(const COMMTIMEOUTS &timeouts, DWORD count);

// Noted at WriteFile; 0: no limit.
uint64_t WriteTotalFor(const COMMTIMEOUTS &timeouts, DWORD count);

// How far a request has come: times in ms, lastByteMs valid once done > 0.
struct IoProgress {
    uint64_t startMs;
    uint64_t lastByteMs;
    DWORD done;
    DWORD count;
};

// What a request does next: end now, or wait for the fd at most waitMs
// (kForever: no limit).
struct IoStep {
    bool ends;
    uint64_t waitMs;
};

IoStep NextReadStep(const ReadTimeouts &timeouts, const IoProgress &progress, uint64_t nowMs);
IoStep NextWriteStep(uint64_t totalMs, const IoProgress &progress, uint64_t nowMs);
