# Cross build for Windows with MinGW-w64; the per-architecture toolchain
# files set ATCMD_MINGW_TRIPLET and CMAKE_SYSTEM_PROCESSOR, then include this.
set(CMAKE_SYSTEM_NAME Windows)

# The win32 threading flavour: the programs start their threads with
# CreateThread, never through the C++ library, and this flavour needs no
# libwinpthread, so the executables depend on system DLLs only.
set(CMAKE_C_COMPILER ${ATCMD_MINGW_TRIPLET}-gcc-win32)
set(CMAKE_CXX_COMPILER ${ATCMD_MINGW_TRIPLET}-g++-win32)
set(CMAKE_RC_COMPILER ${ATCMD_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ATCMD_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
