# The cross-built Windows programs, one build tree each: the native tree
# examines them and runs them under Wine, the release tree packages them.
# Where a tree lies is a cache variable, set by the presets (CMakePresets.json,
# preset sibling-trees).

# atcmd_sibling_tree(var what): the cache variable `var` names another
# build tree; configuring without it is an error.
function(atcmd_sibling_tree var what)
  set(${var} "" CACHE PATH "${what}")
  if(NOT ${var})
    message(FATAL_ERROR "${var} (${what}) is not set: configure with a preset "
      "(cmake --preset release, or native), or give -D${var}=<build tree>")
  endif()
endfunction()

#   build   architecture   Wine
set(ATCMD_WINDOWS_BUILDS win32 win64)
set(ATCMD_win32_ARCH x86)
set(ATCMD_win32_WINE wine32)
set(ATCMD_win64_ARCH x64)
set(ATCMD_win64_WINE wine64)
foreach(build IN LISTS ATCMD_WINDOWS_BUILDS)
  atcmd_sibling_tree(ATCMD_${build}_DIR
    "The ${build} build tree, whose programs the checks, Wine tests and ZIP use")
  # Where each Windows build puts its programs and DLLs.
  set(ATCMD_${build}_BIN "${ATCMD_${build}_DIR}/bin")
  set(ATCMD_${build}_EXE "${ATCMD_${build}_BIN}/atcmd.exe")
endforeach()
