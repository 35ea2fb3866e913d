# Cross build for x64 Windows (preset win64): for vendors' 64-bit MBIM port
# libraries, which only a 64-bit process can load.
set(ATCMD_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
