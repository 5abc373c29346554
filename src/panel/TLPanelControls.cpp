#include "panel/TLPanelControls.h"

#include "widgets/TLAppearance.h"
#include "widgets/TLFonts.h"

#include <QButtonGroup>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QPaintDevice>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

bool isDark(const QWidget* widget) {
    return TLEffectiveAppearance(widget) == TLAppearance::Dark;
}

QColor gray(int level, qreal alpha) {
    QColor c(level, level, level);
    c.setAlphaF(static_cast<float>(alpha));
    return c;
}

// Half a device pixel: strokes of one device pixel are centred on it to stay crisp.
qreal halfPixel(const QPainter& painter) {
    const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    return 0.5 / std::max<qreal>(dpr, 1.0);
}

QPen hairline(const QColor& color) {
    QPen pen(color, 1);
    pen.setCosmetic(true); // one device pixel at any scale
    return pen;
}

// The keyboard focus ring, drawn only when focus came from the keyboard.
void drawFocusRing(QPainter& painter, const QWidget* widget, const QRectF& rect, qreal radius) {
    if (!widget->hasFocus() || !widget->window()->testAttribute(Qt::WA_KeyboardFocusChange)) return;
    // Opaque: at least 3:1 against the panel and the tab control's track.
    painter.setPen(QPen(TLFocusRingColor().resolve(TLEffectiveAppearance(widget)), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(rect.adjusted(1, 1, -1, -1), radius, radius);
}

// Return and Enter press a button as Space does (the panel's buttons are all "default" ones).
bool pressOnReturn(QAbstractButton* button, QKeyEvent* event) {
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) return false;
    if (event->modifiers() & ~(Qt::KeypadModifier)) return false;
    button->click();
    return true;
}

// One segment of TLSegmentedControl: draws the raised knob when selected, and its label.
class SegmentButton final : public QAbstractButton {
public:
    SegmentButton(const QString& text, QWidget* parent) : QAbstractButton(parent) {
        setText(text);
        setCheckable(true);
        setFont(TLSystemFont(TLSmallControlFontSize));
        setFocusPolicy(Qt::TabFocus);
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (pressOnReturn(this, event)) return;
        // The arrows go to the neighbouring tab and choose it (the tabs are one stop of Tab).
        int step = 0;
        if (event->key() == Qt::Key_Left || event->key() == Qt::Key_Up) step = -1;
        if (event->key() == Qt::Key_Right || event->key() == Qt::Key_Down) step = 1;
        auto* control = qobject_cast<TLSegmentedControl*>(parentWidget());
        if (step == 0 || !control) {
            QAbstractButton::keyPressEvent(event);
            return;
        }
        int at = 0;
        while (at < control->segmentCount() && control->segment(at) != this)
            ++at;
        if (QAbstractButton* next = control->segment(at + step)) {
            next->setFocus(Qt::TabFocusReason);
            next->click();
        }
    }
    void paintEvent(QPaintEvent*) override {
        const bool dark = isDark(this);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal h = halfPixel(painter);
        const QRectF knob = QRectF(rect()).adjusted(1 + h, 1 + h, -1 - h, -1 - h);
        const qreal radius = TLSmallControlRadius - 1;
        if (isChecked()) {
            if (!dark) {
                // A soft shadow under the knob, then the knob with a faint outline.
                painter.setPen(Qt::NoPen);
                painter.setBrush(gray(0, 0.07));
                painter.drawRoundedRect(knob.translated(0, 0.75), radius, radius);
            }
            painter.setPen(hairline(dark ? gray(255, 0.10) : gray(0, 0.10)));
            painter.setBrush(dark ? gray(255, isDown() ? 0.34 : 0.26)
                                  : (isDown() ? gray(236, 1) : gray(255, 1)));
            painter.drawRoundedRect(knob, radius, radius);
        } else if (isDown()) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(dark ? gray(255, 0.08) : gray(0, 0.06));
            painter.drawRoundedRect(knob, radius, radius);
        }
        drawFocusRing(painter, this, QRectF(rect()), TLSmallControlRadius);
        painter.setPen(TLLabelColor().resolve(TLEffectiveAppearance(this)));
        painter.setFont(font());
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
    }
};

} // namespace

// --- Separator --------------------------------------------------------------------------------

TLSeparatorLine::TLSeparatorLine(QWidget* parent) : QWidget(parent) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TLSeparatorLine::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), TLSeparatorColor().resolve(TLEffectiveAppearance(this)));
}

// --- Legend caption ---------------------------------------------------------------------------

namespace {

const QString kBullet = QStringLiteral("●  ");
constexpr qreal kBulletSize = 9;
constexpr qreal kLegendNameSize = 11.5;

} // namespace

TLLegendCaption::TLLegendCaption(const QString& name, const TLColor& color, QWidget* parent)
    : QWidget(parent), _name(name), _color(color) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QString TLLegendCaption::text() const {
    return kBullet + _name;
}

QSize TLLegendCaption::sizeHint() const {
    const QFontMetricsF bullet(TLSystemFont(kBulletSize));
    const QFontMetricsF name(TLSystemFont(kLegendNameSize));
    const qreal width = bullet.horizontalAdvance(kBullet) + name.horizontalAdvance(_name);
    const qreal height =
        std::max(bullet.ascent(), name.ascent()) + std::max(bullet.descent(), name.descent());
    return {static_cast<int>(std::ceil(width)), static_cast<int>(std::ceil(height))};
}

void TLLegendCaption::paintEvent(QPaintEvent*) {
    const TLAppearance appearance = TLEffectiveAppearance(this);
    const QFont bulletFont = TLSystemFont(kBulletSize);
    const QFont nameFont = TLSystemFont(kLegendNameSize);
    const QFontMetricsF bullet(bulletFont);
    const QFontMetricsF name(nameFont);
    // One baseline for both runs, the line centred vertically in the widget.
    const qreal ascent = std::max(bullet.ascent(), name.ascent());
    const qreal lineHeight = ascent + std::max(bullet.descent(), name.descent());
    const qreal baseline = std::round((height() - lineHeight) / 2 + ascent);

    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(bulletFont);
    painter.setPen(_color.resolve(appearance));
    painter.drawText(QPointF(0, baseline), kBullet);
    painter.setFont(nameFont);
    painter.setPen(TLSecondaryLabelColor().resolve(appearance));
    painter.drawText(QPointF(bullet.horizontalAdvance(kBullet), baseline), _name);
}

// --- Bezel button -----------------------------------------------------------------------------

namespace {

constexpr qreal kButtonTitlePadding = 10;
constexpr qreal kActionImageSide = 14;

} // namespace

TLBezelButton::TLBezelButton(const QString& title, QWidget* parent) : QAbstractButton(parent) {
    setText(title);
    setFont(TLSystemFont(TLSmallControlFontSize));
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

TLBezelButton::TLBezelButton(Image image, QWidget* parent) : TLBezelButton(QString(), parent) {
    _image = image;
}

QSize TLBezelButton::sizeHint() const {
    if (_image != Image::None) return {30, TLSmallControlHeight};
    const qreal width = QFontMetricsF(font()).horizontalAdvance(text()) + 2 * kButtonTitlePadding;
    return {static_cast<int>(std::ceil(width)), TLSmallControlHeight};
}

QPainterPath TLActionImagePath(qreal side) {
    constexpr int kTeeth = 8;
    const qreal outer = side * 0.5;
    const qreal inner = side * 0.36;
    const qreal hole = side * 0.16;
    const qreal step = 2 * std::numbers::pi / kTeeth;
    const QPointF c(side / 2, side / 2);
    auto at = [&](qreal radius, qreal angle) {
        return c + QPointF(radius * std::cos(angle), radius * std::sin(angle));
    };
    QPolygonF outline;
    for (int i = 0; i < kTeeth; ++i) {
        const qreal a = i * step - std::numbers::pi / 2;
        outline << at(inner, a - step * 0.30) << at(outer, a - step * 0.17)
                << at(outer, a + step * 0.17) << at(inner, a + step * 0.30);
    }
    outline << outline.first();
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    path.addPolygon(outline);
    path.addEllipse(c, hole, hole);
    return path;
}

void TLBezelButton::keyPressEvent(QKeyEvent* event) {
    if (!pressOnReturn(this, event)) QAbstractButton::keyPressEvent(event);
}

void TLBezelButton::paintEvent(QPaintEvent*) {
    const TLAppearance appearance = TLEffectiveAppearance(this);
    const bool dark = appearance == TLAppearance::Dark;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal h = halfPixel(painter);
    const QRectF bezel = QRectF(rect()).adjusted(h, h, -h, -h - 1); // 1 below for the shadow
    const qreal radius = TLSmallControlRadius;

    if (!dark) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(gray(0, 0.08));
        painter.drawRoundedRect(bezel.translated(0, 1), radius, radius);
    }
    painter.setPen(hairline(dark ? gray(255, 0.08) : gray(0, 0.13)));
    if (dark)
        painter.setBrush(gray(255, isDown() ? 0.30 : 0.20));
    else
        painter.setBrush(isDown() ? gray(228, 1) : gray(255, 1));
    painter.drawRoundedRect(bezel, radius, radius);
    drawFocusRing(painter, this, bezel, radius);

    const QColor ink = TLLabelColor().resolve(appearance);
    if (_image == Image::Action) {
        const QPointF origin(std::round(bezel.center().x() - kActionImageSide / 2),
                             std::round(bezel.center().y() - kActionImageSide / 2));
        painter.translate(origin);
        painter.setPen(Qt::NoPen);
        painter.setBrush(ink);
        painter.drawPath(TLActionImagePath(kActionImageSide));
        return;
    }
    painter.setPen(ink);
    painter.setFont(font());
    painter.drawText(bezel, Qt::AlignCenter | Qt::TextSingleLine, text());
}

// --- Segmented control ------------------------------------------------------------------------

TLSegmentedControl::TLSegmentedControl(const QStringList& labels, QWidget* parent)
    : QWidget(parent), _group(new QButtonGroup(this)) {
    _group->setExclusive(true);
    for (const QString& label : labels) {
        auto* button = new SegmentButton(label, this);
        _group->addButton(button, static_cast<int>(_segments.size()));
        _segments.append(button);
    }
    connect(_group, &QButtonGroup::idClicked, this, &TLSegmentedControl::segmentClicked);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    layoutSegments();
}

QString TLSegmentedControl::label(int segment) const {
    return segment >= 0 && segment < segmentCount() ? _segments[segment]->text() : QString();
}

QAbstractButton* TLSegmentedControl::segment(int segment) const {
    return segment >= 0 && segment < segmentCount() ? _segments[segment] : nullptr;
}

int TLSegmentedControl::selectedSegment() const {
    return _group->checkedId();
}

void TLSegmentedControl::setSelectedSegment(int segment) {
    if (segment < 0 || segment >= segmentCount()) return;
    _segments[segment]->setChecked(true);
}

QSize TLSegmentedControl::sizeHint() const {
    qreal widest = 0;
    for (const QAbstractButton* button : _segments)
        widest = std::max(widest, QFontMetricsF(button->font()).horizontalAdvance(button->text()));
    const qreal width = (widest + 2 * kButtonTitlePadding) * std::max(1, segmentCount());
    return {static_cast<int>(std::ceil(width)), TLSmallControlHeight};
}

QSize TLSegmentedControl::minimumSizeHint() const {
    return sizeHint();
}

void TLSegmentedControl::layoutSegments() {
    // Equal shares; the last segment takes what the rounding leaves.
    const int n = segmentCount();
    int x = 0;
    for (int i = 0; i < n; ++i) {
        const int right = i + 1 == n ? width() : (width() * (i + 1)) / n;
        _segments[i]->setGeometry(x, 0, right - x, height());
        x = right;
    }
}

void TLSegmentedControl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutSegments();
}

void TLSegmentedControl::paintEvent(QPaintEvent*) {
    // The track behind the segments.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isDark(this) ? gray(255, 0.10) : gray(0, 0.07));
    painter.drawRoundedRect(QRectF(rect()), TLSmallControlRadius, TLSmallControlRadius);
}
