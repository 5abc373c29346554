#include "format/TLPictureIcon.h"

#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>

#include <algorithm>

namespace {

class TLSizeProbeEngine final : public QIconEngine {
public:
    explicit TLSizeProbeEngine(QSize* seen) : _seen(seen) {}
    void paint(QPainter*, const QRect&, QIcon::Mode, QIcon::State) override {}
    QPixmap pixmap(const QSize&, QIcon::Mode, QIcon::State) override { return {}; }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode, QIcon::State, qreal) override {
        *_seen = size;
        return {};
    }
    QString key() const override { return QStringLiteral("TLSizeProbeEngine"); }
    QIconEngine* clone() const override { return new TLSizeProbeEngine(_seen); }

private:
    QSize* _seen;
};

// `size` shrunk to fit into `box`, keeping its proportions; unchanged when it fits.
QSize fitted(QSize size, const QSize& box) {
    if (size.width() > box.width() || size.height() > box.height())
        size.scale(box, Qt::KeepAspectRatio);
    return size;
}

class TLPictureIconEngine final : public QIconEngine {
public:
    // The sides a square is drawn at rather than scaled: what trays ask for, at any scale.
    static constexpr int kMinDrawnSide = 8;
    static constexpr int kMaxDrawnSide = 512;

    TLPictureIconEngine(QList<QPixmap> pictures, std::function<QPixmap(int)> drawSquare)
        : _pictures(std::move(pictures)), _drawSquare(std::move(drawSquare)) {
        _pictures.removeIf([](const QPixmap& p) { return p.isNull(); });
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        const QPaintDevice* device = painter->device();
        const qreal dpr = device ? device->devicePixelRatioF() : qApp->devicePixelRatio();
        painter->drawPixmap(rect, pixmap(rect.size() * dpr, mode, state));
    }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        if (const int side = drawnSide(size)) return QSize(side, side);
        const QPixmap* best = bestFor(size);
        return best ? fitted(best->size(), size) : QSize();
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override {
        if (const int side = drawnSide(size)) {
            QPixmap drawn = _drawSquare(side);
            if (!drawn.isNull()) return drawn;
        }
        const QPixmap* best = bestFor(size);
        if (!best) return {};
        const QSize fit = fitted(best->size(), size);
        if (fit == best->size()) return *best;
        return best->scaled(fit, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        if (!(scale > 0)) scale = 1;
        const bool devicePixels = TLScaledPixmapSizeIsInDevicePixels();
        return pixmap(devicePixels ? size : (QSizeF(size) * scale).toSize(), mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        QList<QSize> sizes;
        for (const QPixmap& p : _pictures)
            sizes.append(p.size());
        return sizes;
    }
    bool isNull() override { return _pictures.isEmpty(); }
    QString key() const override { return QStringLiteral("TLPictureIconEngine"); }
    QIconEngine* clone() const override { return new TLPictureIconEngine(_pictures, _drawSquare); }

private:
    // The side to draw a picture at for `size`, or 0 where a picture of the set fits as it is
    // (or nothing can draw): the square inside `size`.
    int drawnSide(const QSize& size) const {
        if (!_drawSquare || _pictures.isEmpty()) return 0;
        const int side = std::min(size.width(), size.height());
        if (side < kMinDrawnSide || side > kMaxDrawnSide) return 0;
        for (const QPixmap& p : _pictures)
            if (p.width() == side && p.height() == side) return 0;
        return side;
    }

    const QPixmap* bestFor(const QSize& size) const {
        const qint64 wanted = qint64(size.width()) * size.height();
        const QPixmap* cover = nullptr; // the smallest at least as large
        const QPixmap* largest = nullptr;
        auto area = [](const QPixmap* p) { return qint64(p->width()) * p->height(); };
        for (const QPixmap& p : _pictures) {
            if (area(&p) >= wanted && (!cover || area(&p) < area(cover))) cover = &p;
            if (!largest || area(&p) > area(largest)) largest = &p;
        }
        return cover ? cover : largest;
    }

    QList<QPixmap> _pictures;
    std::function<QPixmap(int)> _drawSquare;
};

} // namespace

QIcon TLPictureIcon(QList<QPixmap> pictures) {
    return QIcon(new TLPictureIconEngine(std::move(pictures), {}));
}

QIcon TLPictureIcon(QList<QPixmap> pictures, std::function<QPixmap(int side)> drawSquare) {
    return QIcon(new TLPictureIconEngine(std::move(pictures), std::move(drawSquare)));
}

bool TLScaledPixmapSizeIsInDevicePixels() {
    static const bool devicePixels = [] {
        QSize seen;
        QIcon(new TLSizeProbeEngine(&seen)).pixmap(QSize(8, 4), 2.0);
        return seen == QSize(16, 8);
    }();
    return devicePixels;
}
