// The application's descriptive values on Linux: compiled in from the build. (macOS reads the
// bundle's Info dictionary.)
#include "platform/TLAppInfo.h"
#include "platform/TLBuildConfig.h"

TLAppInfo TLCurrentAppInfo() {
    return TLAppInfo{QString::fromUtf8(TIDE_DISPLAY_NAME), QString::fromUtf8(TIDE_VERSION),
                     QString::fromUtf8(TIDE_AUTHOR), QString::fromUtf8(TIDE_SIGNATURE)};
}
