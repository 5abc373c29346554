#pragma once
#include <QString>

// The values the About alert and the panel's version label are made from (the application's
// Info dictionary on macOS, compiled-in values elsewhere). Empty means missing.
struct TLAppInfo {
    QString displayName; // "潮汐" when missing
    QString version;     // "1.0" when missing
    QString author;
    QString signature;
};

// This build's values.
TLAppInfo TLCurrentAppInfo();

struct TLAboutTexts {
    QString message;
    QString informative;
};

// The description shown in About on this platform.
QString TLAboutDescription();

TLAboutTexts TLComposeAbout(const TLAppInfo& info, const QString& description);
