#include "mbim_transport.h"

#include "trace.h"

AtResult MbimAtCommand(const char *cmd, const char *resp, DWORD timeout)
{
    (void)cmd;
    (void)resp;
    (void)timeout;
    DebugTrace("MBIM transport not available in this build\n");
    return kAtFailure;
}
