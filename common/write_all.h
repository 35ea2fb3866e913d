// Writes a whole buffer to a handle opened for plain (blocking) writes: a
// file, a pipe, standard output.
#pragma once

#include <cstddef>

#include "win32.h"

// Every byte in one WriteFile, which on such a handle takes them all or
// fails; false when it failed (a closed or broken stream) or wrote fewer.
inline bool WriteAll(HANDLE handle, const char *bytes, std::size_t count)
{
    if (count == 0)
        return true;
    DWORD written = 0;
    return count <= MAXDWORD && WriteFile(handle, bytes, static_cast<DWORD>(count), &written, NULL) &&
           written == count;
}
