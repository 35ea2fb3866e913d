// The driver's output queue, asked the same way by the writes, the comm
// status and the put-back at close or on a stop signal.
#pragma once

#include <sys/ioctl.h>

// Bytes handed to the driver that have not left yet; 0 where the device
// cannot tell (a pty passes them on at once). One ioctl: async-signal-safe.
inline unsigned QueuedOutput(int fd)
{
    int queued = 0;
    return ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0 ? static_cast<unsigned>(queued) : 0;
}
