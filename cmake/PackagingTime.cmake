# Read by cpack when it makes the ZIP: every member's time is
# SOURCE_DATE_EPOCH, the one the build used.
set(ENV{SOURCE_DATE_EPOCH} ${CPACK_ATCMD_SOURCE_DATE_EPOCH})
# A ZIP member's time is written as local time: the same zone on every build.
set(ENV{TZ} UTC)
