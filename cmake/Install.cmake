# Install layout and the Debian package.
include(GNUInstallDirs)

# zandrel finds its manual at <executable's folder>/../share/doc/zandrel/manual/index.html.
# CMAKE_INSTALL_DOCDIR is not used: Qt6Core includes GNUInstallDirs first, which fixes it to
# share/doc/Zandrel, and the program does not follow a changed one anyway.
set(zandrel_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/zandrel)

set(zandrel_share ${PROJECT_SOURCE_DIR}/app/share)

foreach(program zandrel zandrel-cli)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/docs/manual/index.html
        DESTINATION ${zandrel_docdir}/manual)
# The manual's pictures, at 100% and 200% scale, where it finds them (../screenshots).
file(GLOB manual_pictures CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/screenshots/*.png)
install(FILES ${manual_pictures} DESTINATION ${zandrel_docdir}/screenshots)
# The notice and licence of the Breeze icons compiled into the program.
install(FILES ${zandrel_share}/icons/zandrel-fallback/COPYING
        DESTINATION ${zandrel_docdir} RENAME icons.COPYING)
install(FILES ${zandrel_share}/icons/zandrel-fallback/LGPL-3.txt DESTINATION ${zandrel_docdir})
install(FILES ${zandrel_share}/zandrel.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${zandrel_share}/zandrel-mime.xml
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/mime/packages
        RENAME zandrel.xml)
install(FILES ${zandrel_share}/icons/zandrel.svg
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
foreach(size 16 22 24 32 48 64 128 256)
    install(FILES ${zandrel_share}/icons/png/${size}x${size}/zandrel.png
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# ---- CPack: the .deb -----------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zandrel)
set(CPACK_PACKAGE_VENDOR "morvate")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Web site publisher: keeps an FTP folder in step with a local one")
set(CPACK_PACKAGE_CONTACT "Zandrel maintainers <zandrel@morvate.invalid>")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Release binaries carry no debug sections into the package, whatever the build type.
set(CPACK_STRIP_FILES TRUE)

set(CPACK_DEBIAN_PACKAGE_NAME zandrel)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
# The summary line above comes first; CPack indents these lines and turns the empty one into " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Zandrel keeps a folder on an FTP server in step with the local folder in
which a web site is edited. It remembers each file's last-write time at its
last upload, so an upload sends exactly what changed without asking the
server. Compare checks the server's tree, and server-only files can be
downloaded or removed.

The package holds the desktop program (zandrel) with its FTP browser window,
and zandrel-cli for scripts and machines without a display.")
# dpkg-shlibdeps finds the libraries. The plugins loaded at run time come with them on
# Debian 12: the xcb platform plugin with libqt6gui6, the multimedia backends (for the alert
# sounds) with libqt6multimedia6; scripts/check-package.sh checks both stay in Depends.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The MIME and desktop databases and the icon cache are refreshed by these packages' triggers,
# so the package needs no maintainer scripts. qt6-wayland lets Qt run natively on Wayland
# (else through XWayland); libqt6svg6 draws the SVG icons of the desktop's icon theme.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "shared-mime-info, desktop-file-utils, hicolor-icon-theme, qt6-wayland, libqt6svg6")

include(CPack)
