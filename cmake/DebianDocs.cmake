# The documents a Debian system expects beside a program: the manual pages
# and the changelog gzip-compressed at configure time into
# ${CMAKE_BINARY_DIR}/doc (without name or time, so they are the same on
# every build), and the licences in Debian's machine-readable copyright
# format (debian/copyright, the source package's own).
set(ATCMD_DOC_BINARY_DIR ${CMAKE_BINARY_DIR}/doc)
file(MAKE_DIRECTORY ${ATCMD_DOC_BINARY_DIR})
set(ATCMD_COPYRIGHT ${CMAKE_SOURCE_DIR}/debian/copyright)

function(atcmd_gzip source target)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  execute_process(COMMAND gzip -9nc ${source} OUTPUT_FILE ${target} COMMAND_ERROR_IS_FATAL ANY)
endfunction()

foreach(page atcmd modemsim)
  atcmd_gzip(${CMAKE_SOURCE_DIR}/doc/${page}.1 ${ATCMD_DOC_BINARY_DIR}/${page}.1.gz)
  list(APPEND ATCMD_MAN_PAGES ${ATCMD_DOC_BINARY_DIR}/${page}.1.gz)
endforeach()
atcmd_gzip(${CMAKE_SOURCE_DIR}/doc/changelog ${ATCMD_DOC_BINARY_DIR}/changelog.gz)
