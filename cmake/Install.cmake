# What `make install` and the Debian package (debian/rules installs through
# it) put on a Linux machine: the program, the fake modem to try it with,
# their manual pages, the README, the licences and the changelog
# (cmake/DebianDocs.cmake).
include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/DebianDocs.cmake)
# Folders the install makes get the same permissions whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS atcmd modemsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${ATCMD_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${ATCMD_COPYRIGHT} ${ATCMD_DOC_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
