# `make package`: a Debian package of what `make install` installs, and a ZIP
# for Windows with each architecture's atcmd.exe. The two take different
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

set(ATCMD_PACKAGE_MAINTAINER "atcmd maintainers <atcmd@example.org>"
  CACHE STRING "The Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ATCMD_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

# The Windows usage of the README, and its batch example, as files of their
# own with Windows line ends; the README stays the one place they are written.
set(windows_doc_dir ${CMAKE_BINARY_DIR}/windows)
file(READ ${CMAKE_SOURCE_DIR}/README.md readme)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/README.md)
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
endfunction()
atcmd_readme_part(windows_usage "${readme}" "\n## On Windows\n" "\n## ")
atcmd_readme_part(windows_batch "${windows_usage}" "```bat\n" "```")
string(REPLACE "\n" "\r\n" windows_usage "atcmd on Windows\n================\n${windows_usage}")
string(REPLACE "\n" "\r\n" windows_batch "${windows_batch}")
file(WRITE ${windows_doc_dir}/README.txt "${windows_usage}")
file(WRITE ${windows_doc_dir}/example.bat "${windows_batch}")

# Each Windows build's program in a folder named for its architecture, with
# the batch example beside it.
foreach(build IN LISTS ATCMD_WINDOWS_BUILDS)
  install(PROGRAMS ${ATCMD_${build}_EXE} ${windows_doc_dir}/example.bat
          DESTINATION ${ATCMD_${build}_ARCH} COMPONENT windows EXCLUDE_FROM_ALL)
endforeach()
install(FILES ${windows_doc_dir}/README.txt DESTINATION . COMPONENT windows EXCLUDE_FROM_ALL)

include(CPack)
