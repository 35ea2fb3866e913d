// The Linux port list, read from a sysfs and a procfs given by their roots,
// so that it can be read from a tree made for a test as well.
#pragma once

#include <string>
#include <vector>

#include "system_ports.h"

struct SystemRoots {
    std::string sys;   // "/sys"
    std::string proc;  // "/proc"
};

// Every tty with a device behind it, but serial_core ports of the type
// "unknown" (no UART there). Ptys and virtual consoles have no device.
std::vector<SystemSerialPort> ListTtyPorts(const SystemRoots &roots);
