// Overlapped comm I/O, driven inside the waits: what the event and close
// code needs from it.
#pragma once

#include "comm_port.h"

// What driving the I/O behind an event came to.
enum class IoDrive {
    NoIo,       // no pending request signals this event
    Completed,  // the request completed and signalled the event
    Pending,    // the time ran out first; the request goes on
};

// Drives the pending request whose event is `event` for at most
// `milliseconds` (INFINITE: until it completes).
IoDrive DriveIoOf(HANDLE event, DWORD milliseconds);

// Completes the port's pending requests with ERROR_OPERATION_ABORTED.
void CancelPortIo(CommPort &port);
