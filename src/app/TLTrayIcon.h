#pragma once
#include "app/TLMenuBarItem.h"
#include "app/TLStatusPresentation.h"
#include "format/TLColor.h"
#include "platform/TLStatusItem.h"

#include <QIcon>
#include <QImage>
#include <QString>

#include <optional>

// The status item's picture in a tray. A tray gives an icon a square slot (22 × 22 or so) and
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
using TLTrayIcon = TLStatusPicture;
TLTrayIcon TLMakeTrayIcon(const TLTrayIconContent& content,
                          std::optional<TLAppearance> trayAppearance);

// What the macOS menu bar's picture (app/TLMenuBarItem.h) shows for a presentation: the
// gauge and the whole title.
TLMenuBarContent TLMenuBarContentFor(const TLStatusPresentation& p);

// Only the key (cheap enough for every tick): compare before making the icon.
quint64 TLTrayIconKey(const TLTrayIconContent& content, std::optional<TLAppearance> trayAppearance);
