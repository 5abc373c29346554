#include "platform/TLDesktopColors.h"

#include "platform/linux/TLSessionBus.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QPalette>
#include <QStyle>

namespace {

// The value of `key` in section `section` of an INI-style file, or a null string.
QString iniValue(const QString& path, const QString& section, const QString& key) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    bool inSection = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine(4096)).trimmed();
        if (line.startsWith(u'[')) {
            inSection = line == u'[' + section + u']';
            continue;
        }
        if (!inSection) continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq > 0 && line.left(eq).trimmed() == key) return line.mid(eq + 1).trimmed();
    }
    return {};
}

QString configHome() {
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    return xdg.isEmpty() ? QDir::homePath() + QStringLiteral("/.config") : xdg;
}

// A setting the desktop portal keeps (org.freedesktop.portal.Settings.Read), or an invalid value.
QVariant portalSetting(const QString& nameSpace, const QString& key) {
    QDBusConnection bus = TLSessionBus();
    if (!bus.isConnected()) return {};
    QDBusMessage read = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("Read"));
    read << nameSpace << key;
    // No portal answers at once with an error; a portal that hangs must not hang the program.
    const QDBusMessage reply = bus.call(read, QDBus::Block, 300);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    // Read wraps the value in one variant more than the setting itself has.
    QVariant value = reply.arguments().constFirst();
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>())
        value = qvariant_cast<QDBusVariant>(value).variant();
    return value;
}

std::optional<int> portalColorScheme() {
    const QVariant value =
        portalSetting(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"));
    if (!value.isValid()) return {};
    bool ok = false;
    const uint scheme = value.toUInt(&ok);
    if (!ok || (scheme != 1 && scheme != 2)) return {};
    return static_cast<int>(scheme);
}

std::optional<bool> gtkDark() {
    for (const char* dir : {"/gtk-4.0/settings.ini", "/gtk-3.0/settings.ini"}) {
        const QString path = configHome() + QString::fromLatin1(dir);
        const QString prefer = iniValue(path, QStringLiteral("Settings"),
                                        QStringLiteral("gtk-application-prefer-dark-theme"));
        if (prefer == u"1" || prefer.compare(u"true", Qt::CaseInsensitive) == 0) return true;
        const QString theme =
            iniValue(path, QStringLiteral("Settings"), QStringLiteral("gtk-theme-name"));
        if (!theme.isEmpty()) return theme.contains(u"dark", Qt::CaseInsensitive);
        if (!prefer.isNull()) return false;
    }
    return {};
}

QColor kdeWindow() {
    const QString value =
        iniValue(configHome() + QStringLiteral("/kdeglobals"), QStringLiteral("Colors:Window"),
                 QStringLiteral("BackgroundNormal"));
    const QStringList parts = value.split(u',');
    if (parts.size() < 3) return {};
    int rgb[3];
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        rgb[i] = parts[i].trimmed().toInt(&ok);
        if (!ok || rgb[i] < 0 || rgb[i] > 255) return {};
    }
    return QColor(rgb[0], rgb[1], rgb[2]);
}

// A portal's boolean or 0/1 setting; empty where it has none.
std::optional<bool> portalFlag(const QString& nameSpace, const QString& key) {
    const QVariant value = portalSetting(nameSpace, key);
    if (!value.isValid()) return {};
    if (value.userType() == QMetaType::Bool) return value.toBool();
    bool ok = false;
    const uint number = value.toUInt(&ok);
    if (!ok) return {};
    return number == 1;
}

} // namespace

bool TLDesktopWantsHighContrast() {
    TLDesktopColorHints hints;
    hints.portalHighContrast =
        portalFlag(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("contrast"));
    if (!hints.portalHighContrast.value_or(false))
        hints.gnomeHighContrast = portalFlag(QStringLiteral("org.gnome.desktop.a11y.interface"),
                                             QStringLiteral("high-contrast"));
    hints.kdeColorScheme = iniValue(configHome() + QStringLiteral("/kdeglobals"),
                                    QStringLiteral("General"), QStringLiteral("ColorScheme"));
    return TLHighContrastFromHints(hints);
}

std::optional<bool> TLTrayBarIsDark() {
    return TLTrayBarIsDarkFromHints(TLReadDesktopColorHints());
}

std::optional<bool> TLWindowsAreDark() {
    return TLWindowsAreDarkFromHints(TLReadDesktopColorHints());
}

TLDesktopColorHints TLReadDesktopColorHints() {
    TLDesktopColorHints hints;
    hints.currentDesktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    hints.portalColorScheme = portalColorScheme();
    hints.gtkDark = gtkDark();
    hints.kdeWindow = kdeWindow();
    if (qApp && QApplication::style()) {
        const QColor window = QGuiApplication::palette().color(QPalette::Window);
        if (window != QApplication::style()->standardPalette().color(QPalette::Window))
            hints.themePalette = window;
    }
    return hints;
}

namespace {

// The portal's SettingChanged signal, handed on.
class PortalSettingsWatch final : public QObject {
    Q_OBJECT
public:
    PortalSettingsWatch(const QDBusConnection& bus, std::function<void()> changed, QObject* parent)
        : QObject(parent), _bus(bus), _changed(std::move(changed)) {
        // The slot's argument types are looked up by name: QDBusVariant must be known by then.
        qRegisterMetaType<QDBusVariant>();
        _bus.connect(service(), path(), interface(), QStringLiteral("SettingChanged"), this,
                     SLOT(settingChanged(QString, QString, QDBusVariant)));
    }
    ~PortalSettingsWatch() override {
        _bus.disconnect(service(), path(), interface(), QStringLiteral("SettingChanged"), this,
                        SLOT(settingChanged(QString, QString, QDBusVariant)));
    }

private slots:
    void settingChanged(const QString&, const QString&, const QDBusVariant&) { _changed(); }

private:
    static QString service() { return QStringLiteral("org.freedesktop.portal.Desktop"); }
    static QString path() { return QStringLiteral("/org/freedesktop/portal/desktop"); }
    static QString interface() { return QStringLiteral("org.freedesktop.portal.Settings"); }

    QDBusConnection _bus;
    std::function<void()> _changed;
};

} // namespace

void TLWatchDesktopColors(QObject* context, std::function<void()> changed,
                          const QString& connectionName) {
    if (!context) return;
    if (connectionName.isEmpty()) {
        // The session's bus, followed to a new one: a new bus is a new desktop, asked again.
        TLOnSessionBus(
            context,
            [changed](QDBusConnection bus, QObject* owner) {
                new PortalSettingsWatch(bus, changed, owner);
            },
            changed);
        return;
    }
    const QDBusConnection bus(connectionName);
    if (!bus.isConnected()) return;
    new PortalSettingsWatch(bus, std::move(changed), context);
}

#include "TLDesktopColors.moc"
