// What the system knows of its serial ports beyond the Win32 subset: which
// serial ports there are, and who else holds a port. Declared once here, with no platform test; posix/ and
// windows/ each implement it (and tests/fake/ scripts it).
#pragma once

#include <string>
#include <vector>

#include "win32.h"

// Another process that has the port open.
struct PortHolder {
    DWORD processId;
    char name[16];  // its command name, NUL-terminated
};

// How long the look for other holders may take: a run that failed asks
// after its time limit, and must not outlive it by more than a moment.
const DWORD kPortHoldersLookMs = 250;

// The other processes that have `portName` open: up to `capacity` of them
// in `holders`; returns how many there are. It looks through the system's
// open files, so only a run that failed asks. It never waits on a file it
// finds, and ends within kPortHoldersLookMs, naming those found by then.
DWORD OtherPortHolders(LPCSTR portName, PortHolder *holders, DWORD capacity);

// A serial port the system knows of.
struct SystemSerialPort {
    std::string name;         // as /port takes it
    std::string description;  // what the system calls it
    std::string identity;     // USB: VID:PID, interface, driver or hardware ID; else what the system knows
    // False for a port that must never be sent a byte: the system console,
    // a process's controlling terminal (someone's screen or login prompt).
    bool mayProbe;
};

// The machine's serial ports, in the order the system gives them.
std::vector<SystemSerialPort> ListSystemSerialPorts();
