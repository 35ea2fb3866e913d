# `make package`: a Debian package of what `make install` installs, and a ZIP
# for Windows with each architecture's atcmd.exe and atcmd-trace.exe. The two take different
# install components; cmake/PackagingPerGenerator.cmake picks one for each.
set(CPACK_GENERATOR DEB ZIP)
set(CPACK_PACKAGE_NAME atcmd)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "send one AT command to a modem, verdict in the exit code")
set(CPACK_PACKAGE_DESCRIPTION [[
atcmd writes one AT command to a modem's serial port, or hands it to an
MBIM port library, reads the answer line by line and ends with 1 when the
expected answer came, -1 on a failure or an error line, -2 when the time
limit ran out. It is meant for scripts.
The package also holds modemsim, a fake modem on a pseudo-terminal, to try
atcmd without hardware.]])
set(CPACK_STRIP_FILES ON)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/PackagingPerGenerator.cmake)
# Member times in both archives (cmake/PackagingPerGenerator.cmake).
set(CPACK_ATCMD_SOURCE_DATE_EPOCH ${ATCMD_SOURCE_DATE_EPOCH})

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ATCMD_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

# The Windows usage of the README, and its batch examples, as files of their
# own with Windows line ends; the README stays the one place they are written.
set(windows_doc_dir ${CMAKE_BINARY_DIR}/windows)
file(READ ${CMAKE_SOURCE_DIR}/README.md readme)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/README.md)
# The text between the two markers goes to `out`, what follows the end
# marker to `out`_rest.
function(atcmd_readme_part out text start_marker end_marker)
  string(FIND "${text}" "${start_marker}" start)
  if(start LESS 0)
    message(FATAL_ERROR "README.md has no '${start_marker}'")
  endif()
  string(LENGTH "${start_marker}" marker_length)
  math(EXPR start "${start} + ${marker_length}")
  string(SUBSTRING "${text}" ${start} -1 rest)
  string(FIND "${rest}" "${end_marker}" end)
  string(SUBSTRING "${rest}" 0 ${end} part)
  set(${out} "${part}" PARENT_SCOPE)
  if(end LESS 0)
    set(${out}_rest "" PARENT_SCOPE)
  else()
    string(LENGTH "${end_marker}" marker_length)
    math(EXPR end "${end} + ${marker_length}")
    string(SUBSTRING "${rest}" ${end} -1 rest)
    set(${out}_rest "${rest}" PARENT_SCOPE)
  endif()
endfunction()
atcmd_readme_part(windows_usage "${readme}" "\n## On Windows\n" "\n## ")
string(REPLACE "\n" "\r\n" windows_text "atcmd on Windows\n================\n${windows_usage}")
file(WRITE ${windows_doc_dir}/README.txt "${windows_text}")
# The section's batch blocks, in order.
set(windows_batches example.bat answer-example.bat trace-example.bat)
set(rest "${windows_usage}")
foreach(batch IN LISTS windows_batches)
  atcmd_readme_part(block "${rest}" "```bat\n" "```")
  set(rest "${block_rest}")
  string(REPLACE "\n" "\r\n" block "${block}")
  file(WRITE ${windows_doc_dir}/${batch} "${block}")
  list(APPEND windows_batch_files ${windows_doc_dir}/${batch})
endforeach()

# The licences, the program's own and that of the Boost.Regex code in it.
foreach(licence IN ITEMS "LICENSE;LICENSE.txt" "doc/boost-license.txt;LICENSE-Boost.txt")
  list(GET licence 0 source)
  list(GET licence 1 shipped)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${source})
  file(READ ${CMAKE_SOURCE_DIR}/${source} text)
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${windows_doc_dir}/${shipped} "${text}")
  list(APPEND windows_licence_files ${windows_doc_dir}/${shipped})
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
install(FILES ${windows_doc_dir}/README.txt ${windows_licence_files}
        DESTINATION . COMPONENT windows EXCLUDE_FROM_ALL)

include(CPack)
