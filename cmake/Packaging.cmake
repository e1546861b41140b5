# What an installation holds, the build tree's copy of the help, and the
# Debian package (cpack -G DEB). The files themselves live in dist/.
#
#   programs        bin/vorsal, vorsal-key, vorsal-modem-sim, vorsal-cli
#   menu entry      share/applications/org.vorsal.Vorsal.desktop
#   icon            share/icons/hicolor/{scalable,NxN}/apps/org.vorsal.Vorsal.*
#   AppStream       share/metainfo/org.vorsal.Vorsal.metainfo.xml
#   manual pages    share/man/man1/*.1.gz (every dist/man/*.1)
#   help            share/doc/vorsal/Vorsal.html + Vorsal-images/, copyright, changelog.gz

# The documentation directory is named after the package, not the project.
if(NOT CMAKE_INSTALL_DOCDIR)
  set(CMAKE_INSTALL_DOCDIR share/doc/vorsal)
endif()
include(GNUInstallDirs)

set(VORSAL_APP_ID "org.vorsal.Vorsal")
set(VORSAL_MAINTAINER "Vorsal developers <maintainers@vorsal.org>" CACHE STRING "Maintainer of the package")
set(VORSAL_RELEASE_DATE "2026-12-07")  # the date of this version's release, for metainfo and changelog
set(dist ${PROJECT_SOURCE_DIR}/dist)
set(generated ${PROJECT_BINARY_DIR}/dist)

# The program finds its installed help relative to its own directory, so an
# unpacked package (dpkg-deb -x) finds it as well as an installed one.
file(RELATIVE_PATH doc_from_bin ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DOCDIR})
target_compile_definitions(vorsal_app PRIVATE
  VORSAL_INSTALLED_LAYOUT=$<BOOL:${VORSAL_INSTALLED_LAYOUT}>
  VORSAL_DOC_FROM_BIN="${doc_from_bin}")

# --- Programs
set(programs vorsal vorsal-key vorsal-modem-sim)
if(TARGET vorsal-cli)
  list(APPEND programs vorsal-cli)
endif()
install(TARGETS ${programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# --- Help: beside the executables in the build tree (F1 finds it in AppDir),
# in the documentation directory when installed.
file(GLOB help_images CONFIGURE_DEPENDS ${dist}/help/Vorsal-images/*.png)
configure_file(${dist}/help/Vorsal.html ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/Vorsal.html COPYONLY)
foreach(image ${help_images})
  get_filename_component(name ${image} NAME)
  configure_file(${image} ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/Vorsal-images/${name} COPYONLY)
endforeach()
install(FILES ${dist}/help/Vorsal.html DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${help_images} DESTINATION ${CMAKE_INSTALL_DOCDIR}/Vorsal-images)

# --- Desktop entry, icon, AppStream metainfo
install(FILES ${dist}/${VORSAL_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${dist}/icons/${VORSAL_APP_ID}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${dist}/icons/${size}x${size}/${VORSAL_APP_ID}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
configure_file(${dist}/${VORSAL_APP_ID}.metainfo.xml.in ${generated}/${VORSAL_APP_ID}.metainfo.xml @ONLY)
install(FILES ${generated}/${VORSAL_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# --- Manual pages and the package's changelog, compressed as Debian wants
# them (gzip -n: no name or time stamp, so the bytes are reproducible).
file(GLOB man_pages CONFIGURE_DEPENDS ${dist}/man/*.1)
configure_file(${dist}/debian/changelog.in ${generated}/changelog @ONLY)
set(compressed)
foreach(file ${man_pages} ${generated}/changelog)
  get_filename_component(name ${file} NAME)
  add_custom_command(OUTPUT ${generated}/${name}.gz
    COMMAND gzip -9 -n -c ${file} > ${generated}/${name}.gz
    DEPENDS ${file} VERBATIM)
  list(APPEND compressed ${generated}/${name}.gz)
endforeach()
add_custom_target(vorsal_dist_files ALL DEPENDS ${compressed})
foreach(page ${man_pages})
  get_filename_component(name ${page} NAME)
  install(FILES ${generated}/${name}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
install(FILES ${dist}/debian/copyright ${generated}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# --- The Debian package: cpack -G DEB in a build configured with
# -DCMAKE_BUILD_TYPE=Release -DVORSAL_INSTALLED_LAYOUT=ON.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorsal)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Vorsal developers")
set(CPACK_PACKAGE_CONTACT "${VORSAL_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VORSAL_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window needs the platform plugins, which the libraries only recommend;
# the desktop's document opener shows the help.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "configure serial data modems
Vorsal reads and sets the network address, the network and the
encryption key of serial data modems connected through a USB-serial
adapter, and reads back the modem's firmware version and key footprint.
A batch of modems can be addressed in sequence with automatic address
increment.

The package holds the window program, its command-line tools and the
modem simulator vorsal-modem-sim for trying them without a modem.")
include(CPack)
