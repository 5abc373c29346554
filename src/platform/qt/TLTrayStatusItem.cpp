// The status item: Qt's tray icon in an XEmbed tray on Linux and in the menu bar on macOS, or the
// item a host's probe makes (Tide's own StatusNotifierItem on Linux). Which host is there is the
// host switch's answer (platform/TLStatusHost.h); without one the item waits for one.

#include "platform/TLDesktopColors.h"
#include "platform/TLSessionPlatform.h"
#include "platform/TLStatusHost.h"
#include "platform/TLStatusItem.h"
#include "platform/TLWindowSystem.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolTip>

#include <optional>

namespace {

// How often the item looks for a tray host: often while there is none (a desktop that starts
// its panel after us). Once one shows the item, the hosts' own announcements tell when to look
// again (the tray ending, a watcher or host leaving the bus, the bus itself ending or coming
// back); the rare look after that is only for a host that leaves without a word. Each look asks the
// hosts (a round trip to the X server or the bus, and wakeups in a program that is otherwise asleep
// between ticks), so it is made every five minutes.
constexpr int kHostCheckWithoutTrayMs = 1000;
constexpr int kHostCheckWithTrayMs = 300000;

// The item in the tray. Qt decides once per process, when the first tray icon is made, whether
// it talks to a StatusNotifierItem host over D-Bus or to an embedding tray; made before any host
// runs, the icon would stay with the embedding protocol, which Wayland panels and GNOME's tray
// extension never show. So the tray icon is made only once a host is seen. It is shown in one
// host at a time: a host with an item of its own (Tide's StatusNotifierItem) takes the place of
// the tray icon, which is deleted first, and the other way round.
class TrayStatusItem final : public TLStatusItem {
public:
    TrayStatusItem() {
        _hostCheck.setSingleShot(true);
        connect(&_hostCheck, &QTimer::timeout, this, [this] { checkHost(); });
        // A host's announcement is followed by its setting up: look a moment later, once for a
        // burst.
        _hostWatch = TLWatchStatusHosts(TLSystemStatusHosts(), [this] { _hostCheck.start(250); });
        checkHost();
    }

    bool trayAvailable() const override { return _trayAvailable; }
    bool trayMayReturnSoon() const override { return _trayMayReturnSoon; }

    void setIcon(const QIcon& icon, quint64 key) override {
        if (_hasIcon && key == _key) return;
        _key = key;
        _hasIcon = true;
        _icon = icon;
        if (_own) _own->setIcon(icon, key);
        if (_tray) {
            _tray->setIcon(icon);
            if (!_tray->isVisible()) _tray->show();
        }
    }
    void setTitle(const QString& title) override {
        _title = title;
        if (_own) _own->setTitle(title);
    }
    bool hasRoomBesideImage() const override { return TLStatusHostHasRoomBesideImage(_host); }
    bool showsTitleAsText() const override { return _own && _own->showsTitleAsText(); }
    void setToolTip(const QString& toolTip) override {
        _toolTip = toolTip;
        publishToolTip();
    }
    void setToolTipSuppressed(bool suppressed) override {
        _toolTipSuppressed = suppressed;
        if (suppressed) QToolTip::hideText();
        if (_own) _own->setToolTipSuppressed(suppressed);
        publishToolTip();
    }
    QRect geometry() const override {
        if (_own) return _own->geometry();
        return _tray ? _tray->geometry() : QRect();
    }
    QRect anchor() const override {
        const QRect g = geometry();
        if (g.isValid() && !g.isEmpty()) return g;
        // The host sent the click's position and Qt dropped it (the pointer was there), or the
        // item kept it.
        if (!_lastClick) return {};
        // On a bar along the top or bottom edge, the popover goes beyond the bar, not over it.
        const QRect bar = _lastClickBar;
        if (bar.contains(*_lastClick) && bar.width() > bar.height() * 3)
            return QRect(_lastClick->x(), bar.top(), 1, bar.height());
        // Otherwise what the item made of the host's click (the bar's band it estimates).
        if (_own && !_ownAnchor.isEmpty()) return _ownAnchor;
        return QRect(*_lastClick, QSize(1, 1));
    }
    std::optional<QPoint> clickHint() const override {
        return _own ? _own->clickHint() : std::nullopt;
    }
    // Qt publishes the context menu over DBusMenu on a StatusNotifierItem host (the item then
    // advertises it, and the host shows it on a right click); an embedding tray pops it up at the
    // press.
    void setContextMenu(QMenu* menu) override {
        _menu = menu;
        if (_own) _own->setContextMenu(menu);
        if (_tray) _tray->setContextMenu(menu);
    }

    // Where the host tells where the item is, the bar's own pixels around the icon.
    QColor backgroundColor() const override { return TLTrayBarColorFromScreen(geometry()); }

    void popUpMenu(QMenu* menu) override {
        if (_own) {
            _own->popUpMenu(menu);
            return;
        }
        const QRect g = geometry();
        QPoint at = QCursor::pos();
        if (g.isValid() && !g.isEmpty()) {
            const QScreen* screen = QGuiApplication::screenAt(g.center());
            const bool bottomPanel = screen && g.center().y() > screen->geometry().center().y();
            at = bottomPanel ? QPoint(g.left(), g.top() - menu->sizeHint().height())
                             : g.bottomLeft() + QPoint(0, 1);
        }
        menu->exec(at);
    }

private:
    void checkHost() {
        _host = TLPickStatusHost(TLSystemStatusHosts());
        const bool present = _host != TLStatusHost::NoTrayWindow;
        if (present) showInHost();
        _hostCheck.start(present ? kHostCheckWithTrayMs : kHostCheckWithoutTrayMs);
        if (present == _trayAvailable) return;
        _trayAvailable = present;
        // The host's own item lost its bus: the hosts on that bus went with it.
        _trayMayReturnSoon = present || !(_own && _own->isDetached());
        emit trayAvailabilityChanged(present);
    }

    // Into the host the switch picked. Without a host the item stays where it was, unseen, and
    // ready for the host's return.
    void showInHost() {
        // An item of the host's own making on a bus that is gone is made again on the new one.
        if (_shownIn == _host && (_own ? !_own->isDetached() : bool(_tray))) return;
        _shownIn = _host;
        const TLStatusHostProbe* probe = TLFindStatusHostProbe(TLSystemStatusHosts(), _host);
        // One icon at a time: the one that leaves goes before the other comes.
        _own.reset();
        if (probe && probe->makeItem) {
            _tray.reset();
            _own = probe->makeItem();
        }
        if (_own)
            adoptOwnItem();
        else if (!_tray)
            makeTray(); // also where the host's own item could not be made
    }

    void adoptOwnItem() {
        connect(_own.get(), &TLStatusItem::clicked, this,
                [this](TLStatusItem::Button button, bool control) {
                    _ownAnchor = _own->anchor();
                    _lastClick = _ownAnchor.isEmpty() ? pointerOnScreen() : _ownAnchor.topLeft();
                    _lastClickBar = _lastClick ? TLTopLevelWindowRectAt(*_lastClick) : QRect();
                    emit clicked(button, control);
                });
        if (_hasIcon) _own->setIcon(_icon, _key);
        _own->setTitle(_title);
        _own->setToolTip(_toolTip);
        _own->setToolTipSuppressed(_toolTipSuppressed);
        if (_menu) _own->setContextMenu(_menu);
    }

    // Where the pointer is on the screen; unknown in a Wayland session, where a program learns it
    // only over its own windows (Qt then reports where it last saw it).
    static std::optional<QPoint> pointerOnScreen() {
        if (!TLPointerPositionKnown()) return {};
        return QCursor::pos();
    }

    void makeTray() {
        _tray = std::make_unique<QSystemTrayIcon>();
        // Where the click was, read at once: the handling below waits for the tray's own.
        connect(_tray.get(), &QSystemTrayIcon::activated, this, [this] {
            _lastClick = pointerOnScreen();
            _lastClickBar = _lastClick ? TLTopLevelWindowRectAt(*_lastClick) : QRect();
            _ownAnchor = {};
        });
        connect(
            _tray.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                switch (reason) {
                case QSystemTrayIcon::Trigger:
                    emit clicked(Button::Left, TLControlKeyHeld());
                    break;
                case QSystemTrayIcon::Context:
                    // A tray that embeds the icon has already popped the context menu up
                    // at the press; a host that asked for the click instead gets ours.
                    if (_tray->contextMenu() && _tray->contextMenu()->isVisible()) break;
                    emit clicked(Button::Right, TLControlKeyHeld());
                    break;
                default: // a double click follows its first click; middle clicks do nothing
                    break;
                }
            },
            // After the tray's own mouse handling has finished: a menu opened from inside it
            // would not receive the clicks on its items.
            Qt::QueuedConnection);
        if (_menu) _tray->setContextMenu(_menu);
        publishToolTip();
        if (_hasIcon) {
            _tray->setIcon(_icon);
            _tray->show();
        }
    }

    void publishToolTip() {
        if (_own) _own->setToolTip(_toolTip);
        if (!_tray) return;
        const QString shown = _toolTipSuppressed ? QString() : _toolTip;
        if (shown != _tray->toolTip()) _tray->setToolTip(shown);
    }

    std::unique_ptr<QSystemTrayIcon> _tray;
    std::unique_ptr<TLStatusItem> _own;                 // the item the host made, in place of _tray
    TLStatusHost _shownIn = TLStatusHost::NoTrayWindow; // the host the item was last put in
    QTimer _hostCheck;
    std::unique_ptr<QObject> _hostWatch;
    TLStatusHost _host = TLStatusHost::NoTrayWindow;
    bool _trayAvailable = false;
    bool _trayMayReturnSoon = true;
    QIcon _icon;
    QString _title;
    QString _toolTip;
    bool _toolTipSuppressed = false;
    QPointer<QMenu> _menu;
    std::optional<QPoint> _lastClick;
    QRect _lastClickBar; // the window (a panel) under the last click
    QRect _ownAnchor;    // the own item's anchor at the last click on it
    quint64 _key = 0;
    bool _hasIcon = false;
};

} // namespace

std::unique_ptr<TLStatusItem> TLMakeStatusItem() {
    return std::make_unique<TrayStatusItem>();
}
