# The Linux programs without sanitizers (the release build) carry the C++
# runtime inside them: loading libstdc++ and libgcc_s costs about as much
# start-up time as the whole rest of a run. The C library stays shared, since
# the MBIM transport loads its library with dlopen. Libraries nothing calls
# into (libdl, whose calls live in libc now) are not recorded as needed.
if(NOT WIN32 AND NOT ATCMD_SANITIZE)
  foreach(program atcmd modemsim)
    target_link_options(${program} PRIVATE -static-libstdc++ -static-libgcc LINKER:--as-needed)
  endforeach()
endif()
