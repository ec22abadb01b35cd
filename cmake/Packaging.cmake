# What `cmake --install` puts where, and the Debian package CPack makes of it (`cpack -G DEB` in a build
# folder; scripts/package-linux builds, checks and starts it). On Windows the program gets its icon,
# manifest and version resource; scripts/windows lays out its folder and makes the installer with NSIS
# (packaging/windows/corvane.nsi).
set(CORVANE_APP_ID example.corvane.Corvane)
if(WIN32)
  enable_language(RC)
  set(CORVANE_ICON_ICO ${PROJECT_SOURCE_DIR}/packaging/icons/corvane.ico)
  set(CORVANE_MANIFEST ${CMAKE_BINARY_DIR}/packaging/corvane.manifest)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/corvane.manifest ${CORVANE_MANIFEST} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/corvane.rc.in ${CMAKE_BINARY_DIR}/packaging/corvane.rc
    @ONLY)
  target_sources(corvane PRIVATE ${CMAKE_BINARY_DIR}/packaging/corvane.rc)
  return()
endif()

include(GNUInstallDirs)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/${CORVANE_APP_ID}.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/${CORVANE_APP_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/icons/corvane.png
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps RENAME ${CORVANE_APP_ID}.png)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/icons/corvane.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME ${CORVANE_APP_ID}.svg)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Corvane)
set(CPACK_PACKAGE_CONTACT "Corvane <support@corvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
# The libraries the program links, as dpkg-shlibdeps finds them; the client programs it runs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS postgresql-client)
include(CPack)
