// What the system knows of its serial ports beyond the Win32 subset: who
// else holds a port. Declared once here, with no platform test; posix/ and
// windows/ each implement it (and tests/fake/ scripts it).
#pragma once

#include "win32.h"

// Another process that has the port open.
struct PortHolder {
    DWORD processId;
    char name[16];  // its command name, NUL-terminated
};

// The other processes that have `portName` open: up to `capacity` of them
// in `holders`; returns how many there are. It looks through the system's
// open files, so only a run that failed asks.
DWORD OtherPortHolders(LPCSTR portName, PortHolder *holders, DWORD capacity);
