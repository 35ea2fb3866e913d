// The one platform header of the program: the Win32 subset atcmd uses.
// On Windows it is the real thing; elsewhere win32_subset.h declares the
// same names with the same meaning, and posix/ (or tests/fake/) implements them.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#include <shlwapi.h>
#else
#include "win32_subset.h"
#endif
