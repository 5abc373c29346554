// The panel's place on a layer-shell compositor, and the popover window's Escape key (the same on
// every platform). The compositor side is exercised by e2e_wayland_test.sh.

#include "platform/TLClickGeometry.h"
#include "platform/TLLayerShell.h"
#include "platform/TLPopover.h"
#include "platform/TLServices.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace {

using Edge = TLLayerPlacement::Edge;
const QSize kPanel(322, 617);
const QSize kScreen(1280, 720);

} // namespace

TEST(LayerPlacement, CentredUnderThePointerAndKeptOnTheScreen) {
    // An icon in the middle of a top bar: centred under it.
    TLLayerPlacement p = TLLayerPlacementAtPointer(kPanel, kScreen, QPoint(640, 15));
    EXPECT_EQ(p.edge, Edge::Top);
    ASSERT_TRUE(p.left.has_value());
    EXPECT_EQ(*p.left, 640 - 161);

    // Near either end: held the margin away from the side, the icon still above the panel.
    p = TLLayerPlacementAtPointer(kPanel, kScreen, QPoint(1269, 16));
    EXPECT_EQ(*p.left, 1280 - 4 - 322);
    EXPECT_LE(*p.left, 1269);
    EXPECT_GE(*p.left + kPanel.width(), 1269);
    p = TLLayerPlacementAtPointer(kPanel, kScreen, QPoint(3, 16));
    EXPECT_EQ(*p.left, 4);
    p = TLLayerPlacementAtPointer(kPanel, kScreen, QPoint(100, 16), /*margin=*/10);
    EXPECT_EQ(*p.left, 10);

    // A screen narrower than the panel: from the left margin.
    p = TLLayerPlacementAtPointer(kPanel, QSize(300, 800), QPoint(290, 10));
    EXPECT_EQ(*p.left, 4);
}

TEST(LayerPlacement, TheBarsEdgeFollowsThePointersHalf) {
    EXPECT_EQ(TLLayerPlacementAtPointer(kPanel, kScreen, QPoint(600, 0)).edge, Edge::Top);
    EXPECT_EQ(TLLayerPlacementAtPointer(kPanel, kScreen, QPoint(600, 360)).edge, Edge::Top);
    EXPECT_EQ(TLLayerPlacementAtPointer(kPanel, kScreen, QPoint(600, 361)).edge, Edge::Bottom);
    EXPECT_EQ(TLLayerPlacementAtPointer(kPanel, kScreen, QPoint(600, 719)).edge, Edge::Bottom);
    // On a second screen the position is the screen's own: the same rules.
    EXPECT_EQ(TLLayerPlacementAtPointer(kPanel, QSize(1920, 1080), QPoint(1900, 1070)).edge,
              Edge::Bottom);
}

// A click on a bar that draws its icons itself (a StatusNotifierItem host) tells only where it
// was: the icon sits in the middle of its bar, so the bar reaches twice the click's distance from
// the edge, and the panel opens beyond that, centred on the click.
TEST(LayerPlacement, APanelFromAClickOnABarOpensBeyondTheBar) {
    const QRect screen(0, 0, 1280, 800);
    // Plasma's bottom panel, 44 px: a click in its middle.
    QRect bar = TLBarAroundClick(QPoint(1000, 778), screen);
    EXPECT_EQ(bar, QRect(1000, 800 - 43, 1, 43));
    TLLayerPlacement p = TLLayerPlacementFromAnchor(kPanel, screen, bar, 4, 4);
    EXPECT_EQ(p.edge, Edge::Bottom);
    EXPECT_EQ(p.gap, 43 + 4);
    EXPECT_EQ(*p.left, 1000 - 161);
    // A top bar, 30 px, near the right end: kept on the screen, still over the click.
    bar = TLBarAroundClick(QPoint(1270, 14), screen);
    EXPECT_EQ(bar, QRect(1270, 0, 1, 29));
    p = TLLayerPlacementFromAnchor(kPanel, screen, bar, 4, 4);
    EXPECT_EQ(p.edge, Edge::Top);
    EXPECT_EQ(p.gap, 29 + 4);
    EXPECT_EQ(*p.left, 1280 - 4 - 322);
    // On a second screen the band and the placement are the screen's own.
    const QRect second(1280, 0, 1920, 1080);
    bar = TLBarAroundClick(QPoint(1280 + 50, 1070), second);
    EXPECT_EQ(bar, QRect(1330, 1080 - 19, 1, 19));
    p = TLLayerPlacementFromAnchor(kPanel, second, bar, 4, 4);
    EXPECT_EQ(p.edge, Edge::Bottom);
    EXPECT_EQ(*p.left, 4);
    // Far from both edges (no bar is that thick), or off the screen: the click alone.
    EXPECT_EQ(TLBarAroundClick(QPoint(600, 300), screen), QRect(600, 300, 1, 1));
    EXPECT_EQ(TLBarAroundClick(QPoint(-5, 10), screen), QRect(-5, 10, 1, 1));
    // A compositor that keeps the bar's reserved area clear of layer surfaces (KWin 6) moves the
    // window off it itself: the bar is not counted a second time. A 44 px bar on the edge, then
    // Plasma 6's floating one, 40 px and 8 px off the edge (its far side at 800 - 48): the window
    // ends 4 px and 3 px short of the bar.
    bar = TLBarAroundClick(QPoint(1000, 778), screen);
    p = TLLayerPlacementFromAnchor(kPanel, screen, bar, 4, 4, /*reserved=*/44);
    EXPECT_EQ(p.edge, Edge::Bottom);
    EXPECT_EQ(44 + p.gap, 44 + 4);
    EXPECT_EQ(*p.left, 1000 - 161);
    bar = TLBarAroundClick(QPoint(1000, 772), screen);
    p = TLLayerPlacementFromAnchor(kPanel, screen, bar, 4, 4, /*reserved=*/40);
    EXPECT_EQ(40 + p.gap, 48 + 3);
}

// A host's click in the screen's pixels, in Qt's coordinates: by each screen's own real scale,
// whatever Qt's integer screen ratio is.
TEST(LayerPlacement, AHostsPixelsAreScaledByTheScreensRealScale) {
    // The icon's centre, 22 px above the bottom of a 1280 × 800 screen, at 100 % to 200 %.
    for (const double scale : {1.0, 1.25, 1.5, 1.75, 2.0}) {
        SCOPED_TRACE(scale);
        const QSize pixels(qRound(1280 * scale), qRound(800 * scale));
        const QPoint click(qRound(1250 * scale), qRound(778 * scale));
        const QPoint at =
            TLFromScreenPixels({{QRect(0, 0, 1280, 800), QRect(QPoint(), pixels)}}, click);
        EXPECT_NEAR(at.x(), 1250, 1);
        EXPECT_NEAR(at.y(), 778, 1);
        // The bar's band from it lies along the bottom, 43 to 45 px deep.
        const QRect bar = TLBarAroundClick(at, QRect(0, 0, 1280, 800));
        EXPECT_EQ(bar.bottom(), 799);
        EXPECT_NEAR(bar.height(), 44, 1);
    }
    // Two screens side by side, 100 % and 150 %: each by its own.
    const std::vector<TLScreenPixels> two = {
        {QRect(0, 0, 1280, 800), QRect(0, 0, 1280, 800)},
        {QRect(1280, 0, 1280, 800), QRect(1280, 0, 1920, 1200)}};
    EXPECT_EQ(TLFromScreenPixels(two, QPoint(1270, 790)), QPoint(1270, 790));
    EXPECT_EQ(TLFromScreenPixels(two, QPoint(1280 + 1875, 1167)), QPoint(1280 + 1250, 778));
    // On none of them: as told.
    EXPECT_EQ(TLFromScreenPixels(two, QPoint(-3, 5000)), QPoint(-3, 5000));
}

TEST(LayerCatchers, TheColumnIsLeftOutAndFilledAroundThePanel) {
    // Under a top bar: the strips and the panel tile the column from edge to edge, in that order,
    // anchored at the panel's own distances, so that a bar's reserved area moves them together.
    TLLayerPlacement p = TLLayerPlacementAtPointer(kPanel, kScreen, QPoint(640, 15));
    TLLayerCatchers c = TLLayerCatchersAround(kScreen, kPanel, p);
    EXPECT_EQ(c.column, QRect(479, 0, 322, 720));
    ASSERT_EQ(c.strips.size(), 2u);
    int y = 0;
    for (const TLLayerStrip& s : c.strips) {
        EXPECT_EQ(s.edge, Edge::Top);
        EXPECT_EQ(s.left, p.left);
        EXPECT_EQ(s.size.width(), kPanel.width());
        EXPECT_EQ(s.margin, y);
        y += s.size.height();
        if (y == p.gap) y += kPanel.height(); // the panel's place
    }
    EXPECT_EQ(y, kScreen.height());

    // Above a bottom bar, from the right end: the same from the other edge and side.
    p.edge = Edge::Bottom;
    p.left.reset();
    p.gap = 6;
    c = TLLayerCatchersAround(kScreen, kPanel, p);
    EXPECT_EQ(c.column, QRect(1280 - 6 - 322, 0, 322, 720));
    ASSERT_EQ(c.strips.size(), 2u);
    EXPECT_EQ(c.strips[0].edge, Edge::Bottom);
    EXPECT_FALSE(c.strips[0].left.has_value());
    EXPECT_EQ(c.strips[0].right, 6);
    EXPECT_EQ(c.strips[0].margin, 0);
    EXPECT_EQ(c.strips[0].size, QSize(322, 6));
    EXPECT_EQ(c.strips[1].margin, 6 + 617);
    EXPECT_EQ(c.strips[1].size, QSize(322, 720 - 6 - 617));

    // No empty strips: none at a gap of 0, none beyond a panel as tall as the screen.
    p.gap = 0;
    EXPECT_TRUE(TLLayerCatchersAround(QSize(1280, 617), kPanel, p).strips.empty());
}

TEST(LayerShell, NoneWithoutAWaylandCompositor) {
    // Offscreen (and X11) sessions have no layer shell, even with the environment prepared: the
    // panel uses an ordinary window.
    TLLayerShell::prepareEnvironment();
    EXPECT_EQ(TLLayerShell::instance(), nullptr);
}

TEST(Popover, EscapeAsksToClose) {
    auto popover = TLMakePopover();
    int requests = 0;
    QObject::connect(popover.get(), &TLPopover::closeRequested, [&] { ++requests; });
    auto* content = new QLabel(QStringLiteral("panel"));
    content->setFocusPolicy(Qt::StrongFocus);
    popover->show(content, QRect(100, 0, 24, 24));
    ASSERT_TRUE(popover->isShown());
    ASSERT_NE(popover->window(), nullptr);

    // Escape reaches the window from the focused content; other keys do not close.
    QKeyEvent other(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(content, &other);
    EXPECT_EQ(requests, 0);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(content, &escape);
    EXPECT_EQ(requests, 1);
    // The window does not close itself: the application decides (and removes its monitor).
    EXPECT_TRUE(popover->isShown());
    popover->close();
    EXPECT_FALSE(popover->isShown());
}

TEST(LayerShell, ProgramsStartedByTideDoNotInheritTheBypassSetting) {
    // The system monitor Tide opens may be a Qt program: the setting would strip the shell
    // surfaces off its own bypass windows.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString out = dir.filePath(QStringLiteral("env"));
    const QString fake = dir.filePath(QStringLiteral("gnome-system-monitor"));
    QFile script(fake);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(
        QStringLiteral("#!/bin/sh\nenv > '%1.tmp' && mv '%1.tmp' '%1'\n").arg(out).toUtf8());
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", dir.path().toUtf8() + ':' + path);
    TLLayerShell::prepareEnvironment();

    EXPECT_TRUE(TLSystemAppLauncher().openSystemMonitor());
    QElapsedTimer clock;
    clock.start();
    while (!QFile::exists(out) && clock.elapsed() < 5000)
        QThread::msleep(20);
    qputenv("PATH", path);
    QFile env(out);
    ASSERT_TRUE(env.open(QIODevice::ReadOnly)) << "the fake system monitor did not run";
    const QByteArray text = env.readAll();
    EXPECT_TRUE(text.contains("PATH=")); // the rest of the environment is passed on
    EXPECT_FALSE(text.contains("QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT"));
}
