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
