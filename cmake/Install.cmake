# Desktop integration and packaging: what `cmake --install` puts beside the two programs (whose
# own install rules sit with their targets), and the Debian package `cpack -G DEB` makes of it.
# Included once from the top-level CMakeLists.txt, after every target is defined.
include_guard(GLOBAL)
include(GNUInstallDirs)

set(_packaging_dir ${PROJECT_SOURCE_DIR}/packaging/linux)
set(MORV_APP_ID com.selkanor.MorvManager)

# The Help menu looks for the guide in the executable's own folder, so it goes wherever the
# executable goes.
if(TARGET user-guide)
  install(FILES "${MORV_MANAGER_DIR}/${MORV_USER_GUIDE_NAME}" DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(FILES ${_packaging_dir}/${MORV_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_packaging_dir}/${MORV_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/src/resources/images/manager_icon_256.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
        RENAME ${MORV_APP_ID}.png)
install(FILES ${PROJECT_SOURCE_DIR}/src/resources/svg/manager_icon_256.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${MORV_APP_ID}.svg)

# Debian package.
set(CPACK_PACKAGE_NAME morv-manager)
set(CPACK_PACKAGE_VENDOR Selkanor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Librarian for the SD card of the Morv+ guitar pedal")
# Debian wraps the long description itself only badly: one line per line here.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Morv Manager opens the SD card of the Morv+ backing band and looper pedal\n"
    "through a card reader, backs up and restores whole cards, keeps a library of\n"
    "single songs and copies them onto any slot of a card, and renames and clears\n"
    "songs. The command-line tool morv-card does the same from a shell and checks\n"
    "cards and backups for damage.")
set(CPACK_PACKAGE_CONTACT Selkanor)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER Selkanor)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
# Let dpkg-shlibdeps read the Qt libraries the programs really link, with their versions; without
# it (no dpkg-dev on the machine) name them outright.
find_program(MORV_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(MORV_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libqt5core5a (>= 5.15), libqt5gui5 (>= 5.15), libqt5widgets5 (>= 5.15), libqt5network5 (>= 5.15), libqt5xml5 (>= 5.15)")
endif()
include(CPack)
