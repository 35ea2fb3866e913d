# The cross-built Windows programs, one build tree each: the native tree
# examines them and runs them under Wine, the release tree packages them.
#   build   architecture   Wine
set(ATCMD_WINDOWS_BUILDS win32 win64)
set(ATCMD_win32_ARCH x86)
set(ATCMD_win32_WINE wine32)
set(ATCMD_win64_ARCH x64)
set(ATCMD_win64_WINE wine64)
foreach(build IN LISTS ATCMD_WINDOWS_BUILDS)
  set(ATCMD_${build}_EXE "${CMAKE_SOURCE_DIR}/build/${build}/bin/atcmd.exe"
    CACHE FILEPATH "The cross-built atcmd.exe (${build}) the checks, Wine tests and ZIP use")
  # Its folder, where each Windows build puts its other programs and DLLs.
  get_filename_component(ATCMD_${build}_BIN "${ATCMD_${build}_EXE}" DIRECTORY)
endforeach()
