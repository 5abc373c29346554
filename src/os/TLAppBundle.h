#pragma once
#include "os/TLAppIdentity.h"

#include <string>
#include <string_view>

// What a macOS app bundle's Info dictionary says of it (a missing or non-string value is empty).
struct TLBundleInfo {
    std::string identifier;  // CFBundleIdentifier
    std::string displayName; // CFBundleDisplayName
    std::string name;        // CFBundleName
    std::string iconFile;    // CFBundleIconFile, as written (the ".icns" may be left out)
};

// The outermost ".app" bundle around an executable: helpers live inside their application's
// bundle ("/Applications/Firefox.app/Contents/MacOS/plugin-container.app/Contents/MacOS/…" is
// Firefox's). Empty when the path is in no bundle, or is not absolute.
std::string TLOutermostAppBundle(std::string_view exePath);

// The application of the bundle at `bundlePath`: key "app:" with its identifier (its path where
// it has none), named by CFBundleDisplayName, else CFBundleName, else the bundle's file name
// without ".app"; its icon the icon file in the bundle's resources.
TLAppIdentity TLAppFromBundle(const std::string& bundlePath, const TLBundleInfo& info);
