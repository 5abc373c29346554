# What `make install` puts where, and the Debian package `make package` builds from it.
# Documentation under the package's name, as Debian wants it (not the project's "Tide").
set(CMAKE_INSTALL_DOCDIR share/doc/tide)
include(GNUInstallDirs)

set(TIDE_HOMEPAGE "https://tide.invalid" CACHE STRING
    "The project's home page, named in the AppStream metainfo and the package")
set(TIDE_SCREENSHOT_BASE_URL "${TIDE_HOMEPAGE}/docs" CACHE STRING
    "Where the metainfo's screenshots (panel-light.png, panel-dark.png) are published")
set(TIDE_PACKAGE_MAINTAINER "Tide developers <tide@tide.invalid>" CACHE STRING
    "Maintainer field of the Debian package")
set(TIDE_ICON_SIZES 16 24 32 48 64 128 256)

# Directories an install creates are rwxr-xr-x whatever the umask (the package's too).
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS tide tide-sample RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES data/dev.tide.monitor.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES data/icons/dev.tide.monitor.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size ${TIDE_ICON_SIZES})
  install(FILES data/icons/dev.tide.monitor-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME dev.tide.monitor.png)
endforeach()
configure_file(data/dev.tide.monitor.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/data/dev.tide.monitor.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/data/dev.tide.monitor.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Manual pages and the changelog go in compressed, without a time stamp (reproducible).
set(TIDE_GZIPPED)
foreach(pair "man/tide.1|tide.1" "man/tide-sample.1|tide-sample.1" "changelog|changelog")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 source)
  list(GET pair 1 name)
  set(output ${PROJECT_BINARY_DIR}/data/${name}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND gzip -n -9 -c ${PROJECT_SOURCE_DIR}/data/${source} > ${output}
    DEPENDS ${PROJECT_SOURCE_DIR}/data/${source} VERBATIM)
  list(APPEND TIDE_GZIPPED ${output})
endforeach()
add_custom_target(tide_data ALL DEPENDS ${TIDE_GZIPPED})
install(FILES ${PROJECT_BINARY_DIR}/data/tide.1.gz ${PROJECT_BINARY_DIR}/data/tide-sample.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES data/copyright ${PROJECT_BINARY_DIR}/data/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

include(${CMAKE_CURRENT_LIST_DIR}/TideGnomeExtension.cmake)

# --- The Debian package: build/tide_<version>_<arch>.deb, installed under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tide)
set(CPACK_PACKAGE_VENDOR "Tide developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "memory and energy monitor in the system tray")
# The package's long description; the summary above is its first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tide shows a bar gauge of memory use and a percentage in the system tray.
A click opens a panel with the memory breakdown, a history graph, memory
pressure, swap, the CPU load and the processes that use the most memory or
energy. tide-sample prints the same figures as JSON lines for scripts.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TIDE_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${TIDE_HOMEPAGE}")
# Libraries from dpkg-shlibdeps; the Chinese font and Qt's own translations are wanted, not needed.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-wayland")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The GNOME Shell extension in the form of the package's release, read by cpack.
set(CPACK_TIDE_GNOME_SHELL_FORM ${TIDE_GNOME_SHELL_FORM})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/TidePackageGnome.cmake)
include(CPack)
