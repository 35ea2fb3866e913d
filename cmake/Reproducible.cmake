# Two builds of one commit give the same files, wherever the tree lies and
# whenever it is built. The one time stamp anything shipped carries is
# SOURCE_DATE_EPOCH (seconds since 1970), by default the last commit's date.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ATCMD_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git log -1 --format=%ct
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    OUTPUT_VARIABLE ATCMD_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE failed ERROR_VARIABLE git_error)
  if(failed)
    message(FATAL_ERROR "The build takes its time stamps from the last commit, and "
      "`git log` failed:\n${git_error}Set SOURCE_DATE_EPOCH (seconds since 1970) instead.")
  endif()
endif()
if(NOT ATCMD_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH is '${ATCMD_SOURCE_DATE_EPOCH}', not a number of seconds")
endif()
# What reads it at configure time (string(TIMESTAMP)) sees it too.
set(ENV{SOURCE_DATE_EPOCH} ${ATCMD_SOURCE_DATE_EPOCH})
# Rewritten only when the value changes: what embeds the time stamp depends
# on this file, so a new commit relinks it.
set(ATCMD_SOURCE_DATE_EPOCH_FILE ${CMAKE_BINARY_DIR}/source-date-epoch)
file(CONFIGURE OUTPUT ${ATCMD_SOURCE_DATE_EPOCH_FILE} CONTENT "${ATCMD_SOURCE_DATE_EPOCH}\n")

# Source paths (fatal-check traces, debug information) read as atcmd/...,
# not as the path the tree was built at.
add_compile_options("-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=")
