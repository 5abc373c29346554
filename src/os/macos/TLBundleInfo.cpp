// A bundle's Info dictionary, read through CoreFoundation.

#include "os/macos/TLBundleInfo.h"

#include <CoreFoundation/CoreFoundation.h>

#include <vector>

namespace {

// The string value of `key` in the bundle's Info dictionary; empty when missing or not a string.
std::string infoString(CFBundleRef bundle, const char* key) {
    CFStringRef name = CFStringCreateWithCString(kCFAllocatorDefault, key, kCFStringEncodingUTF8);
    if (name == nullptr) return {};
    // The value belongs to the bundle (a "Get" function): only the key is released.
    CFTypeRef value = CFBundleGetValueForInfoDictionaryKey(bundle, name);
    CFRelease(name);
    if (value == nullptr || CFGetTypeID(value) != CFStringGetTypeID()) return {};
    const auto text = static_cast<CFStringRef>(value);
    const CFIndex size =
        CFStringGetMaximumSizeForEncoding(CFStringGetLength(text), kCFStringEncodingUTF8) + 1;
    if (size <= 1 || size > 64 * 1024) return {};
    std::vector<char> buffer(static_cast<size_t>(size));
    if (!CFStringGetCString(text, buffer.data(), size, kCFStringEncodingUTF8)) return {};
    return std::string(buffer.data());
}

} // namespace

bool TLReadBundleInfo(const std::string& bundlePath, TLBundleInfo& out) {
    CFURLRef url = CFURLCreateFromFileSystemRepresentation(
        kCFAllocatorDefault, reinterpret_cast<const UInt8*>(bundlePath.data()),
        static_cast<CFIndex>(bundlePath.size()), true);
    if (url == nullptr) return false;
    CFBundleRef bundle = CFBundleCreate(kCFAllocatorDefault, url);
    CFRelease(url);
    if (bundle == nullptr) return false;
    out.identifier = infoString(bundle, "CFBundleIdentifier");
    out.displayName = infoString(bundle, "CFBundleDisplayName");
    out.name = infoString(bundle, "CFBundleName");
    out.iconFile = infoString(bundle, "CFBundleIconFile");
    CFRelease(bundle);
    return true;
}
