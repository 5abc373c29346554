#include "platform/linux/tray/TLStatusNotifierItem.h"

#include "platform/TLAppInfo.h"
#include "platform/TLClickGeometry.h"
#include "platform/TLLayerShell.h"
#include "platform/TLSessionPlatform.h"
#include "platform/TLWindowSystem.h"
#include "platform/linux/tray/TLDBusMenuExporter.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QtEndian>
#include <qpa/qplatformscreen.h>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");

void registerTypes() {
    static const bool registered = [] {
        qDBusRegisterMetaType<TLSniPixmap>();
        qDBusRegisterMetaType<TLSniPixmapList>();
        qDBusRegisterMetaType<TLSniToolTip>();
        return true;
    }();
    (void)registered;
}

// Each screen's rectangle in Qt's coordinates and in its own pixels: on Wayland the output's mode
// (Qt's ratio there is the integer output scale), on X11 the screen's rectangle in X's.
std::vector<TLScreenPixels> screenPixels() {
    std::vector<TLScreenPixels> screens;
    const TLLayerShell* layer = TLLayerShell::instance();
    const bool wayland = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    for (const QScreen* screen : QGuiApplication::screens()) {
        TLScreenPixels s{screen->geometry(), {}};
        if (const std::optional<QSize> mode = layer ? layer->pixelSize(screen) : std::nullopt)
            s.pixels = QRect(s.logical.topLeft(), *mode);
        else if (screen->handle() && !wayland)
            s.pixels = screen->handle()->geometry();
        else
            s.pixels = QRect(s.logical.topLeft(), s.logical.size() * screen->devicePixelRatio());
        screens.push_back(s);
    }
    return screens;
}

// The host tells positions in the screen's own pixels (TLFromScreenPixels).
QPoint fromHostPixels(const QPoint& p) {
    return TLFromScreenPixels(screenPixels(), p);
}

// The real scales of the screens the host may draw the icon on (1.5 where Qt says 2 on Wayland).
std::vector<qreal> screenScales() {
    std::vector<qreal> scales;
    for (const TLScreenPixels& s : screenPixels())
        if (s.logical.width() > 0) scales.push_back(qreal(s.pixels.width()) / s.logical.width());
    return scales;
}

// The name of the program that holds a connection to the bus, from its process ("" when unknown).
QString processOf(const QDBusConnection& bus, const QString& service) {
    QDBusConnectionInterface* daemon = bus.interface();
    if (!daemon || service.isEmpty()) return {};
    const QDBusReply<uint> pid = daemon->servicePid(service);
    if (!pid.isValid() || pid.value() == 0) return {};
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid.value()));
    if (!comm.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(comm.read(64)).trimmed();
}

} // namespace

bool TLHostTellsScreenPosition(const QString& hostProcess, bool wayland) {
    // On X11 every host knows where on the screen it was clicked. On Wayland a client knows only
    // positions in its own surfaces: a bar that is a client (waybar) sends those, which say
    // nothing of the screen; the desktop's own shell knows the screen.
    if (!wayland) return true;
    return hostProcess == QLatin1String("plasmashell") ||
           hostProcess == QLatin1String("gnome-shell");
}

// org.kde.StatusNotifierItem on the item's object.
class TLStatusNotifierItemAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ none)
    Q_PROPERTY(QString IconName READ none)
    Q_PROPERTY(QList<TLSniPixmap> IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ none)
    Q_PROPERTY(QList<TLSniPixmap> OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ none)
    Q_PROPERTY(QList<TLSniPixmap> AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionMovieName READ none)
    Q_PROPERTY(TLSniToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)
    Q_PROPERTY(QString XAyatanaLabel READ label)
    Q_PROPERTY(QString XAyatanaLabelGuide READ label)

public:
    TLStatusNotifierItemAdaptor(TLStatusNotifierItem* item, QString menuPath)
        : QDBusAbstractAdaptor(item), _item(item), _menuPath(std::move(menuPath)),
          _name(TLDisplayName(TLCurrentAppInfo())) {
        setAutoRelaySignals(false);
    }

    QString category() const { return QStringLiteral("SystemServices"); }
    QString id() const { return QStringLiteral("dev.tide.monitor"); }
    QString title() const { return _name; }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString none() const { return {}; }
    QList<TLSniPixmap> iconPixmap() const { return _item->pixmaps(); }
    QList<TLSniPixmap> noPixmaps() const { return {}; }
    TLSniToolTip toolTip() const {
        TLSniToolTip tip = _item->toolTip();
        if (!tip.text.isEmpty()) tip.title = _name;
        return tip;
    }
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const { return QDBusObjectPath(_menuPath); }
    QString label() const { return _item->label(); }

public slots:
    void Activate(int x, int y) {
        _item->hostClicked(TLStatusItem::Button::Left, x, y, _item->callerTellsScreenPosition());
    }
    void SecondaryActivate(int x, int y) {
        // A middle click: the other trays' middle clicks do nothing either.
        (void)x;
        (void)y;
    }
    void ContextMenu(int x, int y) {
        _item->hostClicked(TLStatusItem::Button::Right, x, y, _item->callerTellsScreenPosition());
    }
    void Scroll(int delta, const QString& orientation) {
        (void)delta;
        (void)orientation;
    }
    void ProvideXdgActivationToken(const QString& token) { _item->hostProvidedToken(token); }

signals:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);
    void XAyatanaNewLabel(const QString& label, const QString& guide);

private:
    TLStatusNotifierItem* _item;
    QString _menuPath;
    QString _name;
};

TLStatusNotifierItem::TLStatusNotifierItem(QDBusConnection bus) : _bus(std::move(bus)) {
    registerTypes();
    static int made = 0;
    _service = QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                   .arg(QCoreApplication::applicationPid())
                   .arg(++made);
    _menu = std::make_unique<TLDBusMenuExporter>(_bus);
    _showPanel = new QAction(QStringLiteral("显示面板"), this);
    _showPanelSeparator = new QAction(this);
    _showPanelSeparator->setSeparator(true);
    connect(_showPanel, &QAction::triggered, this, [this] {
        // Chosen from the host's menu, which hangs from the icon on the bar: the panel goes
        // beyond the bar at the pointer's column.
        _click.reset();
        _fromMenu = true;
        QMetaObject::invokeMethod(
            this, [this] { emit clicked(Button::Left, false); }, Qt::QueuedConnection);
    });
    _adaptor = new TLStatusNotifierItemAdaptor(
        this, _menu->isExported() ? _menu->path() : QStringLiteral("/NO_DBUSMENU"));
    if (!_bus.isConnected()) return;
    // The objects first: a watcher reads them as soon as the name appears.
    if (!_bus.registerObject(kItemPath, this, QDBusConnection::ExportAdaptors)) return;
    if (!_bus.registerService(_service)) {
        _bus.unregisterObject(kItemPath);
        return;
    }
    _exported = true;
    _watcher = new QDBusServiceWatcher(kWatcherService, _bus,
                                       QDBusServiceWatcher::WatchForRegistration |
                                           QDBusServiceWatcher::WatchForUnregistration,
                                       this);
    connect(_watcher, &QDBusServiceWatcher::serviceRegistered, this,
            [this] { registerWithWatcher(); });
    connect(_watcher, &QDBusServiceWatcher::serviceUnregistered, this,
            [this] { _registered = false; });
    registerWithWatcher();
}

TLStatusNotifierItem::~TLStatusNotifierItem() {
    if (_exported) {
        // The name first: the watcher drops the item when its name leaves the bus.
        _bus.unregisterService(_service);
        _bus.unregisterObject(kItemPath);
    }
}

void TLStatusNotifierItem::registerWithWatcher() {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kWatcherService, kWatcherPath, kWatcherService,
                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << _service;
    auto* pending = new QDBusPendingCallWatcher(_bus.asyncCall(call, 5000), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* done) {
                done->deleteLater();
                _registered = !done->isError();
                if (_registered) {
                    learnHostKind();
                    emit registered();
                }
            });
}

// GNOME Shell's AppIndicator extension is the watcher in the shell's own process: it shows the
// menu on a single click (and activates only on a double one), and shows the label beside the
// icon in the bar's font. Told apart by the bus: the watcher's name and the shell's are held by
// one connection.
void TLStatusNotifierItem::learnHostKind() {
    QDBusConnectionInterface* daemon = _bus.interface();
    if (!daemon) return;
    const QDBusReply<QString> watcher = daemon->serviceOwner(kWatcherService);
    const QDBusReply<QString> shell = daemon->serviceOwner(QStringLiteral("org.gnome.Shell"));
    setHostIsShellExtension(watcher.isValid() && shell.isValid() && !watcher.value().isEmpty() &&
                            watcher.value() == shell.value());
}

void TLStatusNotifierItem::setHostIsShellExtension(bool shell) {
    _hostIsShell = shell;
    setLabelShown(shell);
    _menu->setLeadingActions(shell ? QList<QAction*>{_showPanel, _showPanelSeparator}
                                   : QList<QAction*>{});
}

void TLStatusNotifierItem::setIcon(const QIcon& icon, quint64 key) {
    // The same picture is made again for a screen of another scale.
    std::vector<int> sizes = TLSniIconSizesFor(screenScales());
    if (_hasIcon && key == _key && sizes == _sizes) return;
    _hasIcon = true;
    _key = key;
    _sizes = std::move(sizes);
    TLSniPixmapList pixmaps = TLSniPixmapsOf(icon, _sizes);
    const bool same =
        pixmaps.size() == _pixmaps.size() &&
        std::equal(pixmaps.cbegin(), pixmaps.cend(), _pixmaps.cbegin(),
                   [](const TLSniPixmap& a, const TLSniPixmap& b) {
                       return a.width == b.width && a.height == b.height && a.bytes == b.bytes;
                   });
    if (same) return;
    _pixmaps = std::move(pixmaps);
    _seenChangedSinceTold = true;
    emit _adaptor->NewIcon();
}

void TLStatusNotifierItem::setTitle(const QString& title) {
    if (title == _title) return;
    const QString before = label();
    _title = title;
    _seenChangedSinceTold = true;
    if (label() != before) emit _adaptor->XAyatanaNewLabel(label(), label());
}

void TLStatusNotifierItem::setLabelShown(bool shown) {
    if (shown == _labelShown) return;
    const QString before = label();
    _labelShown = shown;
    if (label() != before) emit _adaptor->XAyatanaNewLabel(label(), label());
}

TLSniToolTip TLStatusNotifierItem::toolTip() const {
    TLSniToolTip tip;
    if (!_toolTipSuppressed) tip.text = _toolTip;
    return tip;
}

void TLStatusNotifierItem::setToolTip(const QString& text) {
    _toolTip = text;
    const QString shown = toolTip().text;
    if (shown == _toldToolTip) return;
    const double now =
        _now ? _now()
             : std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
                   .count();
    if (!_seenChangedSinceTold && now - _toolTipToldAt < toolTipDelay) return;
    _toldToolTip = shown;
    _toolTipToldAt = now;
    _seenChangedSinceTold = false;
    emit _adaptor->NewToolTip();
}

void TLStatusNotifierItem::setToolTipSuppressed(bool suppressed) {
    _toolTipSuppressed = suppressed;
    // Shown or hidden (the panel opened or closed): told at once.
    if (toolTip().text == _toldToolTip) return;
    _toldToolTip = toolTip().text;
    emit _adaptor->NewToolTip();
}

QRect TLStatusNotifierItem::anchor() const {
    QPoint at;
    if (_click) {
        at = *_click;
    } else if (_fromMenu) {
        // Chosen in the host's menu, which hangs from the icon: the bar's edge in the pointer's
        // column. Where the pointer's place is unknown (a Wayland session), the column of the
        // host's last click, else the right end of the bar, where GNOME keeps its indicators.
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (TLPointerPositionKnown()) {
            at = QCursor::pos();
            if (const QScreen* under = QGuiApplication::screenAt(at)) screen = under;
        } else if (_lastHostClick) {
            at = *_lastHostClick;
            if (const QScreen* under = QGuiApplication::screenAt(at)) screen = under;
        } else if (screen) {
            at = QPoint(screen->geometry().right(), screen->geometry().top());
        }
        if (screen) {
            const QRect g = screen->geometry();
            at.setY(at.y() < g.center().y() ? g.top() : g.bottom());
        }
    } else {
        return {};
    }
    const QScreen* screen = QGuiApplication::screenAt(at);
    return screen ? TLBarAroundClick(at, screen->geometry()) : QRect(at, QSize(1, 1));
}

void TLStatusNotifierItem::popUpMenu(QMenu* menu) {
    menu->exec(_click ? *_click : QCursor::pos());
}

void TLStatusNotifierItem::setContextMenu(QMenu* menu) {
    _menu->setMenu(menu);
}

// QtDBus sets a call's context on the object that holds the adaptor: this one.
bool TLStatusNotifierItem::callerTellsScreenPosition() {
    const bool wayland = _wayland;
    if (!wayland) return true;
    if (!calledFromDBus()) return false;
    const QString caller = message().service();
    if (caller != _caller) {
        _caller = caller;
        _callerTells = TLHostTellsScreenPosition(processOf(connection(), caller), wayland);
    }
    return _callerTells;
}

void TLStatusNotifierItem::hostClicked(Button button, int x, int y, bool screenPosition) {
    // (0, 0) is what a host sends that knows no position.
    _fromMenu = false;
    if (screenPosition && (x != 0 || y != 0))
        _click = fromHostPixels(QPoint(x, y));
    else
        _click.reset();
    if (_click) _lastHostClick = _click;
    _hint.reset();
    if (x != 0 || y != 0) _hint = _click ? *_click : QPoint(x, y);
    const bool control = TLControlKeyHeld();
    QMetaObject::invokeMethod(
        this, [this, button, control] { emit clicked(button, control); }, Qt::QueuedConnection);
}

void TLStatusNotifierItem::hostProvidedToken(const QString& token) {
    // A token is a short printable string; anything else is no token.
    constexpr qsizetype kMaxToken = 4096;
    const bool printable = std::all_of(token.cbegin(), token.cend(), [](QChar c) {
        return c.unicode() > 0x20 && c.unicode() < 0x7f;
    });
    if (token.isEmpty() || token.size() > kMaxToken || !printable) return;
    _activationToken = token;
    qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
    // On X11 the token is a startup-notification id, and the host shows launch feedback until it
    // is ended: whatever the call opens (a menu choice opens nothing), end it once the call's
    // work is done.
    QTimer::singleShot(0, this, [token] { TLEndStartupFeedback(token); });
}

#include "TLStatusNotifierItem.moc"
