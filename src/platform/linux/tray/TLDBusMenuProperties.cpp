#include "platform/linux/tray/TLDBusMenuProperties.h"

#include "platform/TLStatusItem.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>

namespace {

// Qt's mnemonic marker is '&' ("&&" a plain one); the protocol's is '_' ("__" a plain one).
QString protocolLabel(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'&') {
            if (i + 1 < text.size() && text.at(i + 1) == u'&') {
                out += u'&';
                ++i;
            } else if (i + 1 < text.size()) {
                out += u'_';
            }
        } else if (c == u'_') {
            out += QStringLiteral("__");
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

bool TLDBusMenuSingleChoice(const QAction* action) {
    if (action->property(TLSingleChoiceProperty).toBool()) return true;
    const QActionGroup* group = action->actionGroup();
    return group && group->isExclusive();
}

QVariantMap TLDBusMenuProperties(const QAction* action) {
    QVariantMap p;
    if (!action->isVisible()) p.insert(QStringLiteral("visible"), false);
    if (action->isSeparator()) {
        p.insert(QStringLiteral("type"), QStringLiteral("separator"));
        return p;
    }
    p.insert(QStringLiteral("label"), protocolLabel(action->text()));
    if (!action->isEnabled()) p.insert(QStringLiteral("enabled"), false);
    if (!action->icon().name().isEmpty())
        p.insert(QStringLiteral("icon-name"), action->icon().name());
    if (action->menu()) p.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    if (action->isCheckable()) {
        p.insert(QStringLiteral("toggle-type"), TLDBusMenuSingleChoice(action)
                                                    ? QStringLiteral("radio")
                                                    : QStringLiteral("checkmark"));
        p.insert(QStringLiteral("toggle-state"), action->isChecked() ? 1 : 0);
    }
    return p;
}

QVariantMap TLDBusMenuOnly(const QVariantMap& properties, const QStringList& names) {
    if (names.isEmpty()) return properties;
    QVariantMap out;
    for (const QString& name : names) {
        const auto it = properties.constFind(name);
        if (it != properties.constEnd()) out.insert(name, *it);
    }
    return out;
}
