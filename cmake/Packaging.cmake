# The Debian package (cpack -G DEB in a build with CMAKE_INSTALL_PREFIX /usr,
# see scripts/package.sh): glidescape-render in /usr/bin, the Linux saver and
# its XScreenSaver description where Debian's XScreenSaver looks, its .desktop
# file where the MATE screen saver looks, the man pages, and README,
# changelogs and copyright in /usr/share/doc/glidescape.
# Runtime dependencies come from the binaries (dpkg-shlibdeps); ffmpeg, which
# glidescape-render starts for --video only, is recommended.
include(GNUInstallDirs)

set(GLIDESCAPE_MAINTAINER "Quillon Software <glidescape@quillon-software.example>")
# The date of the current version's release, for the Debian changelog.
set(GLIDESCAPE_RELEASE_DATE "Tue, 08 Dec 2026 12:00:00 +0000")

set(pkgdir ${CMAKE_BINARY_DIR}/package-files)
file(MAKE_DIRECTORY ${pkgdir})

# gzip -9n: no name or time stamp inside, as Debian wants for reproducible docs.
function(glidescape_gzip source output)
  add_custom_command(OUTPUT ${output}
                     COMMAND gzip -9nc ${source} > ${output}
                     DEPENDS ${source} VERBATIM)
endfunction()

set(VERSION ${PROJECT_VERSION})
configure_file(${PROJECT_SOURCE_DIR}/packaging/man/glidescape-render.1 ${pkgdir}/glidescape-render.1 @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/man/glidescape.6 ${pkgdir}/glidescape.6 @ONLY)
file(WRITE ${pkgdir}/changelog.Debian.in
"glidescape (${PROJECT_VERSION}) unstable; urgency=medium

  * Release ${PROJECT_VERSION}; what it brings is in changelog.gz beside this file.

 -- ${GLIDESCAPE_MAINTAINER}  ${GLIDESCAPE_RELEASE_DATE}
")
configure_file(${pkgdir}/changelog.Debian.in ${pkgdir}/changelog.Debian COPYONLY)

glidescape_gzip(${pkgdir}/glidescape-render.1 ${pkgdir}/glidescape-render.1.gz)
glidescape_gzip(${pkgdir}/glidescape.6 ${pkgdir}/glidescape.6.gz)
glidescape_gzip(${pkgdir}/changelog.Debian ${pkgdir}/changelog.Debian.gz)
glidescape_gzip(${PROJECT_SOURCE_DIR}/CHANGELOG.md ${pkgdir}/changelog.gz)
set(package_files ${pkgdir}/glidescape-render.1.gz ${pkgdir}/changelog.Debian.gz ${pkgdir}/changelog.gz)
if(TARGET glidescape)
  list(APPEND package_files ${pkgdir}/glidescape.6.gz)
endif()
add_custom_target(glidescape_package_files ALL DEPENDS ${package_files})

install(TARGETS glidescape-render RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${pkgdir}/glidescape-render.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(TARGET glidescape)
  install(FILES ${pkgdir}/glidescape.6.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
endif()
set(docdir ${CMAKE_INSTALL_DATADIR}/doc/glidescape)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
              ${pkgdir}/changelog.gz ${pkgdir}/changelog.Debian.gz
        DESTINATION ${docdir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME glidescape)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quillon Software")
set(CPACK_PACKAGE_CONTACT ${GLIDESCAPE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "screen saver that flies over fractal landscapes")
# CPack puts the summary first and indents these lines itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Glidescape builds a fractal landscape by spectral synthesis, colours, carves,
floods and lights it, and flies a camera over it, with water that mirrors a
starry sky and coloured rings gliding above the ground.

The package holds glidescape, a screen saver for XScreenSaver, the MATE
screen saver and Wayland compositors (and a live wallpaper there), and
glidescape-render, which flies without a window and saves frames and land
maps as PNG files and, with ffmpeg, the flight as a video.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://glidescape.quillon-software.example/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS ffmpeg)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR OFF)
include(CPack)
