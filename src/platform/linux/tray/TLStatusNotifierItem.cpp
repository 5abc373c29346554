#include "platform/linux/tray/TLStatusNotifierItem.h"

#include "platform/TLAppInfo.h"
#include "platform/TLWindowSystem.h"
#include "platform/linux/tray/TLDBusMenuExporter.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QPixmap>
#include <QScreen>
#include <QtEndian>

#include <algorithm>

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

// The host tells positions in the screen's own pixels; Qt's are divided by the screen's scale,
// counted from the screen's corner.
QPoint fromHostPixels(const QPoint& p) {
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect g = screen->geometry();
        const qreal ratio = screen->devicePixelRatio();
        if (QRect(g.topLeft(), g.size() * ratio).contains(p))
            return g.topLeft() + (p - g.topLeft()) / ratio;
    }
    return p;
}

} // namespace

QDBusArgument& operator<<(QDBusArgument& arg, const TLSniPixmap& pixmap) {
    arg.beginStructure();
    arg << pixmap.width << pixmap.height << pixmap.bytes;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, TLSniPixmap& pixmap) {
    arg.beginStructure();
    arg >> pixmap.width >> pixmap.height >> pixmap.bytes;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const TLSniToolTip& toolTip) {
    arg.beginStructure();
    arg << toolTip.iconName << toolTip.pixmaps << toolTip.title << toolTip.text;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, TLSniToolTip& toolTip) {
    arg.beginStructure();
    arg >> toolTip.iconName >> toolTip.pixmaps >> toolTip.title >> toolTip.text;
    arg.endStructure();
    return arg;
}

TLSniPixmapList TLSniPixmapsOf(const QIcon& icon) {
    TLSniPixmapList out;
    if (icon.isNull()) return out;
    for (const int size : TLSniIconSizes) {
        QImage image = icon.pixmap(QSize(size, size), 1.0).toImage();
        if (image.isNull()) continue;
        // An icon without a picture of this size gives its nearest: fitted into the square.
        if (std::max(image.width(), image.height()) != size)
            image = image.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        image = image.convertToFormat(QImage::Format_ARGB32);
        TLSniPixmap pixmap;
        pixmap.width = image.width();
        pixmap.height = image.height();
        pixmap.bytes.resize(qsizetype(image.width()) * image.height() * 4);
        uchar* dst = reinterpret_cast<uchar*>(pixmap.bytes.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x, dst += 4)
                qToBigEndian<quint32>(line[x], dst); // A, R, G, B
        }
        out.append(std::move(pixmap));
    }
    return out;
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
    void Activate(int x, int y) { _item->hostClicked(TLStatusItem::Button::Left, x, y); }
    void SecondaryActivate(int x, int y) {
        // A middle click: the other trays' middle clicks do nothing either.
        (void)x;
        (void)y;
    }
    void ContextMenu(int x, int y) { _item->hostClicked(TLStatusItem::Button::Right, x, y); }
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
                if (_registered) emit registered();
            });
}

void TLStatusNotifierItem::setIcon(const QIcon& icon, quint64 key) {
    if (_hasIcon && key == _key) return;
    _hasIcon = true;
    _key = key;
    TLSniPixmapList pixmaps = TLSniPixmapsOf(icon);
    const bool same =
        pixmaps.size() == _pixmaps.size() &&
        std::equal(pixmaps.cbegin(), pixmaps.cend(), _pixmaps.cbegin(),
                   [](const TLSniPixmap& a, const TLSniPixmap& b) {
                       return a.width == b.width && a.height == b.height && a.bytes == b.bytes;
                   });
    if (same) return;
    _pixmaps = std::move(pixmaps);
    emit _adaptor->NewIcon();
}

void TLStatusNotifierItem::setTitle(const QString& title) {
    if (title == _title) return;
    const QString before = label();
    _title = title;
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
    const QString before = toolTip().text;
    _toolTip = text;
    if (toolTip().text != before) emit _adaptor->NewToolTip();
}

void TLStatusNotifierItem::setToolTipSuppressed(bool suppressed) {
    const QString before = toolTip().text;
    _toolTipSuppressed = suppressed;
    if (toolTip().text != before) emit _adaptor->NewToolTip();
}

QRect TLStatusNotifierItem::anchor() const {
    return _click ? QRect(*_click, QSize(1, 1)) : QRect();
}

void TLStatusNotifierItem::popUpMenu(QMenu* menu) {
    menu->exec(_click ? *_click : QCursor::pos());
}

void TLStatusNotifierItem::setContextMenu(QMenu* menu) {
    _menu->setMenu(menu);
}

void TLStatusNotifierItem::hostClicked(Button button, int x, int y) {
    // (0, 0) is what a host sends that knows no position.
    if (x != 0 || y != 0)
        _click = fromHostPixels(QPoint(x, y));
    else
        _click.reset();
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
}

#include "TLStatusNotifierItem.moc"
