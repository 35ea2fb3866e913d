// The one platform header of the program: the Win32 subset atcmd uses.
// Here (not Windows) win32_subset.h declares it, with the meaning Windows
// gives it, and posix/ (or tests/fake/) implements it; on Windows the build
// takes platform/windows/ instead (common/CMakeLists.txt).
#pragma once

#include "win32_subset.h"
