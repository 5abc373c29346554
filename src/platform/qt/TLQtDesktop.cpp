#include "platform/TLDesktop.h"
#include "platform/TLWindowSystem.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QMenu>
#include <QMetaObject>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>
#include <QToolTip>

#ifndef __APPLE__
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#endif

#include <optional>

namespace {

// The Control key as the user knows it: Qt maps it to the Meta modifier on macOS.
bool controlHeld() {
#ifdef __APPLE__
    return QGuiApplication::queryKeyboardModifiers() & Qt::MetaModifier;
#else
    return QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier;
#endif
}

#ifndef __APPLE__
// Whether a StatusNotifierItem host runs on the session bus: the watcher is there and a host has
// registered with it (a watcher alone shows nothing).
bool statusNotifierHostPresent() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    QDBusMessage get = QDBusMessage::createMethodCall(
        watcher, QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << watcher << QStringLiteral("IsStatusNotifierHostRegistered");
    // A host that hangs must not hang the program: a short wait, and no answer counts as none.
    const QDBusMessage reply = bus.call(get, QDBus::Block, 500);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
    return qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant().toBool();
}
#endif

// Whether any tray would show an icon now.
bool trayHostPresent() {
#ifdef __APPLE__
    return true; // the menu bar is always there
#else
    return TLXEmbedTrayPresent() || statusNotifierHostPresent();
#endif
}

// How often the item looks for a tray host: often while there is none (a desktop that starts
// its panel after us). Once one shows the item, the hosts' own announcements tell when to look
// again (the tray ending, a watcher or host leaving the bus); the rare look after that is only
// for a host that leaves without a word.
constexpr int kHostCheckWithoutTrayMs = 1000;
constexpr int kHostCheckWithTrayMs = 30000;

// Calls `changed` when a tray host may have come or gone (no such announcements on macOS, whose
// menu bar is always there).
std::unique_ptr<QObject> watchTrayHosts(std::function<void()> changed) {
#ifdef __APPLE__
    Q_UNUSED(changed);
    return nullptr;
#else
    return TLWatchTrayHosts(std::move(changed));
#endif
}

// The item in the tray. Qt decides once per process, when the first tray icon is made, whether
// it talks to a StatusNotifierItem host over D-Bus or to an embedding tray; made before any host
// runs, the icon would stay with the embedding protocol, which Wayland panels and GNOME's tray
// extension never show. So the tray icon is made only once a host is seen.
class TrayStatusItem final : public TLStatusItem {
public:
    TrayStatusItem() {
        _hostCheck.setSingleShot(true);
        connect(&_hostCheck, &QTimer::timeout, this, [this] { checkHost(); });
        // A host's announcement is followed by its setting up: look a moment later, once for a
        // burst.
        _hostWatch = watchTrayHosts([this] { _hostCheck.start(250); });
        checkHost();
    }

    bool trayAvailable() const override { return _trayAvailable; }

    void setIcon(const QIcon& icon, quint64 key) override {
        if (_hasIcon && key == _key) return;
        _key = key;
        _hasIcon = true;
        _icon = icon;
        if (_tray) {
            _tray->setIcon(icon);
            if (!_tray->isVisible()) _tray->show();
        }
    }
    void setTitle(const QString& title) override { _title = title; }
    bool hasRoomBesideImage() const override { return TLTrayHasRoomBesideImage(); }
    void setToolTip(const QString& toolTip) override {
        _toolTip = toolTip;
        publishToolTip();
    }
    void setToolTipSuppressed(bool suppressed) override {
        _toolTipSuppressed = suppressed;
        if (suppressed) QToolTip::hideText();
        publishToolTip();
    }
    QRect geometry() const override { return _tray ? _tray->geometry() : QRect(); }
    QRect anchor() const override {
        const QRect g = geometry();
        if (g.isValid() && !g.isEmpty()) return g;
        // The host sent the click's position and Qt dropped it; the pointer was there.
        if (!_lastClick) return {};
        // On a bar along the top or bottom edge, the popover goes beyond the bar, not over it.
        const QRect bar = _lastClickBar;
        if (bar.contains(*_lastClick) && bar.width() > bar.height() * 3)
            return QRect(_lastClick->x(), bar.top(), 1, bar.height());
        return QRect(*_lastClick, QSize(1, 1));
    }
    // Qt publishes the context menu over DBusMenu on a StatusNotifierItem host (the item then
    // advertises it, and the host shows it on a right click); an embedding tray pops it up at the
    // press.
    void setContextMenu(QMenu* menu) override {
        _menu = menu;
        if (_tray) _tray->setContextMenu(menu);
    }

    // The most common colour of the screen inside the icon's slot: the icon covers only a part
    // of its square, so what shows most is the tray's own background.
    QColor backgroundColor() const override {
        const QRect g = geometry();
        if (!g.isValid() || g.isEmpty()) return {};
        QScreen* screen = QGuiApplication::screenAt(g.center());
        if (!screen) return {};
        const QRect local = g.translated(-screen->geometry().topLeft());
        const QImage image =
            screen->grabWindow(0, local.x(), local.y(), local.width(), local.height())
                .toImage()
                .convertToFormat(QImage::Format_RGB32);
        if (image.isNull()) return {};
        QHash<QRgb, int> counts;
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x)
                ++counts[line[x] & 0xF0F0F0];
        }
        QRgb best = 0;
        int most = 0;
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            if (it.value() > most) {
                most = it.value();
                best = it.key();
            }
        return most > 0 ? QColor::fromRgb(best) : QColor();
    }

    void popUpMenu(QMenu* menu) override {
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
        const bool present = trayHostPresent();
        if (present && !_tray) makeTray();
        _hostCheck.start(present ? kHostCheckWithTrayMs : kHostCheckWithoutTrayMs);
        if (present == _trayAvailable) return;
        _trayAvailable = present;
        emit trayAvailabilityChanged(present);
    }

    void makeTray() {
        _tray = std::make_unique<QSystemTrayIcon>();
        // Where the click was, read at once: the handling below waits for the tray's own.
        connect(_tray.get(), &QSystemTrayIcon::activated, this, [this] {
            _lastClick = QCursor::pos();
#ifndef __APPLE__
            _lastClickBar = TLTopLevelWindowRectAt(*_lastClick);
#endif
        });
        connect(
            _tray.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                switch (reason) {
                case QSystemTrayIcon::Trigger:
                    emit clicked(Button::Left, controlHeld());
                    break;
                case QSystemTrayIcon::Context:
                    // A tray that embeds the icon has already popped the context menu up
                    // at the press; a host that asked for the click instead gets ours.
                    if (_tray->contextMenu() && _tray->contextMenu()->isVisible()) break;
                    emit clicked(Button::Right, controlHeld());
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
        if (!_tray) return;
        const QString shown = _toolTipSuppressed ? QString() : _toolTip;
        if (shown != _tray->toolTip()) _tray->setToolTip(shown);
    }

    std::unique_ptr<QSystemTrayIcon> _tray;
    QTimer _hostCheck;
    std::unique_ptr<QObject> _hostWatch;
    bool _trayAvailable = false;
    QIcon _icon;
    QString _title;
    QString _toolTip;
    bool _toolTipSuppressed = false;
    QPointer<QMenu> _menu;
    std::optional<QPoint> _lastClick;
    QRect _lastClickBar; // the window (a panel) under the last click
    quint64 _key = 0;
    bool _hasIcon = false;
};

class QtMenuPresenter final : public TLMenuPresenter {
public:
    void popUp(QMenu* menu, const QPoint& at, QWidget* view) override {
        menu->popup(view ? view->mapToGlobal(at) : at);
    }
};

// Jobs run in order on one worker thread; completions return to the main thread in order.
class ThreadQueue final : public TLSerialQueue {
public:
    explicit ThreadQueue(const QString& label) {
        _thread.setObjectName(label);
        _worker.moveToThread(&_thread);
        _thread.start(QThread::LowPriority);
    }
    ~ThreadQueue() override {
        _thread.quit();
        _thread.wait();
    }
    void async(std::function<void()> work, std::function<void()> done) override {
        QMetaObject::invokeMethod(
            &_worker,
            [work = std::move(work), done = std::move(done)]() mutable {
                work();
                if (done) QMetaObject::invokeMethod(qApp, std::move(done), Qt::QueuedConnection);
            },
            Qt::QueuedConnection);
    }

private:
    QThread _thread;
    QObject _worker;
};

} // namespace

std::unique_ptr<TLStatusItem> TLMakeStatusItem() {
    return std::make_unique<TrayStatusItem>();
}
std::unique_ptr<TLMenuPresenter> TLMakeMenuPresenter() {
    return std::make_unique<QtMenuPresenter>();
}
std::unique_ptr<TLSerialQueue> TLMakeSerialQueue(const QString& label) {
    return std::make_unique<ThreadQueue>(label);
}
