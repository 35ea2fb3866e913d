// One AT command through the MBIM port library beside the program.
#pragma once

#include "at_result.h"
#include "win32.h"

// Sends `cmd` through MbimPortAPI.dll and polls for an answer until
// `timeout` ms pass (0: no limit). `resp` only appears in the trace; any
// answer counts. Returns kAtSuccess or kAtFailure, never kAtTimeout.
AtResult MbimAtCommand(const char *cmd, const char *resp, DWORD timeout);
