// A pseudo-terminal pair: the master for the fake modem or a test, the
// slave, by name, for the program under test.
#pragma once

#include <string>

#include "fd_guard.h"

// The modem's side of a wire: raw, 8 data bits, no echo, 9600 baud, so
// nothing of the line discipline's own comes between the bytes.
bool MakeModemRaw(int fd);

class PtyPair {
public:
    // Opens the master and names the slave; on failure SlaveName() is empty
    // and Error() says which step failed and why.
    PtyPair();

    int Master() const { return master_.get(); }
    const char *SlaveName() const { return slaveName_.c_str(); }
    const std::string &Error() const { return error_; }

    // Serving as a modem: holds the slave open, raw at 9600 baud, and makes
    // the master non-blocking; false with Error() set on failure.
    bool HoldSlave();

    // Writes `text` to the master whole; a short write aborts (a test's
    // harness, not its subject, has failed).
    void Send(const std::string &text) const;

    // Closes the master and the held slave: whoever has the slave open sees
    // a hang-up.
    void HangUp();

    // Bytes written to the master that the slave's reader has not taken yet.
    int PendingForSlave() const;

private:
    bool Fail(const char *step);

    FdGuard master_;
    // Held so that reading the master gives data rather than EIO while the
    // program under test has not opened the slave yet, and so the pty
    // survives the program's close. It takes no flock and is opened before
    // the program sets TIOCEXCL, so it does not stand in the program's way.
    FdGuard slaveHold_;
    std::string slaveName_;
    std::string error_;
};
