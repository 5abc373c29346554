#include "widgets/TLProcRow.h"

#include "format/TLYUp.h"
#include "widgets/TLAppearance.h"
#include "widgets/TLFonts.h"
#include "widgets/TLTextLabel.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QFontMetricsF>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <limits>

double TLProcRowClampFraction(double fraction) {
    if (std::isnan(fraction)) return 0;
    return std::clamp(fraction, 0.0, 1.0);
}

QRectF TLProcRowBarRect(const QRectF& b, double fraction) {
    const qreal width = (b.width() - 2 * TLProcRowBarInset) * TLProcRowClampFraction(fraction);
    if (!(width > 1)) return {};
    return {b.x() + TLProcRowBarInset, b.y() + 1.5, width, b.height() - 3};
}

QRectF TLProcRowHighlightRect(const QRectF& b) {
    return b.adjusted(TLProcRowBarInset, 1, -TLProcRowBarInset, -1);
}

TLProcRowLabelRects TLProcRowLayout(QSizeF size, qreal nameWidth, qreal valueWidth) {
    const qreal valueX = size.width() - TLProcRowLabelInset - valueWidth;
    const qreal room = valueX - TLProcRowLabelGap - TLProcRowLabelInset;
    const qreal name = std::max<qreal>(0, std::min(nameWidth, room));
    return {QRectF(TLProcRowLabelInset, 0, name, size.height()),
            QRectF(valueX, 0, valueWidth, size.height())};
}

TLProcRow::TLProcRow(QWidget* parent)
    : QWidget(parent), _name(new TLTextLabel(this)), _value(new TLTextLabel(this)),
      _tint(TLSystemBlue()) {
    for (QLabel* label : {_name, _value}) {
        // Process names are arbitrary text: never read them as markup.
        label->setTextFormat(Qt::PlainText);
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    _name->setFont(TLSystemFont(TLProcRowFontSize));
    _name->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    TLSetTextColor(_name, TLLabelColor());

    _value->setFont(TLMonospacedDigitSystemFont(TLProcRowFontSize, QFont::Medium));
    _value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    TLSetTextColor(_value, TLSecondaryLabelColor());
}

TLProcRow::TLProcRow(const QRect& frame, QWidget* parent) : TLProcRow(parent) {
    _frameSize = frame.size();
    setGeometry(frame);
}

TLProcRow::~TLProcRow() = default;

void TLProcRow::setRank(qint64, const QString& name, const QString& value, double fraction,
                        bool approximate) {
    _fullName = name;
    _plainValue = value;
    _approximate = approximate;
    _value->setText(approximate ? QStringLiteral("~") + value : value);
    TLSetTextColor(_value, approximate ? TLTertiaryLabelColor() : TLSecondaryLabelColor());
    const double before = _fraction;
    _fraction = TLProcRowClampFraction(fraction);
    layoutLabels();
    // The bar is antialiased: a move of less than a tenth of a point shows nowhere, and the
    // rows are refreshed on every tick.
    const QRectF bounds(0, 0, width(), height());
    if (std::abs(TLProcRowBarRect(bounds, _fraction).width() -
                 TLProcRowBarRect(bounds, before).width()) >= 0.1)
        update();
}

void TLProcRow::setKeyboardCurrent(bool current) {
    if (current == _keyboardCurrent) return;
    _keyboardCurrent = current;
    update();
}

bool TLProcRow::popUpMenuFromKeyboard() {
    if (!menu()) return false;
    connect(_menu.data(), &QMenu::aboutToHide, this, &TLProcRow::recheckHover,
            Qt::ConnectionType(Qt::UniqueConnection | Qt::QueuedConnection));
    _menu->popup(mapToGlobal(QPoint(static_cast<int>(TLProcRowLabelInset), height())));
    // Opened from the keyboard, the menu starts on its first command (the heading above it is
    // not one): a screen reader speaks it at once, and Return chooses it.
    const QList<QAction*> actions = _menu->actions();
    const auto first = std::find_if(actions.begin(), actions.end(), [](const QAction* a) {
        return a->isEnabled() && a->isVisible() && !a->isSeparator();
    });
    if (first != actions.end()) _menu->setActiveAction(*first);
    return true;
}

void TLProcRow::setTint(const TLColor& tint) {
    if (tint == _tint) return;
    _tint = tint;
    update();
}

QMenu* TLProcRow::menu() {
    if (!_menu && _makeMenu) setMenu(_makeMenu());
    return _menu;
}

void TLProcRow::setMenuSource(std::function<QMenu*()> make) {
    setMenu(nullptr);
    _makeMenu = std::move(make);
}

void TLProcRow::setMenu(QMenu* menu) {
    _makeMenu = nullptr;
    if (menu == _menu) return;
    if (QMenu* old = _menu) {
        // A menu the user is looking at stays until it closes.
        if (old->isVisible())
            connect(old, &QMenu::aboutToHide, old, &QObject::deleteLater);
        else
            delete old;
    }
    _menu = menu;
    if (menu) menu->setParent(this, menu->windowFlags());
}

QSize TLProcRow::sizeHint() const {
    return _frameSize.isValid() ? _frameSize : QWidget::sizeHint();
}

void TLProcRow::layoutLabels() {
    const qreal valueWidth = std::ceil(_value->textWidth());
    // The room the name may take beside the value; the name is measured again only when that
    // room or the name changed.
    const TLProcRowLabelRects room =
        TLProcRowLayout(QSizeF(size()), std::numeric_limits<qreal>::max(), valueWidth);
    _value->setGeometry(static_cast<int>(std::floor(room.value.x())), 0,
                        static_cast<int>(valueWidth), height());
    const int nameRoom = static_cast<int>(std::floor(room.name.width()));
    const QSize laidOutFor(nameRoom, height());
    // What follows the name, never shortened: the count of an application's processes and the
    // growth mark.
    QString count = _members > 1 ? QStringLiteral(" ×") + QString::number(_members) : QString();
    if (!_growthNote.isEmpty()) count += QStringLiteral(" ↑");
    if (_fullName + count == _laidOutName && laidOutFor == _laidOutFor) return;
    const QFontMetricsF nameMetrics(_name->font());
    const QString whole = _fullName + count;
    const qreal nameWidth = std::ceil(nameMetrics.horizontalAdvance(whole));
    const TLProcRowLabelRects rects = TLProcRowLayout(QSizeF(size()), nameWidth, valueWidth);
    const int shown = static_cast<int>(std::floor(rects.name.width()));
    _name->setText(nameWidth <= shown
                       ? whole
                       : nameMetrics.elidedText(_fullName, Qt::ElideMiddle,
                                                shown - nameMetrics.horizontalAdvance(count)) +
                             count);
    _name->setGeometry(static_cast<int>(rects.name.x()), 0, shown, height());
    _laidOutName = whole;
    _laidOutFor = laidOutFor;
}

void TLProcRow::setGrowthNote(const QString& note) {
    if (note == _growthNote) return;
    _growthNote = note;
    setToolTip(note);
    layoutLabels();
}

void TLProcRow::setMemberCount(int count) {
    count = std::max(count, 1);
    if (count == _members) return;
    _members = count;
    layoutLabels();
}

void TLProcRow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutLabels();
}

void TLProcRow::setHover(bool hover) {
    if (hover == _hover) return;
    _hover = hover;
    update();
}

void TLProcRow::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    // Hover is reported only while the row's window is the active one.
    setHover(isActiveWindow());
}

void TLProcRow::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    setHover(false);
}

void TLProcRow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) recheckHover();
}

void TLProcRow::contextMenuEvent(QContextMenuEvent* event) {
    if (!menu()) {
        event->ignore();
        return;
    }
    // While the menu (and any alert opened from it) holds the pointer, the row hears of no leave;
    // look again where the pointer is once the menu has closed.
    connect(_menu.data(), &QMenu::aboutToHide, this, &TLProcRow::recheckHover,
            Qt::ConnectionType(Qt::UniqueConnection | Qt::QueuedConnection));
    _menu->popup(event->globalPos());
}

void TLProcRow::recheckHover() {
    setHover(isVisible() && isActiveWindow() && rect().contains(mapFromGlobal(QCursor::pos())));
}

void TLProcRow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    setHover(false);
}

void TLProcRow::paintEvent(QPaintEvent*) {
    const TLAppearance appearance = TLEffectiveAppearance(this);
    const QRectF bounds(0, 0, width(), height());

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    TLYUpBegin(painter, bounds.height());

    const QRectF bar = TLProcRowBarRect(bounds, _fraction);
    if (!bar.isEmpty()) {
        QPainterPath path;
        path.addRoundedRect(bar, TLProcRowBarRadius, TLProcRowBarRadius);
        const qreal alpha = _hover ? TLProcRowBarHoverAlpha : TLProcRowBarAlpha;
        painter.fillPath(path, _tint.withAlpha(alpha).resolve(appearance));
    }
    if (_hover) {
        QPainterPath path;
        path.addRoundedRect(TLProcRowHighlightRect(bounds), TLProcRowHighlightRadius,
                            TLProcRowHighlightRadius);
        painter.fillPath(path,
                         TLLabelColor().withAlpha(TLProcRowHighlightAlpha).resolve(appearance));
    }
    if (_keyboardCurrent) {
        // The focus ring: opaque, so that it stands out from the panel (at least 3:1).
        painter.setPen(QPen(TLFocusRingColor().resolve(appearance), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(TLProcRowHighlightRect(bounds), TLProcRowHighlightRadius,
                                TLProcRowHighlightRadius);
    }
}
