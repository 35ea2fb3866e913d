# Read by cpack once per generator: the Debian package takes the Linux
# install (every component but the Windows one, which no install takes
# unless named), the ZIP only the Windows programs.
if(CPACK_GENERATOR STREQUAL "ZIP")
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL windows)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-windows")
  set(CPACK_ARCHIVE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}")
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_STRIP_FILES OFF)
endif()

# Every member's time is SOURCE_DATE_EPOCH, the one the build used.
set(ENV{SOURCE_DATE_EPOCH} ${CPACK_ATCMD_SOURCE_DATE_EPOCH})
# A ZIP member's time is written as local time: the same zone on every build.
set(ENV{TZ} UTC)
