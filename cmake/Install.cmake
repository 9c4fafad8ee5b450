# Install layout and the two Debian packages: zandrel-cli (component "cli": the command line,
# which links Qt Core and Network only) and zandrel (component "gui": the windows).
include(GNUInstallDirs)

# zandrel finds its manual at <executable's folder>/../share/doc/zandrel/manual/index.html.
# CMAKE_INSTALL_DOCDIR is not used: Qt6Core includes GNUInstallDirs first, which fixes it to
# share/doc/Zandrel, and the program does not follow a changed one anyway.
set(zandrel_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/zandrel)
set(zandrel_cli_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/zandrel-cli)
set(zandrel_share ${PROJECT_SOURCE_DIR}/app/share)
set(zandrel_packaging ${PROJECT_SOURCE_DIR}/packaging)

if(TARGET zandrel-cli)
    install(TARGETS zandrel-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
endif()
if(TARGET zandrel)
    install(TARGETS zandrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT gui)
endif()

# ---- man pages, from each program's --help at build time ------------------------------------
# help2man runs the programs just built; docs/man/PROGRAM.h2m adds the sections --help lacks.
find_program(HELP2MAN help2man)
find_program(GZIP gzip)
if(HELP2MAN AND GZIP)
    set(man_pages)
    foreach(program zandrel zandrel-cli)
        if(NOT TARGET ${program})
            continue()
        endif()
        set(include_file ${PROJECT_SOURCE_DIR}/docs/man/${program}.h2m)
        set(page ${PROJECT_BINARY_DIR}/man/${program}.1)
        add_custom_command(
            OUTPUT ${page} ${page}.gz
            COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
            # No display, no Qt platform: --help must not need one.
            COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
                    --unset=QT_QPA_PLATFORM
                    ${HELP2MAN} --no-info --include=${include_file}
                    --version-string=${PROJECT_VERSION} --output=${page} $<TARGET_FILE:${program}>
            COMMAND ${GZIP} -9 -n -c ${page} > ${page}.gz
            DEPENDS ${program} ${include_file}
            COMMENT "Writing the man page of ${program}"
            VERBATIM)
        list(APPEND man_pages ${page}.gz)
    endforeach()
    add_custom_target(man_pages ALL DEPENDS ${man_pages})
    if(TARGET zandrel-cli)
        install(FILES ${PROJECT_BINARY_DIR}/man/zandrel-cli.1.gz
                DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)
    endif()
    if(TARGET zandrel)
        install(FILES ${PROJECT_BINARY_DIR}/man/zandrel.1.gz
                DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT gui)
    endif()
else()
    message(WARNING "help2man or gzip not found: no man pages (scripts/install-deps.sh installs them)")
endif()

# ---- copyright and changelog, in each package's doc folder ---------------------------------
set(changelog_gz ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(
    OUTPUT ${changelog_gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
    COMMAND gzip -9 -n -c ${zandrel_packaging}/changelog > ${changelog_gz}
    DEPENDS ${zandrel_packaging}/changelog
    VERBATIM)
add_custom_target(packaging_changelog ALL DEPENDS ${changelog_gz})
foreach(component cli gui)
    if(component STREQUAL cli)
        set(docdir ${zandrel_cli_docdir})
    else()
        set(docdir ${zandrel_docdir})
    endif()
    install(FILES ${zandrel_packaging}/copyright ${changelog_gz} DESTINATION ${docdir}
            COMPONENT ${component})
endforeach()

# ---- zandrel-cli ---------------------------------------------------------------------------
install(FILES ${zandrel_share}/zandrel-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions
        RENAME zandrel-cli COMPONENT cli)

# ---- zandrel -------------------------------------------------------------------------------
install(FILES ${PROJECT_SOURCE_DIR}/docs/manual/index.html
        DESTINATION ${zandrel_docdir}/manual COMPONENT gui)
# The manual's pictures, at 100% and 200% scale, where it finds them (../screenshots).
file(GLOB manual_pictures CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/screenshots/*.png)
install(FILES ${manual_pictures} DESTINATION ${zandrel_docdir}/screenshots COMPONENT gui)
install(FILES ${zandrel_share}/zandrel.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications COMPONENT gui)
install(FILES ${zandrel_share}/io.github.zandrel.zandrel.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo COMPONENT gui)
install(FILES ${zandrel_share}/zandrel-mime.xml
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/mime/packages
        RENAME zandrel.xml COMPONENT gui)
install(FILES ${zandrel_share}/icons/zandrel.svg
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps COMPONENT gui)
foreach(size 16 22 24 32 48 64 128 256)
    install(FILES ${zandrel_share}/icons/png/${size}x${size}/zandrel.png
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps
            COMPONENT gui)
endforeach()

# ---- CPack: the two .deb files -------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zandrel)
set(CPACK_PACKAGE_VENDOR "Zandrel developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Zandrel developers <zandrel@users.noreply.github.com>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://github.com/zandrel/zandrel")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Release binaries carry no debug sections into the package, whatever the build type.
set(CPACK_STRIP_FILES TRUE)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli gui)
# zandrel Depends on zandrel-cli of the same version: installing the windows gives both.
set(CPACK_COMPONENT_GUI_DEPENDS cli)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${CPACK_PACKAGE_HOMEPAGE_URL}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
# dpkg-shlibdeps finds the libraries. The plugins loaded at run time come with them on
# Debian 12: the xcb platform plugin with libqt6gui6, the multimedia backends (for the alert
# sounds) with libqt6multimedia6; scripts/check-package.sh checks both stay in zandrel's
# Depends, and that zandrel-cli's hold no Gui, Widgets or Multimedia.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_CLI_PACKAGE_NAME zandrel-cli)
set(CPACK_DEBIAN_GUI_PACKAGE_NAME zandrel)
# The summary line first; CPack indents the others and turns the empty one into " .".
set(zandrel_about
    "Zandrel keeps a folder on an FTP or SFTP server in step with the local
folder in which a web site is edited. It remembers each file's last-write
time at its last upload, so an upload sends exactly what changed without
asking the server. Compare checks the server's tree, and server-only files
can be downloaded or removed. FTP over TLS is used whenever the server
offers it, and SFTP (host keys checked as ssh does) where a host offers
only SSH.")
set(CPACK_DEBIAN_CLI_DESCRIPTION
    "web site publisher for FTP and SFTP servers (command line)
${zandrel_about}

This package holds zandrel-cli, for scripts, scheduled jobs and machines
without a display. It needs no graphical libraries.")
set(CPACK_DEBIAN_GUI_DESCRIPTION
    "web site publisher for FTP and SFTP servers (desktop program)
${zandrel_about}

This package holds the desktop program zandrel, with its FTP browser window,
and its manual.")
# The MIME and desktop databases and the icon cache are refreshed by these packages' triggers,
# so the package needs no maintainer scripts. qt6-wayland lets Qt run natively on Wayland
# (else through XWayland); libqt6svg6 draws the SVG icons of the desktop's icon theme.
set(CPACK_DEBIAN_GUI_PACKAGE_RECOMMENDS
    "shared-mime-info, desktop-file-utils, hicolor-icon-theme, qt6-wayland, libqt6svg6")
set(CPACK_DEBIAN_CLI_PACKAGE_SUGGESTS "bash-completion")

include(CPack)
