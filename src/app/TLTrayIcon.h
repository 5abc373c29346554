#pragma once
#include "app/TLStatusPresentation.h"
#include "format/TLColor.h"

#include <QIcon>
#include <QImage>
#include <QString>

#include <optional>

// The status item's picture on Linux. A tray gives an icon a square slot (22 × 22 or so) and
// shrinks anything wider until it cannot be read, and most trays show no text beside an icon. So
// the picture is a square made for the slot that carries what the chosen display mode shows:
//
//   gauge and percentage   the figure above the gauge
//   percentage only        the figure, as large as fits
//   used memory only       the short byte figure ("8.85G"), as large as fits
//   gauge only             the gauge across the square
//
// With the CPU load switched on it stands under the memory figure as a second, smaller line. The
// exact text and the two-line tool tip stay the item's title and tool tip.

struct TLTrayIconContent {
    bool gauge = false;
    TLColor gaugeColor;
    bool gaugeTemplate = false;
    double fraction = 0;
    QString figure; // the memory figure, without the CPU part
    QString cpu;    // the CPU figure, or empty
};

// What the square shows for a presentation.
TLTrayIconContent TLTrayIconContentFor(const TLStatusPresentation& p);

// The square at a size in logical pixels and a device pixel ratio, drawn for a tray of the given
// appearance (text and the template gauge in that tray's label colour). Without an appearance
// (nothing tells the tray's colour) the figures are light with a dark rim, legible on both.
QImage TLRenderTrayIcon(const TLTrayIconContent& content, int size, qreal devicePixelRatio,
                        std::optional<TLAppearance> trayAppearance);

// The icon with the sizes trays ask for, and a key of its pixels: equal keys, equal pictures.
struct TLTrayIcon {
    QIcon icon;
    quint64 key = 0;
};
TLTrayIcon TLMakeTrayIcon(const TLTrayIconContent& content,
                          std::optional<TLAppearance> trayAppearance);
// The macOS menu bar's picture: the gauge (when shown) and the title side by side, the title in
// the 11-point medium font with equal-width digits and the label colour, as a status item lays
// them out. A template gauge makes the whole picture a mask the menu bar tints.
TLTrayIcon TLMakeMenuBarIcon(const TLStatusPresentation& p, TLAppearance barAppearance);
// One scale of that picture, 22 points high.
QImage TLRenderMenuBarIcon(const TLStatusPresentation& p, TLAppearance barAppearance,
                           qreal devicePixelRatio);
// Height of the menu bar picture in points, and where the gauge's 11-point box starts in it at a
// device pixel ratio: as near the centre as whole device pixels allow.
inline constexpr qreal TLMenuBarHeight = 22;
qreal TLMenuBarGaugeTop(qreal devicePixelRatio);

// Only the key (cheap enough for every tick): compare before making the icon.
quint64 TLTrayIconKey(const TLTrayIconContent& content, std::optional<TLAppearance> trayAppearance);
