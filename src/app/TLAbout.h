#pragma once
#include "platform/TLAppInfo.h"

#include <QString>

struct TLAboutTexts {
    QString message;
    QString informative;
};

// The description shown in About on this platform: one of the two below.
QString TLAboutDescription();
QString TLAboutDescriptionMacOS();
QString TLAboutDescriptionLinux();

TLAboutTexts TLComposeAbout(const TLAppInfo& info, const QString& description);
