// One AT command over a serial (COM) port.
#pragma once

#include "at_result.h"
#include "win32.h"

// Opens `portname` verbatim, configures it, writes `cmd` unchanged and reads
// the answer until the expected response `resp` (a regular expression) or
// an error line is seen, a transport call fails or `timeout` ms pass
// (0: no limit). Returns kAtSuccess, kAtFailure or kAtTimeout.
AtResult SerialAtCommand(const char *portname, const char *cmd, const char *resp, DWORD timeout);

// Where the bytes read from the port go besides recognition: to standard
// output (a run on one port), or nowhere (one of several run side by side,
// whose answers must not mix there).
enum class AnswerSink { StandardOutput, Nowhere };

// SerialAtCommand with the answer's bytes sent to `sink`.
AtResult SerialAtCommand(const char *portname, const char *cmd, const char *resp, DWORD timeout, AnswerSink sink);

// What the command's write is given (the port's write time-out): a run
// lasts up to this much more than its time limit.
const DWORD kWriteTotalTimeoutMs = 5000;

// Applies the time-outs and line settings: 0 on success, -1 on failure.
int ConfigSerialPort(HANDLE port);

// One overlapped write; returns the count the write reported as written.
DWORD WriteSerialPort(HANDLE port, const char *data, DWORD length);
