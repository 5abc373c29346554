#include "widgets/TLAppearance.h"

#include <QCoreApplication>
#include <QPointer>
#include <QVariant>
#include <QWidget>

namespace {

constexpr const char* kAppearanceProperty = "_tl_appearance";
constexpr const char* kTextColorProperty = "_tl_textColor";

// Resolves a widget's semantic text colour in its current appearance into its palette. Only the
// foreground role is set on the widget; every other role keeps following its parent.
void applyTextColor(QWidget* widget) {
    const std::optional<TLColor> color = TLTextColor(widget);
    if (!color) return;
    const QColor resolved = color->resolve(TLEffectiveAppearance(widget));
    const QPalette::ColorRole role = widget->foregroundRole();
    if (widget->palette().color(role) == resolved &&
        widget->palette().isBrushSet(QPalette::Active, role))
        return;
    QPalette palette = widget->palette();
    palette.setColor(role, resolved);
    widget->setPalette(palette);
}

// Re-resolves a coloured widget's text when it moves to another parent or is shown.
class TextColorWatcher final : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::ParentChange || event->type() == QEvent::Show)
            applyTextColor(static_cast<QWidget*>(object));
        return false;
    }
};

TextColorWatcher* watcher() {
    static QPointer<TextColorWatcher> instance;
    if (!instance) instance = new TextColorWatcher(QCoreApplication::instance());
    return instance;
}

} // namespace

TLAppearance TLEffectiveAppearance(const QWidget* widget) {
    for (const QWidget* w = widget; w; w = w->parentWidget()) {
        const QVariant v = w->property(kAppearanceProperty);
        if (v.isValid())
            return v.toInt() == int(TLAppearance::Dark) ? TLAppearance::Dark : TLAppearance::Light;
    }
    return TLAppearance::Light;
}

void TLSetAppearance(QWidget* root, TLAppearance appearance) {
    if (!root) return;
    root->setProperty(kAppearanceProperty, int(appearance));
    root->setPalette(TLAppearancePalette(appearance));

    QList<QWidget*> tree = root->findChildren<QWidget*>();
    tree.prepend(root);
    const QEvent::Type type = TLAppearanceChangeEventType();
    for (QWidget* widget : tree) {
        applyTextColor(widget);
        QEvent event(type);
        QCoreApplication::sendEvent(widget, &event);
        widget->update();
    }
}

void TLSetTextColor(QWidget* widget, const TLColor& color) {
    if (!widget) return;
    const QVariant current = widget->property(kTextColorProperty);
    // The same colour again (the panel sets its colours on every refresh): the palette already
    // holds it, and appearance changes, new parents and showing re-resolve it.
    if (current.isValid() && current.value<TLColor>() == color) return;
    const bool first = !current.isValid();
    widget->setProperty(kTextColorProperty, QVariant::fromValue(color));
    if (first && QCoreApplication::instance()) widget->installEventFilter(watcher());
    applyTextColor(widget);
}

std::optional<TLColor> TLTextColor(const QWidget* widget) {
    if (!widget) return std::nullopt;
    const QVariant color = widget->property(kTextColorProperty);
    if (!color.canConvert<TLColor>()) return std::nullopt;
    return color.value<TLColor>();
}

QPalette TLAppearancePalette(TLAppearance a) {
    const bool dark = a == TLAppearance::Dark;
    const QColor window = TLPanelBackgroundColor().resolve(a);
    const QColor label = TLLabelColor().resolve(a);
    const QColor secondary = TLSecondaryLabelColor().resolve(a);
    const QColor tertiary = TLTertiaryLabelColor().resolve(a);
    const QColor blue = TLSystemBlue().resolve(a);

    // Bevel shades for styles that draw with them, lightest to darkest.
    const QColor button = dark ? QColor(84, 84, 84) : QColor(255, 255, 255);
    const QColor light = dark ? QColor(110, 110, 110) : QColor(255, 255, 255);
    const QColor midlight = dark ? QColor(96, 96, 96) : QColor(235, 235, 235);
    const QColor mid = dark ? QColor(60, 60, 60) : QColor(196, 196, 196);
    const QColor shadowDark = dark ? QColor(30, 30, 30) : QColor(160, 160, 160);
    const QColor shadow = dark ? QColor(0, 0, 0) : QColor(110, 110, 110);
    const QColor base = dark ? QColor(30, 30, 30) : QColor(255, 255, 255);
    const QColor alternate = dark ? QColor(38, 38, 38) : QColor(244, 245, 245);

    QPalette p(label, button, light, shadowDark, mid, label, QColor(dark ? Qt::white : Qt::black),
               base, window);
    p.setColor(QPalette::Midlight, midlight);
    p.setColor(QPalette::Shadow, shadow);
    p.setColor(QPalette::AlternateBase, alternate);
    p.setColor(QPalette::ButtonText, label);
    p.setColor(QPalette::Highlight, blue);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, blue);
    p.setColor(QPalette::LinkVisited, TLSystemPurple().resolve(a));
    p.setColor(QPalette::PlaceholderText, tertiary);
    p.setColor(QPalette::ToolTipBase, dark ? QColor(50, 50, 50) : QColor(255, 255, 255));
    p.setColor(QPalette::ToolTipText, label);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, tertiary);
    p.setColor(QPalette::Inactive, QPalette::Highlight, secondary);
    return p;
}

QEvent::Type TLAppearanceChangeEventType() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}
