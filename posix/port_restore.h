// Leaves a terminal as it was found when the program lets go of it, echo
// excepted (it stays off), and closes it without waiting on the driver: at
// its close, at ExitProcess, and when a stop signal ends the process
// (process_setup.cpp).
#pragma once

#include <termios.h>

// Notes the terminal settings found at open; from now on a stop signal
// puts the port back and closes it before the process ends. The number to
// release it with; -1 when the table had no room (it is then released at
// its close only).
int RememberPort(int fd, const termios &settingsAtOpen);

// Puts every remembered port back and closes it; for ways out that skip
// the closes (ExitProcess, the stop signals). Async-signal-safe.
void ReleaseRememberedPorts();

// Discards pending output (a close then never waits for it to drain),
// restores `settingsAtOpen`, echo left off, releases exclusivity
// (TIOCNXCL) and closes `fd` within the close's bound; the port is
// forgotten. Nothing, when a stop signal or ExitProcess has
// released it already. `remembered`: what RememberPort gave.
void ReleasePort(int remembered, int fd, const termios &settingsAtOpen);
