#include "platform/linux/tray/TLShellExtensionItem.h"

#include "platform/TLWindowSystem.h"
#include "platform/linux/tray/TLDBusMenuExporter.h"

#include <QBuffer>
#include <QCursor>
#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QImage>
#include <QMenu>
#include <QPixmap>

#include <algorithm>
#include <cstdlib>

namespace {

const QString kItemPath = QStringLiteral("/StatusItem");
// A picture's height is a bar's: anything beyond this is no bar.
constexpr int kMaxPictureHeight = 256;

} // namespace

class TLShellExtensionItemAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "dev.tide.monitor.StatusItem")
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString AccessibleName READ accessibleName)
    Q_PROPERTY(uint PictureSerial READ pictureSerial)

public:
    explicit TLShellExtensionItemAdaptor(TLShellExtensionItem* item)
        : QDBusAbstractAdaptor(item), _item(item) {
        setAutoRelaySignals(false);
    }
    QString title() const { return _item->title(); }
    QString accessibleName() const { return _item->accessibleName(); }
    uint pictureSerial() const { return _item->pictureSerial(); }

public slots:
    QByteArray Picture(int height) { return _item->picture(height); }
    void Activate(int x, int y, int width, int height) {
        _item->buttonClicked(TLStatusItem::Button::Left, QRect(x, y, width, height));
    }
    void ContextMenu(int x, int y, int width, int height) {
        _item->buttonClicked(TLStatusItem::Button::Right, QRect(x, y, width, height));
    }

signals:
    void Changed(const QString& title, const QString& accessibleName, uint pictureSerial);

private:
    TLShellExtensionItem* _item;
};

TLShellExtensionItem::TLShellExtensionItem(QDBusConnection bus) : _bus(std::move(bus)) {
    _adaptor = new TLShellExtensionItemAdaptor(this);
    _changed.setSingleShot(true);
    _changed.setInterval(0);
    connect(&_changed, &QTimer::timeout, this,
            [this] { emit _adaptor->Changed(_title, _toolTip, _pictureSerial); });
    _menu = std::make_unique<TLDBusMenuExporter>(_bus, QString::fromLatin1(TLShellItemMenuPath));
    if (!_bus.isConnected()) return;
    if (!_bus.registerObject(kItemPath, this, QDBusConnection::ExportAdaptors)) return;
    // The name last: the extension reads the object as soon as the name appears.
    if (!_bus.registerService(QString::fromLatin1(TLShellItemService))) {
        _bus.unregisterObject(kItemPath);
        return;
    }
    _exported = true;
}

TLShellExtensionItem::~TLShellExtensionItem() {
    if (!_exported) return;
    // The name first: the button goes when it does.
    _bus.unregisterService(QString::fromLatin1(TLShellItemService));
    _bus.unregisterObject(kItemPath);
}

void TLShellExtensionItem::setIcon(const QIcon& icon, quint64 key) {
    if (_hasIcon && key == _key) return;
    _hasIcon = true;
    _key = key;
    _icon = icon;
    ++_pictureSerial;
    changed();
}

void TLShellExtensionItem::setTitle(const QString& title) {
    if (title == _title) return;
    _title = title;
    changed();
}

void TLShellExtensionItem::setToolTip(const QString& text) {
    if (text == _toolTip) return;
    _toolTip = text;
    changed();
}

void TLShellExtensionItem::changed() {
    if (!_changed.isActive()) _changed.start();
}

QByteArray TLShellExtensionItem::picture(int height) const {
    if (_icon.isNull() || height <= 0) return {};
    height = std::min(height, kMaxPictureHeight);
    if (height == _pngHeight && _pictureSerial == _pngSerial && !_png.isEmpty()) return _png;
    const QImage image = _icon.pixmap(QSize(height, height), 1.0).toImage();
    if (image.isNull()) return {};
    QByteArray png;
    QBuffer out(&png);
    out.open(QIODevice::WriteOnly);
    image.save(&out, "PNG");
    _png = png;
    _pngHeight = height;
    _pngSerial = _pictureSerial;
    return png;
}

void TLShellExtensionItem::buttonClicked(Button button, const QRect& rect) {
    // A rectangle off any sane screen is no rectangle.
    constexpr int kFar = 1 << 20;
    const bool sane = rect.width() > 0 && rect.height() > 0 && rect.width() < kFar &&
                      rect.height() < kFar && std::abs(rect.x()) < kFar &&
                      std::abs(rect.y()) < kFar;
    _button = sane ? rect : QRect();
    const bool control = TLControlKeyHeld();
    QMetaObject::invokeMethod(
        this, [this, button, control] { emit clicked(button, control); }, Qt::QueuedConnection);
}

void TLShellExtensionItem::setContextMenu(QMenu* menu) {
    _menu->setMenu(menu);
}

void TLShellExtensionItem::popUpMenu(QMenu* menu) {
    menu->exec(_button.isEmpty() ? QCursor::pos() : _button.bottomLeft() + QPoint(0, 1));
}

bool TLShellExtensionPresent(QDBusConnection bus) {
    if (!bus.isConnected() || !bus.interface()) return false;
    const QDBusReply<bool> has =
        bus.interface()->isServiceRegistered(QString::fromLatin1(TLShellExtensionService));
    return has.isValid() && has.value();
}

QObject* TLWatchShellExtension(std::function<void()> changed, QObject* parent,
                               QDBusConnection bus) {
    auto* watcher = new QDBusServiceWatcher(QString::fromLatin1(TLShellExtensionService), bus,
                                            QDBusServiceWatcher::WatchForOwnerChange, parent);
    QObject::connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, watcher,
                     [changed = std::move(changed)] { changed(); });
    return watcher;
}

#include "TLShellExtensionItem.moc"
