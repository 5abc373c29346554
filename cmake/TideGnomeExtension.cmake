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

# What `make install` puts in share/gnome-shell/extensions: the form of the GNOME Shell found when
# configuring (the module form where none is found, for GNOME as current releases ship it).
set(TIDE_GNOME_SHELL_FORM auto CACHE STRING
    "The form of the GNOME Shell extension to install: auto, legacy (GNOME 43, 44) or module (45+)")
set(form ${TIDE_GNOME_SHELL_FORM})
if(form STREQUAL auto)
  set(form module)
  find_program(TIDE_GNOME_SHELL gnome-shell)
  if(TIDE_GNOME_SHELL)
    execute_process(COMMAND ${TIDE_GNOME_SHELL} --version OUTPUT_VARIABLE version
                    ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(version MATCHES "([0-9]+)\\.")
      if(CMAKE_MATCH_1 LESS 45)
        set(form legacy)
      endif()
    endif()
  endif()
endif()
install(DIRECTORY ${PROJECT_BINARY_DIR}/gnome-shell/${form}/${TIDE_GNOME_EXTENSION_UUID}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/gnome-shell/extensions)
