// Leaves a terminal as it was found when the program lets go of it, echo
// excepted (it stays off): at its close, and when SIGINT, SIGTERM, SIGHUP or
// SIGQUIT ends the process.
#pragma once

#include <termios.h>

// From now on SIGINT, SIGTERM, SIGHUP and SIGQUIT put every remembered port
// back and write the gathered traces before the process ends. Once, at the
// first port or trace; a signal the caller ignores (nohup) stays ignored.
void CatchStopSignals();

// Notes the terminal settings found at open; from now on a stop signal
// restores them before the process ends.
void RememberPort(int fd, const termios &found);

// Puts every remembered port back; for ways out that skip the closes
// (ExitProcess). Async-signal-safe.
void RestoreRememberedPorts();

// Discards pending output (a close then never waits for it to drain),
// restores `found`, the settings found at open, echo left off, and releases exclusivity
// (TIOCNXCL); the port is forgotten. Also for a port the table had no room for.
void RestorePort(int fd, const termios &found);
