# Cross build for 32-bit x86 Windows with MinGW-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(_mingw i686-w64-mingw32)
# The win32 threading flavour: the program has one thread, and this flavour
# needs no libwinpthread, so the executable depends on system DLLs only.
set(CMAKE_C_COMPILER ${_mingw}-gcc-win32)
set(CMAKE_CXX_COMPILER ${_mingw}-g++-win32)
set(CMAKE_RC_COMPILER ${_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
