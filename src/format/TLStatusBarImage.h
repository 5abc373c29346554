#pragma once
#include "format/TLColor.h"

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QRectF>
#include <QSizeF>
#include <QStringView>

#include <optional>

class QPainter;

// The menu-bar gauge: a 24 × 11 point rounded outline filled from the left in proportion to memory
// use. It has two looks: a coloured one, whose fill takes the colour it is given (the pressure
// colour), and a monochrome template one.
//
// The gauge is not a stored bitmap but a drawing procedure (TLGaugeImage::draw) that runs at
// whatever scale it is rendered, so it stays sharp at 1x, 2x and in the snapshot files.
//
// The template look: on macOS the image is drawn in black and the icon is marked as a mask, which
// the menu bar tints. Linux trays do not tint icons, so there the template look is drawn in an ink
// that reads on the tray: TLStatusBarTemplateInk of the tray's appearance (see TLTrayBarIsDark,
// platform/TLDesktopColors.h).

// Size of the gauge image in points.
inline constexpr qreal TLStatusBarImageWidth = 24;
inline constexpr qreal TLStatusBarImageHeight = 11;
// The rounded outline (stroked 1 point wide) and the fill's corner radii.
inline constexpr qreal TLStatusBarOutlineRadius = 2.5;
inline constexpr qreal TLStatusBarFillRadius = 1.0;

// Geometry in points, y-up, origin at the bottom left of the image.
// The outline: the frame (0, 1, 24, 9) inset by half its 1-point line, (0.5, 1.5, 23, 8).
QRectF TLStatusBarOutlineRect();
// The fraction clamped to 0 … 1 (a value that is not a number counts as 0).
double TLStatusBarClampFraction(double fraction);
// Width of the fill for a fraction: 20 × f, and in the coloured look at least 2 points once f is
// above 1 % so that any load shows; the template look has no minimum.
double TLStatusBarFillWidth(double fraction, bool isTemplate);
// The fill: (2, 3, fill width, 5), anchored at the left and growing to the right.
QRectF TLStatusBarFillRect(double fraction, bool isTemplate);

// One gauge picture: what TLStatusBarImage returns.
class TLGaugeImage {
public:
    TLGaugeImage(const TLColor& color, bool isTemplate, double fraction);

    const TLColor& color() const { return _color; }
    bool isTemplate() const { return _isTemplate; }
    // The fill fraction, already clamped to 0 … 1.
    double fraction() const { return _fraction; }
    static QSizeF size() { return {TLStatusBarImageWidth, TLStatusBarImageHeight}; }

    // Draws the gauge into the 24 × 11 point box whose top-left corner is the painter's origin.
    // The coloured look resolves its outline colour (tertiary label at alpha 0.55) and its fill
    // against `appearance`, the appearance of the bar it sits on. The template look draws outline
    // and fill in `templateInk` and ignores the colour. The outline is drawn before the fill.
    void draw(QPainter& painter, TLAppearance appearance, const QColor& templateInk) const;

    // The gauge rendered at a device pixel ratio: an image of 24 × 11 points (48 × 22 pixels at
    // 2x), transparent where nothing is drawn.
    QImage toImage(qreal devicePixelRatio, TLAppearance appearance,
                   const QColor& templateInk) const;

    // An icon that runs the drawing at every size and scale it is asked for (the 24 × 11 box is
    // fitted into the requested size and centred). With `templateAsMask` (a bar that tints mask
    // icons itself, as the macOS menu bar does) a template gauge is a black mask icon, whatever
    // the ink.
    QIcon toIcon(TLAppearance appearance, const QColor& templateInk,
                 bool templateAsMask = false) const;

private:
    TLColor _color;
    bool _isTemplate;
    double _fraction;
};

// The gauge for a fill colour, a template flag and a fraction (clamped to 0 … 1).
TLGaugeImage TLStatusBarImage(const TLColor& color, bool isTemplate, double fraction);

// The ink of the template look on a bar of the given appearance: the bar's label colour, black at
// 0.85 on a light bar and white at 0.85 on a dark one, like a tinted template on macOS.
QColor TLStatusBarTemplateInk(TLAppearance barAppearance);
