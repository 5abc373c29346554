#include "app/TLAbout.h"

#include "platform/TLPlatformTexts.h"

QString TLAboutDescriptionMacOS() {
    return TLMacTexts().aboutDescription;
}

QString TLAboutDescriptionLinux() {
    return TLLinuxTexts().aboutDescription;
}

QString TLAboutDescription() {
    return TLThisPlatformTexts().aboutDescription;
}

TLAboutTexts TLComposeAbout(const TLAppInfo& info, const QString& description) {
    const QString name = TLDisplayName(info);
    const QString version = info.version.isEmpty() ? QStringLiteral("1.0") : info.version;
    const QString credit = !info.signature.isEmpty() ? info.signature : info.author;
    TLAboutTexts t;
    t.message = QStringLiteral("%1  v%2").arg(name, version);
    t.informative = description;
    if (!credit.isEmpty()) t.informative += QStringLiteral("\n\n—— %1 出品").arg(credit);
    return t;
}
