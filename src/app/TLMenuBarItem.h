#pragma once
// The macOS menu bar's item: one picture with the gauge (when shown) and the title side by side,
// the title in the 11-point medium font with equal-width digits and the label colour, as a status
// item lays them out. The menu bar gives an item as much room as its content, and tints a template
// image itself: a template gauge makes the whole picture a mask, drawn in black.
//
// Drawn on every system (the tests look at it); only macOS's host switch picks the menu bar
// (platform/TLStatusHost.h).

#include "format/TLColor.h"
#include "platform/TLStatusItem.h"

#include <QImage>
#include <QString>

#include <optional>

// What the picture shows.
struct TLMenuBarContent {
    bool gauge = false;
    TLColor gaugeColor; // the coloured look's fill
    bool gaugeTemplate = false;
    double fraction = 0; // of the gauge, clamped by it
    QString title;       // empty: no text
};

// The picture at 1x and 2x, for a menu bar of the given appearance (a light one when nothing
// tells).
TLStatusPicture TLMakeMenuBarIcon(const TLMenuBarContent& content,
                                  std::optional<TLAppearance> barAppearance);
// One scale of that picture, TLMenuBarHeight points high.
QImage TLRenderMenuBarIcon(const TLMenuBarContent& content, TLAppearance barAppearance,
                           qreal devicePixelRatio);
// Height of the picture in points, and where the gauge's 11-point box starts in it at a device
// pixel ratio: as near the centre as whole device pixels allow.
inline constexpr qreal TLMenuBarHeight = 22;
qreal TLMenuBarGaugeTop(qreal devicePixelRatio);
