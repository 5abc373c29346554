# Tide's GNOME Shell extension in the two forms GNOME loads, written from one source at configure
# time into build/gnome-shell/<form>/monitor@tide.dev/:
#   legacy  GNOME 43 and 44: scripts that reach the shell through `imports`; a module of theirs
#           exports what it declares with `var` (so the shared class is declared that way)
#   module  GNOME 45 and later: ES modules
set(TIDE_GNOME_EXTENSION_UUID monitor@tide.dev)
set(TIDE_GNOME_EXTENSION_SOURCE ${PROJECT_SOURCE_DIR}/gnome-shell)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${TIDE_GNOME_EXTENSION_SOURCE}/tide.js ${TIDE_GNOME_EXTENSION_SOURCE}/extension-legacy.js
  ${TIDE_GNOME_EXTENSION_SOURCE}/extension-module.js)
file(READ ${TIDE_GNOME_EXTENSION_SOURCE}/tide.js TIDE_GNOME_SHARED)
foreach(form legacy module)
  set(dir ${PROJECT_BINARY_DIR}/gnome-shell/${form}/${TIDE_GNOME_EXTENSION_UUID})
  if(form STREQUAL legacy)
    set(versions "\"43\", \"44\"")
    string(REGEX REPLACE "\nexport class ([A-Za-z]+)" "\nvar \\1 = class \\1" shared
           "${TIDE_GNOME_SHARED}")
  else()
    set(versions "\"45\", \"46\", \"47\", \"48\"")
    set(shared "${TIDE_GNOME_SHARED}")
  endif()
  file(WRITE ${dir}/tide.js "${shared}")
  configure_file(${TIDE_GNOME_EXTENSION_SOURCE}/extension-${form}.js ${dir}/extension.js COPYONLY)
  file(WRITE ${dir}/metadata.json "{
  \"uuid\": \"${TIDE_GNOME_EXTENSION_UUID}\",
  \"name\": \"潮汐\",
  \"description\": \"The memory monitor Tide in the top bar: its gauge and figure, one click for its panel.\",
  \"shell-version\": [${versions}],
  \"version\": 1
}
")
endforeach()

# What `make install` puts in share/gnome-shell/extensions: the form of the GNOME Shell installed
# when installing (found then, so that a build configured before GNOME was installed still gives
# it the form it loads), or nothing where there is none. The Debian package takes the form of its
# release's GNOME Shell instead (TidePackageGnome.cmake). legacy, module or none impose a form.
set(TIDE_GNOME_SHELL_FORM auto CACHE STRING
    "The form of the GNOME Shell extension to install: auto (the installed GNOME Shell's), legacy (GNOME 43, 44), module (45+) or none")
set_property(CACHE TIDE_GNOME_SHELL_FORM PROPERTY STRINGS auto legacy module none)
if(NOT TIDE_GNOME_SHELL_FORM MATCHES "^(auto|legacy|module|none)$")
  message(FATAL_ERROR
    "TIDE_GNOME_SHELL_FORM is '${TIDE_GNOME_SHELL_FORM}': auto, legacy, module or none")
endif()
install(CODE "set(TIDE_GNOME_SHELL_FORM \"${TIDE_GNOME_SHELL_FORM}\")
set(TIDE_GNOME_EXTENSION_UUID \"${TIDE_GNOME_EXTENSION_UUID}\")
set(TIDE_GNOME_EXTENSION_FORMS \"${PROJECT_BINARY_DIR}/gnome-shell\")
set(TIDE_GNOME_EXTENSION_DESTINATION \"${CMAKE_INSTALL_DATADIR}/gnome-shell/extensions\")
include(\"${CMAKE_CURRENT_LIST_DIR}/TideGnomeExtensionInstall.cmake\")")
