# Installed layout and the Debian package.
#
# `cmake --install build --prefix /usr` (or a DESTDIR) lays out:
#   bin/varnoks-pilot, bin/varnoks-sensors, bin/varnoks-devsim
#   <plugin dir>/libvarnoks-sensors-*.so             private, found through RPATH
#   share/applications/varnoks-pilot.desktop, share/icons/hicolor/*/apps/
#   share/metainfo/example.varnoks_pilot.VarnoksPilot.metainfo.xml
#   share/varnoks-pilot/keys/*.pub                   trusted update keys (src/CMakeLists.txt)
#   share/man/man1/varnoks-pilot.1.gz, varnoks-sensors.1.gz, varnoks-devsim.1.gz
#   <udevdir>/rules.d/70-varnoks-pilot.rules         (packaging/CMakeLists.txt)
#   share/doc/varnoks-pilot/                          README, docs, copyright, changelog
#
# Destinations other than the udev rule's are relative to the prefix, so one
# build tree installs to /usr/local, /usr or a staging root alike; the
# package is made from the ordinary build tree with cpack, no second build.

set(VARNOKS_DOC_DIR "${CMAKE_INSTALL_DATADIR}/doc/varnoks-pilot")

# The sensor plugins are opened by plain file name (QLibrary, i.e. dlopen
# called from inside Qt). A DT_RUNPATH only serves the object that holds it,
# so Qt's dlopen would never see the executable's; a DT_RPATH of the
# executable is also searched for libraries its dependencies open. Hence
# old-style RPATH for the two programs that load a plugin.
foreach(program varnoks-pilot varnoks-sensors)
  if(TARGET ${program})
    set_property(TARGET ${program} APPEND PROPERTY LINK_OPTIONS "LINKER:--disable-new-dtags")
  endif()
endforeach()

# The simulator is a tool for people without the hardware, shipped too.
if(TARGET varnoks-devsim)
  install(TARGETS varnoks-devsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Documentation. Debian wants the changelog compressed with gzip -9n (no
# name, no time stamp) so that builds are reproducible.
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION ${VARNOKS_DOC_DIR})
file(GLOB VARNOKS_DOCS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)
if(VARNOKS_DOCS)
  install(FILES ${VARNOKS_DOCS} DESTINATION ${VARNOKS_DOC_DIR})
endif()
find_program(GZIP_EXE gzip REQUIRED)
set(VARNOKS_CHANGELOG_GZ ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(
  OUTPUT ${VARNOKS_CHANGELOG_GZ}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND ${GZIP_EXE} -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog > ${VARNOKS_CHANGELOG_GZ}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
  VERBATIM)
add_custom_target(varnoks_changelog ALL DEPENDS ${VARNOKS_CHANGELOG_GZ})
install(FILES ${VARNOKS_CHANGELOG_GZ} DESTINATION ${VARNOKS_DOC_DIR})

# Manual pages: hand-written roff in docs/man, the version filled in at
# configure time, compressed like the changelog.
set(VARNOKS_MAN_PAGES varnoks-pilot varnoks-sensors varnoks-devsim)
set(VARNOKS_MAN_GZ)
foreach(page ${VARNOKS_MAN_PAGES})
  set(roff ${CMAKE_BINARY_DIR}/man/${page}.1)
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/${page}.1.in ${roff} @ONLY)
  add_custom_command(
    OUTPUT ${roff}.gz
    COMMAND ${GZIP_EXE} -9nc ${roff} > ${roff}.gz
    DEPENDS ${roff}
    VERBATIM)
  list(APPEND VARNOKS_MAN_GZ ${roff}.gz)
endforeach()
add_custom_target(varnoks_man_pages ALL DEPENDS ${VARNOKS_MAN_GZ})
install(FILES ${VARNOKS_MAN_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Debian package of the installed tree: `cpack -G DEB` in the build tree, or
# scripts/package.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "varnoks-pilot")
set(CPACK_PACKAGE_VENDOR "Brindlex")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "VarnoksPilot maintainers <maintainers@varnoks-pilot.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tray program that feeds USB sensor displays")
# CPack indents every line of the long description by one blank itself.
set(CPACK_PACKAGE_DESCRIPTION
    "VarnoksPilot sits in the system tray, reads the CPU temperature, the GPU\ntemperature and the CPU fan speed, and keeps every attached USB display\n(2e3c:0a12) supplied with them twice a second.")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://varnoks-pilot.example/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The same architecture name the program looks for on the update server.
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "${VARNOKS_DEB_ARCH}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Library dependencies come from dpkg-shlibdeps; ping is run for the
# requested update check.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "iputils-ping")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "lm-sensors, fonts-noto-cjk, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gnome-shell-extension-appindicator")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
include(CPack)
