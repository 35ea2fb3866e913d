// The modem's end of the wire: a pseudo-terminal's master, or an existing
// tty (a USB gadget's /dev/ttyGS0, a UART) that modemsim serves directly.
#pragma once

#include <memory>
#include <string>

class ModemLine {
public:
    virtual ~ModemLine() = default;
    // Non-blocking, raw: what the program writes is read here, and back.
    virtual int Fd() const = 0;
    // The path the program opens.
    virtual std::string PortName() const = 0;
    // Bytes sent that have not reached the program's side yet.
    virtual int Pending() const = 0;
    // Closes the modem's end: on a pty the program sees a hang-up.
    virtual void HangUp() = 0;
};

// A new pseudo-terminal pair; null with `error` set when it cannot be made.
std::unique_ptr<ModemLine> OpenPtyLine(std::string &error);
// An existing tty, taken raw; null with `error` set.
std::unique_ptr<ModemLine> OpenTtyLine(const std::string &path, std::string &error);
