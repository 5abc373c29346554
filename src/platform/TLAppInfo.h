#pragma once
#include <QString>

// The application's descriptive values: the bundle's Info dictionary on macOS, values compiled in
// from the build elsewhere. Empty means missing.
struct TLAppInfo {
    QString displayName; // CFBundleDisplayName
    QString version;     // CFBundleShortVersionString
    QString author;      // TLAuthor
    QString signature;   // TLSignature
};

// This build's values.
TLAppInfo TLCurrentAppInfo();

// The name the program goes by: `displayName`, or 潮汐 when there is none.
QString TLDisplayName(const QString& displayName);
inline QString TLDisplayName(const TLAppInfo& info) {
    return TLDisplayName(info.displayName);
}
