# Desktop integration and packaging: what `cmake --install` puts beside the two programs (whose
# own install rules sit with their targets), and the Debian package `cpack -G DEB` makes of it.
# Included once from the top-level CMakeLists.txt, after every target is defined.
include_guard(GLOBAL)
include(GNUInstallDirs)

set(_packaging_dir ${PROJECT_SOURCE_DIR}/packaging/linux)
set(MORV_APP_ID com.selkanor.MorvManager)

# The Help menu looks for the guide beside the executable first (a build tree), then in the data
# folder, whose installed path is compiled into the program: not in the documentation folder,
# which an administrator may remove. That folder gets a link to the guide's folder, through which
# doc-base, which takes documents only under /usr/share/doc, registers it.
if(TARGET user-guide)
  install(DIRECTORY "${MORV_GUIDE_DIR}/" DESTINATION ${CMAKE_INSTALL_DATADIR}/morv-manager/guide)
  set(MORV_GUIDE_INSTALL_DIR "${CMAKE_INSTALL_FULL_DATADIR}/morv-manager/guide")
  set(MORV_GUIDE_DOC_LINK "${CMAKE_INSTALL_FULL_DOCDIR}/guide")
  file(RELATIVE_PATH _guide_from_doc "${CMAKE_INSTALL_FULL_DOCDIR}" "${MORV_GUIDE_INSTALL_DIR}")
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/packaging)
  file(CREATE_LINK "${_guide_from_doc}" "${PROJECT_BINARY_DIR}/packaging/guide" SYMBOLIC)
  install(FILES "${PROJECT_BINARY_DIR}/packaging/guide" DESTINATION ${CMAKE_INSTALL_DOCDIR})
  configure_file(${_packaging_dir}/doc-base ${PROJECT_BINARY_DIR}/packaging/doc-base @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/doc-base DESTINATION ${CMAKE_INSTALL_DATADIR}/doc-base
          RENAME morv-manager.morv-manager)
endif()
install(FILES ${_packaging_dir}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${_packaging_dir}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME morv-manager)

# Debian wants the changelog compressed without a time stamp, so that the package is the same
# however often it is built.
find_program(MORV_GZIP gzip REQUIRED)
set(_changelog ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_command(
  OUTPUT ${_changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
  COMMAND ${MORV_GZIP} -9nc ${_packaging_dir}/changelog.Debian > ${_changelog}
  DEPENDS ${_packaging_dir}/changelog.Debian
  COMMENT "Compressing the Debian changelog")
add_custom_target(debian-changelog ALL DEPENDS ${_changelog})
install(FILES ${_changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Manual pages are generated into man/ of the build tree by the programs' own build rules;
# whatever is there at install time is compressed and installed by its section.
install(CODE "
  file(GLOB _pages \"${PROJECT_BINARY_DIR}/man/*.[1-9]\")
  foreach(_page IN LISTS _pages)
    get_filename_component(_name \"\${_page}\" NAME)
    string(REGEX REPLACE \"^.*\\\\.([1-9])$\" \"\\\\1\" _section \"\${_name}\")
    set(_compressed \"${PROJECT_BINARY_DIR}/man/compressed/\${_name}.gz\")
    file(MAKE_DIRECTORY \"${PROJECT_BINARY_DIR}/man/compressed\")
    execute_process(COMMAND \"${MORV_GZIP}\" -9nc \"\${_page}\" OUTPUT_FILE \"\${_compressed}\"
                    RESULT_VARIABLE _failed)
    if(_failed)
      message(FATAL_ERROR \"Cannot compress \${_page}\")
    endif()
    file(INSTALL \"\${_compressed}\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_MANDIR}/man\${_section}\")
  endforeach()
")

configure_file(${_packaging_dir}/${MORV_APP_ID}.metainfo.xml
               ${PROJECT_BINARY_DIR}/packaging/${MORV_APP_ID}.metainfo.xml @ONLY)
install(FILES ${_packaging_dir}/${MORV_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_BINARY_DIR}/packaging/${MORV_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_packaging_dir}/${MORV_APP_ID}.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)

set(_images ${PROJECT_SOURCE_DIR}/src/resources/images)
set(_svg ${PROJECT_SOURCE_DIR}/src/resources/svg)
set(_icons ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES ${_images}/manager_icon_256.png DESTINATION ${_icons}/256x256/apps RENAME ${MORV_APP_ID}.png)
install(FILES ${_svg}/manager_icon_256.svg DESTINATION ${_icons}/scalable/apps RENAME ${MORV_APP_ID}.svg)
# File type icons are named after their types, the way icon themes look them up.
foreach(_type card-archive:archive_icon song:song_icon card-data:sd_card_black)
  string(REPLACE ":" ";" _type "${_type}")
  list(GET _type 0 _name)
  list(GET _type 1 _picture)
  install(FILES ${_svg}/${_picture}.svg DESTINATION ${_icons}/scalable/mimetypes
          RENAME application-vnd.selkanor.morv-${_name}.svg)
endforeach()
foreach(_type card-archive:archive_icon song:song_icon)
  string(REPLACE ":" ";" _type "${_type}")
  list(GET _type 0 _name)
  list(GET _type 1 _picture)
  install(FILES ${_images}/${_picture}.png DESTINATION ${_icons}/64x64/mimetypes
          RENAME application-vnd.selkanor.morv-${_name}.png)
endforeach()

# A plain `strip` leaves the compiler's .comment and the .note section behind; Debian strips them
# too. Runs after the programs' own install rules, and only for a stripping install (cpack).
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(_program morv-manager morv-card)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                              --strip-unneeded
                              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${_program}\"
                      RESULT_VARIABLE _failed)
      if(_failed)
        message(FATAL_ERROR \"Cannot strip \${_program}\")
      endif()
    endforeach()
  endif()
")

# Debian package. Its programs look for the guide under the prefix they were built for, so the
# package installs under that same prefix (/usr for a Debian package: see scripts/package).
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_NAME morv-manager)
set(CPACK_PACKAGE_VENDOR Selkanor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "librarian for the SD card of the Morv+ guitar pedal")
# Debian wraps the long description itself only badly: one line per line here.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Morv Manager opens the SD card of the Morv+ backing band and looper pedal\n"
    "through a card reader, backs up and restores whole cards, keeps a library of\n"
    "single songs and copies them onto any slot of a card, and renames and clears\n"
    "songs. The command-line tool morv-card does the same from a shell and checks\n"
    "cards and backups for damage.")
set(CPACK_PACKAGE_CONTACT "Selkanor <packages@selkanor.com>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Selkanor <packages@selkanor.com>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://selkanor.com/morv-manager)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Print the Guide opens the PDF, Show in Folder a folder and the update check its download page
# through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xdg-utils)
set(CPACK_STRIP_FILES ON)
# Let dpkg-shlibdeps read the libraries the programs really link (Qt, xxHash), with their versions;
# without it (no dpkg-dev on the machine) name them outright.
find_program(MORV_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(MORV_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libqt5core5a (>= 5.15), libqt5gui5 (>= 5.15), libqt5widgets5 (>= 5.15), libqt5network5 (>= 5.15), libqt5svg5 (>= 5.15), libxxhash0 (>= 0.8)")
endif()
include(CPack)
