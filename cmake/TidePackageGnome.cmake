# Read by cpack before it installs into the package: the package's GNOME Shell extension is in the
# form of the GNOME Shell of the release the package is built for (the release whose libraries
# dpkg-shlibdeps names), not of whatever GNOME Shell this machine has or lacks. Its version is the
# release's candidate in apt (apt-cache), or the installed one (dpkg-query) where apt has no lists;
# its major goes to the install script in TIDE_PACKAGE_GNOME_SHELL. A form chosen with
# -DTIDE_GNOME_SHELL_FORM is taken as it is.
if(NOT CPACK_TIDE_GNOME_SHELL_FORM STREQUAL "auto")
  return()
endif()
set(tide_release_shell)
execute_process(COMMAND apt-cache show --no-all-versions gnome-shell OUTPUT_VARIABLE tide_apt
                ERROR_QUIET TIMEOUT 60)
if(tide_apt MATCHES "(^|\n)Version: ([0-9]+:)?([0-9][^\n]*)")
  set(tide_release_shell ${CMAKE_MATCH_3})
else()
  execute_process(COMMAND dpkg-query -W "-f=\${db:Status-Abbrev}\${Version}" gnome-shell
                  OUTPUT_VARIABLE tide_dpkg ERROR_QUIET TIMEOUT 60)
  if(tide_dpkg MATCHES "^ii +([0-9]+:)?([0-9].*)")
    set(tide_release_shell ${CMAKE_MATCH_2})
  endif()
endif()
if(NOT tide_release_shell MATCHES "^([0-9]+)")
  message(FATAL_ERROR "The package's GNOME Shell extension: neither apt-cache nor dpkg-query knows "
                      "the release's gnome-shell. Run apt-get update, or configure with "
                      "-DTIDE_GNOME_SHELL_FORM=legacy (GNOME 43, 44), module (45+) or none.")
endif()
set(ENV{TIDE_PACKAGE_GNOME_SHELL} ${CMAKE_MATCH_1})
message(STATUS "The package's GNOME Shell extension: for the release's GNOME Shell ${tide_release_shell}")
