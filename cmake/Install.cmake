# What `make install` and the Debian package put on a Linux machine: the
# program, the fake modem to try it with, their manual pages and the README.
include(GNUInstallDirs)

install(TARGETS atcmd modemsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/doc/atcmd.1 ${CMAKE_SOURCE_DIR}/doc/modemsim.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
