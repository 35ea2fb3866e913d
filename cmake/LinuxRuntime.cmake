# The release program carries the C++ runtime inside it: loading libstdc++
# and libgcc_s costs about as much start-up time as the whole rest of a run.
# The C library stays shared, since the MBIM transport loads its library
# with dlopen. Libraries nothing calls into (libdl, whose calls live in libc
# now; libm) are not recorded as needed.
foreach(program atcmd modemsim)
  target_link_options(${program} PRIVATE -static-libstdc++ -static-libgcc LINKER:--as-needed)
endforeach()
