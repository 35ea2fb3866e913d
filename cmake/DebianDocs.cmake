# The documents a Debian system expects beside a program, made at configure
# time into ${CMAKE_BINARY_DIR}/doc: the manual pages and the changelog
# gzip-compressed (without name or time, so they are the same on every
# build), and the licences in Debian's machine-readable copyright format.
set(ATCMD_MAINTAINER "atcmd authors <atcmd@example.org>"
  CACHE STRING "Who maintains the package, as 'Name <address>': the package's Maintainer field and changelog")
if(NOT ATCMD_MAINTAINER MATCHES "^[^<>@]*[^<>@ ] <[^<>@ ]+@[^<>@ ]+>$")
  message(FATAL_ERROR "ATCMD_MAINTAINER is '${ATCMD_MAINTAINER}', not 'Name <address>'")
endif()

set(ATCMD_DOC_BINARY_DIR ${CMAKE_BINARY_DIR}/doc)
file(MAKE_DIRECTORY ${ATCMD_DOC_BINARY_DIR})
set(doc_sources ${CMAKE_SOURCE_DIR}/doc/atcmd.1 ${CMAKE_SOURCE_DIR}/doc/modemsim.1
    ${CMAKE_SOURCE_DIR}/doc/changelog.in ${CMAKE_SOURCE_DIR}/doc/copyright.in
    ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/doc/boost-license.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${doc_sources})

function(atcmd_gzip source target)
  execute_process(COMMAND gzip -9nc ${source} OUTPUT_FILE ${target} COMMAND_ERROR_IS_FATAL ANY)
endfunction()

foreach(page atcmd modemsim)
  atcmd_gzip(${CMAKE_SOURCE_DIR}/doc/${page}.1 ${ATCMD_DOC_BINARY_DIR}/${page}.1.gz)
  list(APPEND ATCMD_MAN_PAGES ${ATCMD_DOC_BINARY_DIR}/${page}.1.gz)
endforeach()

# The changelog's one entry carries the release's date: SOURCE_DATE_EPOCH.
string(TIMESTAMP ATCMD_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_SOURCE_DIR}/doc/changelog.in ${ATCMD_DOC_BINARY_DIR}/changelog @ONLY)
atcmd_gzip(${ATCMD_DOC_BINARY_DIR}/changelog ${ATCMD_DOC_BINARY_DIR}/changelog.gz)

# A licence text as the body of a copyright file's field: each line
# indented by one space, an empty line as " .".
function(atcmd_copyright_body out file)
  file(STRINGS ${file} lines)
  set(body "")
  foreach(line IN LISTS lines)
    if(line STREQUAL "")
      set(line ".")
    endif()
    string(APPEND body " ${line}\n")
  endforeach()
  string(REGEX REPLACE "\n$" "" body "${body}")
  set(${out} "${body}" PARENT_SCOPE)
endfunction()
atcmd_copyright_body(ATCMD_EXPAT_TEXT ${CMAKE_SOURCE_DIR}/LICENSE)
atcmd_copyright_body(ATCMD_BOOST_TEXT ${CMAKE_SOURCE_DIR}/doc/boost-license.txt)
configure_file(${CMAKE_SOURCE_DIR}/doc/copyright.in ${ATCMD_DOC_BINARY_DIR}/copyright @ONLY)
