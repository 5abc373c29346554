#include "widgets/TLChip.h"

#include "widgets/TLAppearance.h"
#include "widgets/TLFonts.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

QSizeF TLChipSize(qreal labelWidth) {
    return {labelWidth + 2 * TLChipInset, TLChipHeight};
}

TLChip::TLChip(QWidget* parent) : QWidget(parent), _label(new QLabel(this)) {
    _label->setTextFormat(Qt::PlainText);
    _label->setFont(TLSystemFont(TLChipFontSize, QFont::DemiBold));
    _label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    _label->setAttribute(Qt::WA_TransparentForMouseEvents);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    resize(sizeHint());
    layoutLabel();
}

qreal TLChip::labelWidth() const {
    return std::ceil(QFontMetricsF(_label->font()).horizontalAdvance(_label->text()));
}

QSize TLChip::sizeHint() const {
    return TLChipSize(labelWidth()).toSize();
}

void TLChip::setText(const QString& text, const TLColor& color) {
    // The panel sets the chip on every refresh; the same text and colour change nothing.
    const std::optional<TLColor> background = color.withAlpha(TLChipBackgroundAlpha);
    if (text == _label->text() && background == _background) return;
    _label->setText(text);
    TLSetTextColor(_label, color);
    _background = background;
    updateGeometry();
    resize(sizeHint());
    layoutLabel();
    update();
}

void TLChip::layoutLabel() {
    // The label spans the chip between the insets, full height, text centred vertically.
    _label->setGeometry(static_cast<int>(TLChipInset), 0,
                        std::max(0, width() - static_cast<int>(2 * TLChipInset)), height());
}

void TLChip::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutLabel();
}

void TLChip::paintEvent(QPaintEvent*) {
    if (!_background) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), TLChipCornerRadius, TLChipCornerRadius);
    painter.fillPath(path, _background->resolve(TLEffectiveAppearance(this)));
}
