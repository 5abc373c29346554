#include "widgets/TLTextLabel.h"

#include <QPainter>
#include <QStyle>

bool TLTextLabel::isSimpleLine() const {
    return textFormat() == Qt::PlainText && !wordWrap() && pixmap().isNull() &&
           !text().contains(QLatin1Char('\n'));
}

const QStaticText& TLTextLabel::laidOut() const {
    const QString shown = text();
    if (shown != _laidOut.text() || font() != _laidOutFont) {
        _laidOutFont = font();
        _laidOut.setTextFormat(Qt::PlainText);
        _laidOut.setText(shown);
        _laidOut.prepare(QTransform(), _laidOutFont);
    }
    return _laidOut;
}

qreal TLTextLabel::textWidth() const {
    if (text().isEmpty()) return 0;
    return laidOut().size().width();
}

std::optional<QSize> TLTextLabel::simpleSizeHint() const {
    // QLabel measures an empty text, margins, indents, frames and shortcuts by rules of its own.
    if (!isSimpleLine() || text().isEmpty() || margin() != 0 || indent() > 0 || frameWidth() != 0 ||
        buddy())
        return std::nullopt;
    // The whole-pixel box of the laid-out line: what QLabel's own measuring gives for one line.
    const QSize line = QRectF(QPointF(0, 0), laidOut().size()).toAlignedRect().size();
    const QMargins m = contentsMargins();
    return (line + QSize(m.left() + m.right(), m.top() + m.bottom())).expandedTo(minimumSize());
}

QSize TLTextLabel::sizeHint() const {
    if (const std::optional<QSize> hint = simpleSizeHint()) return *hint;
    return QLabel::sizeHint();
}

QSize TLTextLabel::minimumSizeHint() const {
    if (const std::optional<QSize> hint = simpleSizeHint()) return *hint;
    return QLabel::minimumSizeHint();
}

void TLTextLabel::paintEvent(QPaintEvent* event) {
    if (!isSimpleLine()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    drawFrame(&painter);
    if (text().isEmpty()) return;
    const QStaticText& line = laidOut();

    // Placed as QLabel places a single line: within the contents less margin and indent, by the
    // alignment, mirrored for right-to-left layouts.
    QRect box = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    const Qt::Alignment align = QStyle::visualAlignment(layoutDirection(), alignment());
    if (indent() > 0) {
        if (align & Qt::AlignLeft) box.setLeft(box.left() + indent());
        if (align & Qt::AlignRight) box.setRight(box.right() - indent());
        if (align & Qt::AlignTop) box.setTop(box.top() + indent());
        if (align & Qt::AlignBottom) box.setBottom(box.bottom() - indent());
    }
    const QSizeF size = line.size();
    qreal x = box.left();
    if (align & Qt::AlignRight)
        x = box.left() + box.width() - size.width();
    else if (align & Qt::AlignHCenter)
        x = box.left() + (box.width() - size.width()) / 2;
    qreal y = box.top();
    if (align & Qt::AlignBottom)
        y = box.top() + box.height() - size.height();
    else if (align & Qt::AlignVCenter)
        y = box.top() + (box.height() - size.height()) / 2;

    painter.setFont(_laidOutFont);
    painter.setPen(isEnabled() ? palette().color(foregroundRole())
                               : palette().color(QPalette::Disabled, foregroundRole()));
    painter.setClipRect(box);
    painter.drawStaticText(QPointF(x, y), line);
}
