// The item's pictures and tool tip on the bus, and the sizes the pictures are offered at.
#include "platform/linux/tray/TLStatusNotifierItem.h"

#include <QDBusArgument>
#include <QImage>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <iterator>

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

std::vector<int> TLSniIconSizesFor(const std::vector<qreal>& scales) {
    std::vector<int> sizes(std::begin(TLSniIconSizes), std::end(TLSniIconSizes));
    for (const qreal scale : scales) {
        if (!(scale > 1.0 && scale <= 4.0) || qFuzzyCompare(scale, 1.0)) continue;
        for (const int base : {16, 22, 24, 32})
            sizes.push_back(static_cast<int>(std::lround(base * scale)));
    }
    std::sort(sizes.begin(), sizes.end());
    sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
    return sizes;
}

TLSniPixmapList TLSniPixmapsOf(const QIcon& icon, const std::vector<int>& sizes) {
    TLSniPixmapList out;
    if (icon.isNull()) return out;
    for (const int size : sizes) {
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
