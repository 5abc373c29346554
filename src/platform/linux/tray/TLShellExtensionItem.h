#pragma once
// The status item as a button in GNOME Shell's top bar, drawn by Tide's own shell extension. The
// extension holds the bus name dev.tide.monitor.GnomeShell while it is enabled; Tide then holds
// dev.tide.monitor while its item is there, and the extension shows the button exactly while
// that name has an owner. So there is never a second icon: the item that leaves releases its
// name before another host's item comes.
//
// On the bus, at /StatusItem, interface dev.tide.monitor.StatusItem:
//   Title           s   the status title (the figure, as the bar shows it beside the picture)
//   AccessibleName  s   the tool tip's text, for the button's accessible name
//   PictureSerial   u   grows when the picture changes
//   Picture(i h)    ay  the picture (the gauge) as PNG, h device pixels high
//   Changed(s title, s accessibleName, u pictureSerial)
//                       the three as they now are: one signal for the changes of one update,
//                       none for a repeat; the picture is worth asking for only when its serial
//                       grew
//   Activate(i x, i y, i w, i h)     a click on the button at that rectangle of the screen
//   ContextMenu(i x, i y, i w, i h)  a right click (or Control + click) there: Tide's own menu
// The button's rectangle becomes the anchor: the panel and the menu open under it.
// The settings menu is at /StatusItem/Menu as com.canonical.dbusmenu (TLDBusMenuExporter.h): the
// extension shows it as a menu of the shell's own, which takes the keyboard and closes on a click
// anywhere on a Wayland session too, where a menu of an X11 client has neither. ContextMenu is
// for an extension that cannot read it.

#include "platform/TLDesktop.h"
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
