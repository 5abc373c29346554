# Part of the install script (cmake_install.cmake): Tide's GNOME Shell extension, in the form of
# the GNOME Shell it is for, chosen when installing. With TIDE_GNOME_SHELL_FORM auto that is the
# GNOME Shell on the PATH now, or, in the Debian package, the one of the package's release (its
# major version in the environment's TIDE_PACKAGE_GNOME_SHELL, set by TidePackageGnome.cmake);
# where there is none, nothing is installed and one line says so. file(INSTALL) puts the files in
# the install manifest, which `make uninstall` removes.
#   TIDE_GNOME_SHELL_FORM             auto, legacy, module or none
#   TIDE_GNOME_EXTENSION_UUID         monitor@tide.dev
#   TIDE_GNOME_EXTENSION_FORMS        the build's gnome-shell/, holding <form>/<uuid>/
#   TIDE_GNOME_EXTENSION_DESTINATION  share/gnome-shell/extensions, under the prefix
set(tide_extension "Tide's GNOME Shell extension (${TIDE_GNOME_EXTENSION_UUID})")
set(tide_form ${TIDE_GNOME_SHELL_FORM})
if(tide_form STREQUAL "auto")
  if(DEFINED ENV{TIDE_PACKAGE_GNOME_SHELL})
    set(tide_shell_major "$ENV{TIDE_PACKAGE_GNOME_SHELL}")
  else()
    find_program(tide_shell gnome-shell NO_CACHE)
    if(NOT tide_shell)
      message(STATUS "Skipped ${tide_extension}: no GNOME Shell found (no gnome-shell on the "
                     "PATH); `make install` after installing GNOME Shell adds it")
      return()
    endif()
    execute_process(COMMAND "${tide_shell}" --version OUTPUT_VARIABLE tide_shell_version
                    ERROR_QUIET TIMEOUT 10 OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT tide_shell_version MATCHES "^GNOME Shell ([0-9]+)")
      message(STATUS "Skipped ${tide_extension}: `${tide_shell} --version` names no version "
                     "('${tide_shell_version}'); configure with -DTIDE_GNOME_SHELL_FORM=legacy "
                     "(GNOME 43, 44) or module (45 and later) to install it")
      return()
    endif()
    set(tide_shell_major ${CMAKE_MATCH_1})
  endif()
  if(tide_shell_major LESS 45)
    set(tide_form legacy)
  else()
    set(tide_form module)
  endif()
  # GNOME marks an extension that does not name its version out of date, and does not run it.
  file(READ "${TIDE_GNOME_EXTENSION_FORMS}/${tide_form}/${TIDE_GNOME_EXTENSION_UUID}/metadata.json"
       tide_metadata)
  string(JSON tide_versions GET "${tide_metadata}" shell-version)
  string(REGEX REPLACE "[][\" ]" "" tide_versions "${tide_versions}")
  string(REPLACE "," ";" tide_versions "${tide_versions}")
  list(FIND tide_versions "${tide_shell_major}" tide_listed)
  if(tide_listed EQUAL -1)
    string(REPLACE ";" ", " tide_versions "${tide_versions}")
    message(STATUS "${tide_extension} is made for GNOME Shell ${tide_versions}, not "
                   "${tide_shell_major}: GNOME will show it as out of date")
  endif()
endif()
if(tide_form STREQUAL "none")
  message(STATUS "Skipped ${tide_extension}: TIDE_GNOME_SHELL_FORM is none")
  return()
endif()
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${TIDE_GNOME_EXTENSION_DESTINATION}"
     TYPE DIRECTORY FILES "${TIDE_GNOME_EXTENSION_FORMS}/${tide_form}/${TIDE_GNOME_EXTENSION_UUID}")
