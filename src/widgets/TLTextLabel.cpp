#include "widgets/TLTextLabel.h"

#include <QPainter>
#include <QStyle>

void TLTextLabel::paintEvent(QPaintEvent* event) {
    const QString shown = text();
    if (textFormat() != Qt::PlainText || wordWrap() || shown.contains(QLatin1Char('\n')) ||
        !pixmap().isNull()) {
        QLabel::paintEvent(event);
        return;
    }
    if (shown != _laidOut.text() || font() != _laidOutFont) {
        _laidOutFont = font();
        _laidOut.setTextFormat(Qt::PlainText);
        _laidOut.setText(shown);
        _laidOut.prepare(QTransform(), _laidOutFont);
    }
    QPainter painter(this);
    drawFrame(&painter);
    if (shown.isEmpty()) return;

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
    const QSizeF size = _laidOut.size();
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
    painter.drawStaticText(QPointF(x, y), _laidOut);
}
