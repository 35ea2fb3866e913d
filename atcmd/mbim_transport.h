// One AT command through the MBIM port library beside the program.
#pragma once

#include "at_result.h"
#include "win32.h"

// Loads MbimPortAPI.dll from the program's own folder, opens it, sends
// `cmd` without its "\r\n" ending and polls every 500 ms for an answer
// until `timeout` ms pass (0: no limit); closes and unloads on every path.
// `resp` only appears in the trace; any answer counts. Returns kAtSuccess
// or kAtFailure, never kAtTimeout.
AtResult MbimAtCommand(const char *cmd, const char *resp, DWORD timeout);
