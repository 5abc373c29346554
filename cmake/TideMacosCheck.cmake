# `make check-macos` (scripts/macos-check) puts the macOS bundle together on Linux: its Info
# dictionary is written here from the same template and values the bundle gets on macOS.
function(tide_write_macos_info_plist out)
  set(MACOSX_BUNDLE_BUNDLE_NAME "${TIDE_DISPLAY_NAME}")
  set(MACOSX_BUNDLE_EXECUTABLE_NAME "${TIDE_DISPLAY_NAME}")
  set(MACOSX_BUNDLE_GUI_IDENTIFIER "${TIDE_APP_ID}")
  set(MACOSX_BUNDLE_BUNDLE_VERSION "${PROJECT_VERSION}")
  set(MACOSX_BUNDLE_SHORT_VERSION_STRING "${PROJECT_VERSION}")
  configure_file(${PROJECT_SOURCE_DIR}/src/platform/macos/Info.plist.in ${out})
endfunction()
tide_write_macos_info_plist(${PROJECT_BINARY_DIR}/macos-check/Info.plist)
