# A Debian package of what `cmake --install` puts in place: `cpack -G DEB` in a build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME plovermantle)
set(CPACK_PACKAGE_VENDOR "Plovermantle")
set(CPACK_PACKAGE_CONTACT "Plovermantle developers <plovermantle@example.org>"
    CACHE STRING "Maintainer named in the package")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "Lists the worlds in the game's saves folder, copies the one you pick into your server's \
folder, keeps a backup of server.properties and points the server at the world. plovermantle-cli \
does the same from a terminal or a script.")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
# The libraries the program links (Qt's among them) are found by dpkg-shlibdeps, with the versions
# this build needs. Qt loads its window-system plugins at run time, which no linker sees: without
# them the app cannot open a window.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# Wayland sessions, and the SVG icon drawn in the window's title bar.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, libqt6svg6")

# The command-line program's manual.
install(FILES ${PROJECT_SOURCE_DIR}/docs/plovermantle-cli.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

include(CPack)
