// The pseudo-terminal the fake modem serves: master for us, slave for the
// program under test.
#pragma once

#include <string>

#include "fd_guard.h"

class PtyPair {
public:
    // Opens the pair; false with `error` set on failure.
    bool Open(std::string &error);

    int master() const { return master_.get(); }
    const std::string &slavePath() const { return slavePath_; }

    // Closes both sides: whoever has the slave open sees a hang-up.
    void HangUp();

    // Bytes written to the master that the slave's reader has not taken yet.
    int PendingForSlave() const;

private:
    FdGuard master_;
    // Held so that reading the master gives data rather than EIO while the
    // program under test has not opened the slave yet, and so the pty
    // survives the program's close. It takes no flock and is opened before
    // the program sets TIOCEXCL, so it does not stand in the program's way.
    FdGuard slaveHold_;
    std::string slavePath_;
};
