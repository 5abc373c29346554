#pragma once
// What assistive technology (a screen reader, through AT-SPI or the macOS accessibility API)
// learns of the panel's own widgets, which Qt cannot describe by itself: most of them are painted,
// not made of standard controls.
//
// A widget is described with a role and functions that give its name (and, where it has one, its
// value) when a reader asks. So the figures are read as they are at that moment, and a refresh of
// the panel sends no name change of its own: a reader that keeps what it read is told of the names
// that changed at a bounded rate (TLTellAccessibleNameChanges), not at every tick.

#include <QAccessible>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

class QWidget;

struct TLAccessibleDescription {
    QAccessible::Role role = QAccessible::StaticText;
    std::function<QString()> name = {};
    // A value (a progress bar's, say) between `minimum` and `maximum`, and how it reads.
    std::function<std::optional<double>()> value = {};
    std::function<QString()> valueText = {};
    double minimum = 0;
    double maximum = 100;
    // The widget's visible children only (hidden ones are not in the tree at all); or none at all
    // (its parts are read in its name).
    bool visibleChildrenOnly = false;
    bool leaf = false;
    // The caption that labels it (a figure's): read beside it, not in its name.
    QWidget* labelledBy = nullptr;
    // Read in a neighbour's name (the total in the used figure's, a row's labels in the row's):
    // named only to keep it quiet, and never told of on its own.
    bool partOfNeighbour = false;
    // Whether it is the selected one of its kind (a tab); and whether it has the keyboard focus
    // in place of the widget's own (a row of a list whose focus is the list's).
    std::function<bool()> selected = {};
    std::function<bool()> focused = {};
};

// Describes `widget` (before anything asked Qt about it: an interface is made once per widget).
// The description lives as long as the widget. A label described here no longer tells of each new
// text (Qt's labels send a name change with every one).
void TLDescribeAccessible(QWidget* widget, TLAccessibleDescription description);

// Tells a reader that `widget` (a described one whose focus is drawn by another widget) now has
// the keyboard focus.
void TLAnnounceAccessibleFocus(QWidget* widget);

// Tells a reader that what it may have kept of `widget` changed: whether it is selected
// (QAccessible::Selection) or its name (QAccessible::NameChanged). A reader keeps the names and
// states it read until it hears of a change.
void TLAnnounceAccessibleChange(QWidget* widget, QAccessible::Event change);

// Says `text` to a screen reader politely (after what it is saying), on behalf of `widget`: an
// announcement where Qt has them (6.8 on), else a name change of the widget, which a reader
// watching it speaks. Tests may watch announcements with TLWatchAccessibleAnnouncements.
void TLAnnounceAccessible(QWidget* widget, const QString& text);
void TLWatchAccessibleAnnouncements(std::function<void(QWidget*, const QString&)> watcher);

// Tells a reader which described names changed since it was last told, at most once every
// `interval`. A reader keeps the names it has read (libatspi caches them): never told, it would
// read the first figures for as long as the panel stays open; told at every change, it would hear
// of a dozen every tick. The object with the keyboard focus is left out (a reader reads it afresh
// as the focus moves, and would speak each of its changes), and so is everything hidden. Costs
// nothing where no reader listens. Returns how many names were told of.
int TLTellAccessibleNameChanges(std::chrono::steady_clock::time_point now,
                                std::chrono::milliseconds interval = std::chrono::seconds(5));
// Tests may watch what is told, as if a reader listened.
void TLWatchAccessibleNameChanges(std::function<void(QWidget*, const QString&)> watcher);
