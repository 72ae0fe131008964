# What `cmake --install` puts where, and the Debian package CPack makes of it.

install(TARGETS ruvelo ruvelo-import gmclient RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS gm7s32 LIBRARY DESTINATION ${RUVELO_PRIVATE_LIBDIR} NAMELINK_SKIP)
# gmclient links the stand-in itself (to create stores); the other programs
# load it by name at run time.
set_target_properties(gmclient PROPERTIES
  INSTALL_RPATH "$ORIGIN/${RUVELO_PRIVATE_LIBDIR_FROM_BIN}")

set(linux ${PROJECT_SOURCE_DIR}/packaging/linux)
install(FILES ${linux}/org.ruvelo.Ruvelo.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${linux}/org.ruvelo.Ruvelo.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${linux}/org.ruvelo.Ruvelo.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/docs/man/ruvelo-import.1 ${PROJECT_SOURCE_DIR}/docs/man/gmclient.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME ruvelo)
set(CPACK_PACKAGE_VENDOR "Ruvelo")
set(CPACK_PACKAGE_CONTACT "Ruvelo developers <developers@ruvelo.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Import contacts from Excel workbooks into GoldMine")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://ruvelo.invalid")
# The dependencies are the Debian runtime packages the binaries link against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Ruvelo imports contact rows from Excel workbooks (.xls and .xlsx) into a\n\
GoldMine CRM database, matching rows to existing contacts by e-mail address.\n\
This package holds the window program, the command-line importer and the\n\
GoldMine stand-ins (gmclient and the API library) for trying it on Linux.")
include(CPack)
