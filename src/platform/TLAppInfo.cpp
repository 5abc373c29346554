#include "platform/TLAppInfo.h"

QString TLDisplayName(const QString& displayName) {
    return displayName.isEmpty() ? QStringLiteral("潮汐") : displayName;
}
