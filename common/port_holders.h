// Who else has a port open: named when a run ends without its answer, so
// that a user need not guess what holds the modem.
#pragma once

#include "win32.h"

// Another process that has the port open.
struct PortHolder {
    DWORD processId;
    char name[16];  // its command name, NUL-terminated
};

#if defined(_WIN32)
// Windows refuses a second opener of a COM port: while the program has it,
// nobody else does.
inline DWORD OtherPortHolders(LPCSTR, PortHolder *, DWORD)
{
    return 0;
}
#else
// The other processes that have `portName` open: up to `capacity` of them
// in `holders`; returns how many there are. It looks through every
// process's open files (milliseconds), so only a run that failed asks.
DWORD OtherPortHolders(LPCSTR portName, PortHolder *holders, DWORD capacity);
#endif
