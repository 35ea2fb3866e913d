// How one overlapped serial read ended, decided in one place.
#pragma once

#include "win32.h"

enum class ReadCompletion {
    Bytes,      // data arrived
    NoBytes,    // the port's read time-out passed with nothing
    Cancelled,  // CancelIo ended it; any bytes count stays valid
    Failed,     // the device reported an error
};

// Classifies GetOverlappedResult's answer. Windows reports a comm read that
// timed out with no data as success with 0 bytes; Wine reports it as
// failure with ERROR_TIMEOUT. Both mean "no bytes read".
inline ReadCompletion ClassifyReadCompletion(BOOL succeeded, DWORD lastError, DWORD bytesRead)
{
    if (succeeded)
        return bytesRead > 0 ? ReadCompletion::Bytes : ReadCompletion::NoBytes;
    if (lastError == ERROR_TIMEOUT)
        return bytesRead > 0 ? ReadCompletion::Bytes : ReadCompletion::NoBytes;
    if (lastError == ERROR_OPERATION_ABORTED)
        return ReadCompletion::Cancelled;
    return ReadCompletion::Failed;
}
