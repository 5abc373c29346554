#pragma once
// The status item as a button in GNOME Shell's top bar, drawn by Tide's own shell extension,
// which shows the button exactly while Tide holds the bus name dev.tide.monitor. Its interface on
// the bus (dev.tide.monitor.StatusItem at /StatusItem): docs/tray-on-linux.md.

#include "platform/TLStatusItem.h"
#include "platform/linux/TLSessionBus.h"

#include <QDBusConnection>
#include <QIcon>
#include <QRect>
#include <QString>
#include <QTimer>

#include <functional>

#include <memory>

class QDBusServiceWatcher;
class TLDBusMenuExporter;
class TLShellExtensionItemAdaptor;

// The names on the bus.
inline constexpr char TLShellExtensionService[] = "dev.tide.monitor.GnomeShell";
inline constexpr char TLShellItemService[] = "dev.tide.monitor";
inline constexpr char TLShellItemMenuPath[] = "/StatusItem/Menu";

class TLShellExtensionItem final : public TLStatusItem {
    Q_OBJECT
public:
    explicit TLShellExtensionItem(QDBusConnection bus = TLSessionBus());
    ~TLShellExtensionItem() override;

    // Whether the item is on the bus under its name.
    bool isExported() const { return _exported; }
    bool isDetached() const override { return !_exported || !_bus.isConnected(); }

    void setIcon(const QIcon& icon, quint64 key) override;
    void setTitle(const QString& title) override;
    void setToolTip(const QString& text) override;
    bool showsTitleAsText() const override { return true; }
    QRect geometry() const override { return _button; }
    void popUpMenu(QMenu* menu) override;
    void setContextMenu(QMenu* menu) override;

    // What the adaptor reads and is told.
    QString title() const { return _title; }
    QString accessibleName() const { return _toolTip; }
    uint pictureSerial() const { return _pictureSerial; }
    QByteArray picture(int height) const;
    void buttonClicked(Button button, const QRect& rect);

private:
    void changed();

    QDBusConnection _bus;
    TLShellExtensionItemAdaptor* _adaptor = nullptr;
    std::unique_ptr<TLDBusMenuExporter> _menu;
    bool _exported = false;
    QIcon _icon;
    quint64 _key = 0;
    bool _hasIcon = false;
    QString _title;
    QString _toolTip;
    uint _pictureSerial = 0;
    QTimer _changed; // the update's changes, told in one signal
    // The last picture asked for: the extension asks again at each change of the bar's scale.
    mutable QByteArray _png;
    mutable int _pngHeight = 0;
    mutable uint _pngSerial = 0;
    QRect _button;
};

// Whether Tide's shell extension is enabled: its name is on the session bus.
bool TLShellExtensionPresent(QDBusConnection bus = TLSessionBus());
// Calls `changed` when the extension's name comes, goes or changes hands. Owned by `parent`.
QObject* TLWatchShellExtension(std::function<void()> changed, QObject* parent,
                               QDBusConnection bus = TLSessionBus());
