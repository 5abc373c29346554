#include "platform/TLAppInfo.h"

#ifndef TIDE_DISPLAY_NAME
#define TIDE_DISPLAY_NAME ""
#endif
#ifndef TIDE_VERSION
#define TIDE_VERSION ""
#endif
#ifndef TIDE_AUTHOR
#define TIDE_AUTHOR ""
#endif
#ifndef TIDE_SIGNATURE
#define TIDE_SIGNATURE ""
#endif

// macOS reads the bundle's Info dictionary instead (platform/macos/TLMacAppInfo.cpp).
#ifndef __APPLE__
TLAppInfo TLCurrentAppInfo() {
    return TLAppInfo{QString::fromUtf8(TIDE_DISPLAY_NAME), QString::fromUtf8(TIDE_VERSION),
                     QString::fromUtf8(TIDE_AUTHOR), QString::fromUtf8(TIDE_SIGNATURE)};
}
#endif

QString TLDisplayName(const QString& displayName) {
    return displayName.isEmpty() ? QStringLiteral("潮汐") : displayName;
}
