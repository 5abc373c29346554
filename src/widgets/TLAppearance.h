#pragma once
#include "format/TLColor.h"

#include <QEvent>
#include <QPalette>

#include <optional>

class QWidget;

// Light and dark appearance of a widget tree.
//
// Every widget draws in an appearance: the one set with TLSetAppearance on the widget itself or on
// its nearest ancestor, or Light when none is set. Custom-drawn widgets (TLSparkView,
// TLStackedBarView, TLProcRow, TLChip) resolve each semantic colour against
// TLEffectiveAppearance(this) when they paint, so they need nothing more than a repaint.
//
// Text colours: a label (or any widget that draws text in its foreground role) gets a semantic
// colour with TLSetTextColor instead of a fixed palette colour. The colour is kept with the widget
// and resolved again whenever the tree's appearance changes, and whenever the widget is given a
// new parent or shown, so a label built before it is put into the panel still ends up right.
//
// Switching the panel: TLSetAppearance(panel, TLAppearance::Dark) marks the panel, gives it the
// standard palette of that appearance (TLAppearancePalette, so that plain labels, buttons and the
// other standard controls follow), re-resolves every TLSetTextColor colour in the tree, sends
// every widget of the tree an event of type TLAppearanceChangeEventType() (for a widget that
// caches something appearance-dependent, e.g. a rich-text label) and schedules a repaint of all
// of them.

// The appearance a widget draws in: the nearest one set on it or an ancestor, else Light.
TLAppearance TLEffectiveAppearance(const QWidget* widget);

// Sets the appearance of a widget and everything below it, and redraws them all (see above).
void TLSetAppearance(QWidget* root, TLAppearance appearance);

// Gives the widget's text (its foreground role) a semantic colour that follows the appearance.
void TLSetTextColor(QWidget* widget, const TLColor& color);
// The semantic text colour given to the widget, if any.
std::optional<TLColor> TLTextColor(const QWidget* widget);

// The palette of standard controls in an appearance: the panel background as window colour, the
// label colours for text, the system blue for selections.
QPalette TLAppearancePalette(TLAppearance appearance);

// Type of the event sent to each widget of a tree whose appearance was set.
QEvent::Type TLAppearanceChangeEventType();
