// Writes a whole buffer to a handle opened for plain (blocking) writes: a
// file, a pipe, standard output.
#pragma once

#include <cstddef>

#include "win32.h"

// Every byte, in as many writes as the handle takes; false at the first
// failed or empty write (a closed or broken stream).
inline bool WriteAll(HANDLE handle, const char *bytes, std::size_t count)
{
    while (count > 0) {
        // WriteFile takes a DWORD count: a larger buffer goes in pieces.
        DWORD piece = count > 0x10000000 ? 0x10000000 : static_cast<DWORD>(count);
        DWORD written = 0;
        if (!WriteFile(handle, bytes, piece, &written, NULL) || written == 0)
            return false;
        bytes += written;
        count -= written;
    }
    return true;
}
