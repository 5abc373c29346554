#include "platform/TLDesktop.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QMenu>
#include <QMetaObject>
#include <QPixmap>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QThread>

namespace {

// The Control key as the user knows it: Qt maps it to the Meta modifier on macOS.
bool controlHeld() {
#ifdef __APPLE__
    return QGuiApplication::queryKeyboardModifiers() & Qt::MetaModifier;
#else
    return QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier;
#endif
}

class TrayStatusItem final : public TLStatusItem {
public:
    TrayStatusItem() {
        connect(
            &_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                switch (reason) {
                case QSystemTrayIcon::Trigger:
                    emit clicked(Button::Left, controlHeld());
                    break;
                case QSystemTrayIcon::Context:
                    // A tray that embeds the icon has already popped the context menu up
                    // at the press; a host that asked for the click instead gets ours.
                    if (_tray.contextMenu() && _tray.contextMenu()->isVisible()) break;
                    emit clicked(Button::Right, controlHeld());
                    break;
                default: // a double click follows its first click; middle clicks do nothing
                    break;
                }
            },
            // After the tray's own mouse handling has finished: a menu opened from inside it
            // would not receive the clicks on its items.
            Qt::QueuedConnection);
    }

    void setIcon(const QIcon& icon, quint64 key) override {
        if (_hasIcon && key == _key) return;
        _key = key;
        _hasIcon = true;
        _tray.setIcon(icon);
        if (!_tray.isVisible()) _tray.show();
    }
    void setTitle(const QString& title) override { _title = title; }
    // Qt publishes the context menu over DBusMenu on a StatusNotifierItem host (the item then
    // advertises it, and the host shows it on a right click); an embedding tray pops it up at the
    // press.
    void setContextMenu(QMenu* menu) override { _tray.setContextMenu(menu); }
    void setToolTip(const QString& toolTip) override {
        if (toolTip != _tray.toolTip()) _tray.setToolTip(toolTip);
    }
    QRect geometry() const override { return _tray.geometry(); }

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
    QSystemTrayIcon _tray;
    QString _title;
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
                QMetaObject::invokeMethod(qApp, std::move(done), Qt::QueuedConnection);
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
