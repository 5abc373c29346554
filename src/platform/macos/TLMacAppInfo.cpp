// The application's descriptive values on macOS: the main bundle's Info dictionary (Info.plist),
// read through CoreFoundation. A key that is missing or not a string reads as empty.

#include "platform/TLAppInfo.h"

#include <CoreFoundation/CoreFoundation.h>

namespace {

QString infoString(const char* key) {
    CFBundleRef bundle = CFBundleGetMainBundle();
    if (bundle == nullptr) return {};
    CFStringRef name = CFStringCreateWithCString(kCFAllocatorDefault, key, kCFStringEncodingUTF8);
    if (name == nullptr) return {};
    // The value belongs to the bundle (a "Get" function): only the key is released.
    CFTypeRef value = CFBundleGetValueForInfoDictionaryKey(bundle, name);
    CFRelease(name);
    if (value == nullptr || CFGetTypeID(value) != CFStringGetTypeID()) return {};
    return QString::fromCFString(static_cast<CFStringRef>(value));
}

} // namespace

TLAppInfo TLCurrentAppInfo() {
    return TLAppInfo{infoString("CFBundleDisplayName"), infoString("CFBundleShortVersionString"),
                     infoString("TLAuthor"), infoString("TLSignature")};
}
