// One AT command over a serial (COM) port.
#pragma once

#include "at_result.h"
#include "win32.h"

// Opens `portname` verbatim, configures it, writes `cmd` unchanged and reads
// the answer until the expected response `resp` (a regular expression) or
// an error line is seen, a transport call fails or `timeout` ms pass
// (0: no limit). Returns kAtSuccess, kAtFailure or kAtTimeout.
AtResult SerialAtCommand(const char *portname, const char *cmd, const char *resp, DWORD timeout);

// Applies the time-outs and line settings: 0 on success, -1 on failure.
int ConfigSerialPort(HANDLE port);

// One overlapped write; returns the count the write reported as written.
DWORD WriteSerialPort(HANDLE port, const char *data, DWORD length);
