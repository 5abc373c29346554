#include "format/TLStatusBarImage.h"
#include "platform/TLDesktopColors.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

const QColor kInk(20, 30, 40);

// Pixel of an image at device-pixel coordinates, unpremultiplied.
QColor at(const QImage& image, int x, int y) {
    return image.pixelColor(x, y);
}

// Largest alpha over a rectangle of device pixels.
int maxAlpha(const QImage& image, const QRect& r) {
    int a = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            a = std::max(a, image.pixelColor(x, y).alpha());
    return a;
}

} // namespace

TEST(StatusBarGeometry, OutlineAndFullFillLeaveAOnePointGap) {
    EXPECT_EQ(TLStatusBarOutlineRect(), QRectF(0.5, 1.5, 23, 8));
    // Full fill spans 2…22 by 3…8; the outline's line covers 0…1 and 23…24, 1…2 and 9…10.
    EXPECT_EQ(TLStatusBarFillRect(1, false), QRectF(2, 3, 20, 5));
    EXPECT_EQ(TLStatusBarFillRect(1, true), QRectF(2, 3, 20, 5));
    EXPECT_EQ(TLStatusBarFillRect(0.5, false), QRectF(2, 3, 10, 5));
}

TEST(StatusBarGeometry, ColouredFillHasATwoPointMinimumAboveOnePercent) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        double f, width;
    } cases[] = {{0, 0},      {0.005, 0.1}, {0.01, 0.2}, {0.011, 2.0}, {0.05, 2.0},
                 {0.5, 10.0}, {1, 20.0},    {1.7, 20.0}, {-0.3, 0},    {nan, 0}};
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(TLStatusBarFillWidth(c.f, false), c.width) << "f = " << c.f;
}

TEST(StatusBarGeometry, TemplateFillHasNoMinimum) {
    EXPECT_DOUBLE_EQ(TLStatusBarFillWidth(0.05, true), 1.0);
    EXPECT_DOUBLE_EQ(TLStatusBarFillWidth(0.011, true), 0.22);
    EXPECT_DOUBLE_EQ(TLStatusBarFillWidth(1.7, true), 20);
    EXPECT_EQ(TLStatusBarImage(TLSystemGreen(), true, -0.3).fraction(), 0.0);
}

TEST(StatusBarImage, RendersTwentyFourByElevenPointsAtAnyScale) {
    const TLGaugeImage gauge = TLStatusBarImage(TLSystemGreen(), false, 0.5);
    const QImage x1 = gauge.toImage(1, TLAppearance::Light, kInk);
    const QImage x2 = gauge.toImage(2, TLAppearance::Light, kInk);
    EXPECT_EQ(x1.size(), QSize(24, 11));
    EXPECT_EQ(x2.size(), QSize(48, 22));
    EXPECT_EQ(x2.devicePixelRatio(), 2.0);
    // The icon draws at the scale asked for too.
    const QPixmap pixmap = gauge.toIcon(TLAppearance::Light, kInk).pixmap(QSize(24, 11), 2.0);
    EXPECT_EQ(pixmap.size(), QSize(48, 22));
    EXPECT_EQ(pixmap.toImage().pixelColor(20, 11), x2.pixelColor(20, 11));
}

TEST(StatusBarImage, ATemplateGaugeIsAMaskOnlyWhereTheBarTintsMasks) {
    const TLGaugeImage gauge = TLStatusBarImage(TLSystemGreen(), true, 1);
    const QColor ink(255, 255, 255);
    const QIcon tray = gauge.toIcon(TLAppearance::Dark, ink);
    EXPECT_FALSE(tray.isMask());
    EXPECT_EQ(tray.pixmap(QSize(24, 11), 1.0).toImage().pixelColor(12, 5).rgb(), ink.rgb());
    const QIcon menuBar = gauge.toIcon(TLAppearance::Dark, ink, /*templateAsMask=*/true);
    EXPECT_TRUE(menuBar.isMask());
    EXPECT_EQ(menuBar.pixmap(QSize(24, 11), 1.0).toImage().pixelColor(12, 5).rgb(), qRgb(0, 0, 0));
    // A coloured gauge is never a mask.
    EXPECT_FALSE(TLStatusBarImage(TLSystemGreen(), false, 1)
                     .toIcon(TLAppearance::Dark, ink, /*templateAsMask=*/true)
                     .isMask());
}

TEST(StatusBarImage, ColouredLookPixelsAtOneX) {
    const QImage img =
        TLStatusBarImage(TLSystemRed(), false, 1).toImage(1, TLAppearance::Light, kInk);
    // Rows 0 and 10 lie outside the frame; the outline is a crisp one-pixel line.
    EXPECT_EQ(maxAlpha(img, QRect(0, 0, 24, 1)), 0);
    EXPECT_EQ(maxAlpha(img, QRect(0, 10, 24, 1)), 0);
    const QColor outline = at(img, 12, 1);
    EXPECT_EQ(outline.rgb(), qRgb(0, 0, 0));
    EXPECT_NEAR(outline.alphaF(), 0.55, 0.01);
    EXPECT_NEAR(at(img, 12, 9).alphaF(), 0.55, 0.01);
    // Along the straight edges the gap between outline and fill stays empty (the outline's
    // rounded corners reach into it); the fill is the colour, opaque.
    EXPECT_EQ(maxAlpha(img, QRect(4, 2, 16, 1)), 0);
    EXPECT_EQ(maxAlpha(img, QRect(4, 8, 16, 1)), 0);
    EXPECT_EQ(maxAlpha(img, QRect(1, 4, 1, 3)), 0);
    EXPECT_EQ(maxAlpha(img, QRect(22, 4, 1, 3)), 0);
    EXPECT_EQ(at(img, 12, 5), TLSystemRed().resolve(TLAppearance::Light));
    EXPECT_EQ(at(img, 2, 5), TLSystemRed().resolve(TLAppearance::Light));
    EXPECT_EQ(at(img, 21, 5), TLSystemRed().resolve(TLAppearance::Light));
}

TEST(StatusBarImage, ColouredLookResolvesAgainstTheBarAppearance) {
    const QImage dark =
        TLStatusBarImage(TLSystemRed(), false, 1).toImage(1, TLAppearance::Dark, kInk);
    EXPECT_EQ(at(dark, 12, 1).rgb(), qRgb(255, 255, 255));
    EXPECT_NEAR(at(dark, 12, 1).alphaF(), 0.55, 0.01);
    EXPECT_EQ(at(dark, 12, 5), TLSystemRed().resolve(TLAppearance::Dark));
}

TEST(StatusBarImage, ATenthOfAPixelFillDoesNotBleedIntoAVisibleBar) {
    // f = 0.01 gives a 0.2-point sliver: anti-aliasing must not widen it into a bar.
    for (qreal dpr : {1.0, 2.0}) {
        const QImage img =
            TLStatusBarImage(TLSystemGreen(), false, 0.01).toImage(dpr, TLAppearance::Light, kInk);
        const QRect fillArea(int(2 * dpr), int(3 * dpr), int(20 * dpr), int(5 * dpr));
        // Coverage of 0.2 point is 0.2 of a pixel at 1x, 0.4 at 2x.
        EXPECT_LT(maxAlpha(img, fillArea), (0.2 * dpr + 0.05) * 255) << "dpr " << dpr;
        EXPECT_GT(maxAlpha(img, fillArea), 0) << "dpr " << dpr;
        // Nothing beyond the first pixel column of the fill.
        EXPECT_EQ(maxAlpha(img, fillArea.adjusted(int(dpr), 0, 0, 0)), 0) << "dpr " << dpr;
    }
    // Just above 1 % the two-point minimum shows as a solid sliver.
    const QImage sliver =
        TLStatusBarImage(TLSystemGreen(), false, 0.011).toImage(1, TLAppearance::Light, kInk);
    EXPECT_EQ(at(sliver, 2, 5).alpha(), 255);
    EXPECT_EQ(at(sliver, 3, 5).alpha(), 255);
    EXPECT_EQ(at(sliver, 4, 5).alpha(), 0);
}

TEST(StatusBarImage, TemplateLookIgnoresTheColourAndUsesTheInk) {
    const QImage red =
        TLStatusBarImage(TLSystemRed(), true, 0.05).toImage(2, TLAppearance::Light, kInk);
    const QImage green =
        TLStatusBarImage(TLSystemGreen(), true, 0.05).toImage(2, TLAppearance::Light, kInk);
    EXPECT_EQ(red, green);
    // A one-point fill, no minimum: columns 4 and 5 at 2x, nothing after.
    EXPECT_EQ(red.pixelColor(4, 10), kInk);
    EXPECT_EQ(red.pixelColor(5, 10), kInk);
    EXPECT_EQ(red.pixelColor(6, 10).alpha(), 0);
    EXPECT_EQ(red.pixelColor(24, 2), kInk); // outline
}

TEST(StatusBarImage, EmptyGaugeDrawsOnlyTheOutline) {
    for (bool isTemplate : {false, true}) {
        const QImage img =
            TLStatusBarImage(TLSystemGreen(), isTemplate, 0).toImage(1, TLAppearance::Light, kInk);
        EXPECT_EQ(maxAlpha(img, QRect(2, 3, 20, 5)), 0);
        EXPECT_GT(at(img, 12, 1).alpha(), 0);
    }
}

TEST(StatusBarImage, DrawsInsideAPainterAtAnyOffset) {
    // The snapshot and the tray icon draw the gauge into their own painters.
    QImage canvas(40, 20, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        painter.translate(10, 5);
        TLStatusBarImage(TLSystemBlue(), false, 1).draw(painter, TLAppearance::Light, kInk);
    }
    EXPECT_EQ(canvas.pixelColor(22, 10), TLSystemBlue().resolve(TLAppearance::Light));
    EXPECT_EQ(canvas.pixelColor(22, 4).alpha(), 0);  // above the box
    EXPECT_GT(canvas.pixelColor(22, 6).alpha(), 0);  // outline, top
    EXPECT_GT(canvas.pixelColor(22, 14).alpha(), 0); // outline, bottom
    EXPECT_EQ(canvas.pixelColor(22, 15).alpha(), 0); // below the box
}

TEST(StatusBarTray, TemplateInkIsTheBarLabelColour) {
    EXPECT_EQ(TLStatusBarTemplateInk(TLAppearance::Light).rgb(), qRgb(0, 0, 0));
    EXPECT_EQ(TLStatusBarTemplateInk(TLAppearance::Dark).rgb(), qRgb(255, 255, 255));
    EXPECT_NEAR(TLStatusBarTemplateInk(TLAppearance::Dark).alphaF(), 0.85, 0.01);
}

TEST(StatusBarTray, AppearanceFromWhatTheDesktopDeclares) {
    const QColor light(239, 240, 241), dark(49, 54, 59);
    const auto hints = [](QString desktop) {
        TLDesktopColorHints h;
        h.currentDesktop = std::move(desktop);
        return h;
    };
    // Plasma: its colour scheme, before anything else.
    TLDesktopColorHints h = hints(QStringLiteral("KDE"));
    h.kdeWindow = dark;
    h.portalColorScheme = 2;
    EXPECT_EQ(TLTrayBarIsDarkFromHints(h), true);
    h.kdeWindow = light;
    EXPECT_EQ(TLTrayBarIsDarkFromHints(h), false);
    // GNOME's top bar is dark whatever the applications prefer.
    h = hints(QStringLiteral("ubuntu:GNOME"));
    h.portalColorScheme = 2;
    h.gtkDark = false;
    EXPECT_EQ(TLTrayBarIsDarkFromHints(h), true);
    // Elsewhere the portal, then GTK, then KDE's scheme, then a themed Qt palette.
    h = hints(QStringLiteral("XFCE"));
    h.portalColorScheme = 1;
    h.gtkDark = false;
    EXPECT_EQ(TLTrayBarIsDarkFromHints(h), true);
    h.portalColorScheme.reset();
    EXPECT_EQ(TLTrayBarIsDarkFromHints(h), false);
    h = hints(QStringLiteral("LXQt"));
    h.themePalette = light;
    EXPECT_EQ(TLTrayBarIsDarkFromHints(h), false);
    h.kdeWindow = dark;
    EXPECT_EQ(TLTrayBarIsDarkFromHints(h), true);
    // Nothing declared, on a desktop that is not GNOME: no guess.
    EXPECT_FALSE(TLTrayBarIsDarkFromHints(hints(QStringLiteral("XFCE"))).has_value());
    EXPECT_FALSE(TLTrayBarIsDarkFromHints(hints(QString())).has_value());
    EXPECT_FALSE(TLTrayBarIsDarkFromHints(hints(QStringLiteral("X-Cinnamon:kde"))).has_value());
}

// The panel follows what the desktop asks of application windows, not the bar's colour.
TEST(StatusBarTray, WindowsFollowTheDesktopsDeclaredScheme) {
    const QColor light(239, 240, 241), dark(49, 54, 59);
    TLDesktopColorHints h;
    // GNOME: a dark top bar, but light windows when the user chose the light style.
    h.currentDesktop = QStringLiteral("ubuntu:GNOME");
    h.portalColorScheme = 2;
    EXPECT_EQ(TLWindowsAreDarkFromHints(h), false);
    h.portalColorScheme = 1;
    EXPECT_EQ(TLWindowsAreDarkFromHints(h), true);
    // Plasma: Breeze Dark in kdeglobals wins over a stale portal answer.
    h.currentDesktop = QStringLiteral("KDE");
    h.kdeWindow = dark;
    h.portalColorScheme = 2;
    EXPECT_EQ(TLWindowsAreDarkFromHints(h), true);
    h.kdeWindow = light;
    h.portalColorScheme = 1;
    EXPECT_EQ(TLWindowsAreDarkFromHints(h), false);
    // Elsewhere the same order as the bar: portal, GTK, KDE's scheme, a themed palette.
    h = TLDesktopColorHints();
    h.currentDesktop = QStringLiteral("XFCE");
    h.gtkDark = true;
    h.themePalette = light;
    EXPECT_EQ(TLWindowsAreDarkFromHints(h), true);
    h.gtkDark.reset();
    EXPECT_EQ(TLWindowsAreDarkFromHints(h), false);
    h.themePalette = QColor();
    EXPECT_FALSE(TLWindowsAreDarkFromHints(h).has_value());
}
