// The one platform header of the program: the Win32 subset atcmd uses,
// here Windows' own; elsewhere the build takes platform/posix/ instead
// (common/CMakeLists.txt).
#pragma once

#include <windows.h>
#include <shlwapi.h>
