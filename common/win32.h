// The one platform header of the program: the Win32 subset atcmd uses.
// On Windows it is the real thing; elsewhere the POSIX stand-in in posix/
// declares the same names with the same meaning.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#include <shlwapi.h>
#else
#include "win32_posix.h"
#endif
