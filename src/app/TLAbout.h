#pragma once
#include "platform/TLAppInfo.h"

#include <QString>

struct TLAboutTexts {
    QString message;
    QString informative;
};

// The description shown in About on this platform.
QString TLAboutDescription();

TLAboutTexts TLComposeAbout(const TLAppInfo& info, const QString& description);
