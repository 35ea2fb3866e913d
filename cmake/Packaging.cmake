# `make package`'s ZIP for Windows: each architecture's atcmd.exe and
# atcmd-trace.exe, the batch examples, the Windows usage and the licences.
# Only the `windows` install component goes in; the Linux install is the
# Debian package's (debian/).
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME atcmd)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL windows)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-windows")
set(CPACK_ARCHIVE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}")
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
# Member times (cmake/PackagingTime.cmake, read when cpack runs).
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/PackagingTime.cmake)
set(CPACK_ATCMD_SOURCE_DATE_EPOCH ${ATCMD_SOURCE_DATE_EPOCH})

# The texts the ZIP ships, from files of their own, with Windows line ends:
# the Windows usage (doc/windows/README.md as README.txt) and the licences,
# the program's own and that of the Boost.Regex code in it, at the top; the
# batch examples beside each architecture's programs.
set(windows_doc_dir ${CMAKE_BINARY_DIR}/windows)
function(atcmd_windows_text list source shipped)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${source})
  file(READ ${CMAKE_SOURCE_DIR}/${source} text)
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${windows_doc_dir}/${shipped} "${text}")
  set(${list} ${${list}} ${windows_doc_dir}/${shipped} PARENT_SCOPE)
endfunction()
atcmd_windows_text(windows_top_files doc/windows/README.md README.txt)
atcmd_windows_text(windows_top_files LICENSE LICENSE.txt)
atcmd_windows_text(windows_top_files doc/boost-license.txt LICENSE-Boost.txt)
foreach(batch IN ITEMS example.bat answer-example.bat trace-example.bat find-port.bat)
  atcmd_windows_text(windows_batch_files doc/windows/${batch} ${batch})
endforeach()

# Each Windows build's programs (atcmd.exe and atcmd-trace.exe, built side
# by side) in a folder named for its architecture, with the batch examples.
# `make package` builds the Windows trees before it configures this one for
# packaging; the release tree alone (`make demo`) does not need them.
option(ATCMD_PACKAGING "Configure for `make package`: the Windows programs must be built" OFF)
foreach(build IN LISTS ATCMD_WINDOWS_BUILDS)
  foreach(program IN ITEMS ${ATCMD_${build}_EXE} ${ATCMD_${build}_BIN}/atcmd-trace.exe)
    if(ATCMD_PACKAGING AND NOT EXISTS ${program})
      message(FATAL_ERROR "The ZIP packs ${program}, which is not built: "
        "build preset ${build} first (`make package` does)")
    endif()
  endforeach()
  install(PROGRAMS ${ATCMD_${build}_EXE} ${ATCMD_${build}_BIN}/atcmd-trace.exe ${windows_batch_files}
          DESTINATION ${ATCMD_${build}_ARCH} COMPONENT windows EXCLUDE_FROM_ALL)
endforeach()
install(FILES ${windows_top_files} DESTINATION . COMPONENT windows EXCLUDE_FROM_ALL)

include(CPack)
