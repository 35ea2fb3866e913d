// atcmd /list: the machine's serial ports on standard output, one line
// each, with each port's verdict when a command is given (every port tried
// at once), so that a script can find the AT port.
#pragma once

#include <string>
#include <vector>

#include "at_result.h"
#include "system_ports.h"

struct TesterOptions;

// Natural order: runs of digits compare by their value, so COM2 comes
// before COM10 and ttyUSB2 before ttyUSB10.
bool NaturalLess(const std::string &a, const std::string &b);

// One line of the list: name, verdict (kAtUndecided: "-", not tried), what
// the system calls the port, its identity; separated by tabs, ended by a
// line feed. An empty field is "-"; a tab or line end inside one becomes a
// space, so that every line has its four fields.
std::string PortLine(const SystemSerialPort &port, AtResult verdict);

// The run's exit code. A list alone: 1 when a port is listed, else -1.
// Ports tried: 1 when one of them gave 1, else -1.
AtResult PortListResult(const std::vector<AtResult> &verdicts, bool tried);

// The whole /list run: list, try every port when `options` has a command,
// write the lines, and return the exit code.
AtResult RunPortList(const TesterOptions &options);
