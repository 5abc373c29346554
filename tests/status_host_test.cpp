// The host switch (which host shows the status item), the bar's colour read around the item, and
// the no-tray window.

#include "platform/TLDesktopColors.h"
#include "platform/TLStatusHost.h"
#include "platform/qt/TLNoTrayWindow.h"

#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QPainter>
#include <QPointer>
#include <QWidget>

#include <gtest/gtest.h>

#include <map>

namespace {

// A host whose presence the test sets, counting how often the switch asks.
struct FakeHost {
    bool there = false;
    int asked = 0;
    TLStatusHostProbe probe(TLStatusHost host) {
        return {host,
                [this] {
                    ++asked;
                    return there;
                },
                {},
                {}};
    }
};

TEST(StatusHost, SwitchTakesTheFirstHostThatIsThereAndAsksNoFurther) {
    FakeHost tray, notifier, bar;
    const std::vector<TLStatusHostProbe> hosts{tray.probe(TLStatusHost::XEmbedTray),
                                               notifier.probe(TLStatusHost::StatusNotifierHost),
                                               bar.probe(TLStatusHost::MenuBar)};
    EXPECT_EQ(TLPickStatusHost(hosts), TLStatusHost::NoTrayWindow);
    EXPECT_EQ(tray.asked + notifier.asked + bar.asked, 3);

    notifier.there = bar.there = true;
    EXPECT_EQ(TLPickStatusHost(hosts), TLStatusHost::StatusNotifierHost);
    EXPECT_EQ(bar.asked, 1); // not asked again once one earlier is there

    tray.there = true; // an embedding tray comes: it wins, and the bus is not asked
    EXPECT_EQ(TLPickStatusHost(hosts), TLStatusHost::XEmbedTray);
    EXPECT_EQ(notifier.asked, 2);

    EXPECT_EQ(TLPickStatusHost({}), TLStatusHost::NoTrayWindow);
    // A probe that cannot tell counts as no host.
    EXPECT_EQ(TLPickStatusHost({TLStatusHostProbe{TLStatusHost::MenuBar, {}, {}, {}}}),
              TLStatusHost::NoTrayWindow);
}

TEST(StatusHost, WatchFollowsEveryHostThatComesAndGoesUntilDeleted) {
    std::map<TLStatusHost, std::function<void()>> announce; // each host's way to say it changed
    std::vector<QPointer<QObject>> watches;
    const auto watched = [&](TLStatusHost host) {
        return TLStatusHostProbe{host,
                                 [] { return false; },
                                 [&, host](std::function<void()> changed, QObject* parent) {
                                     announce[host] = std::move(changed);
                                     auto* watch = new QObject(parent);
                                     watches.emplace_back(watch);
                                     return watch;
                                 },
                                 {}};
    };
    int changes = 0;
    auto owner =
        TLWatchStatusHosts({watched(TLStatusHost::XEmbedTray),
                            TLStatusHostProbe{TLStatusHost::MenuBar, [] { return true; }, {}, {}},
                            watched(TLStatusHost::StatusNotifierHost)},
                           [&] { ++changes; });
    ASSERT_NE(owner, nullptr);
    ASSERT_EQ(announce.size(), 2u);
    announce[TLStatusHost::XEmbedTray]();
    announce[TLStatusHost::StatusNotifierHost]();
    EXPECT_EQ(changes, 2);
    owner.reset(); // the watching stops with it
    for (const QPointer<QObject>& watch : watches)
        EXPECT_TRUE(watch.isNull());

    // Hosts that never come or go: nothing to follow.
    EXPECT_EQ(TLWatchStatusHosts(
                  {TLStatusHostProbe{TLStatusHost::MenuBar, [] { return true; }, {}, {}}}, [] {}),
              nullptr);
}

TEST(StatusHost, OnlyTheMenuBarGivesRoomBesideTheImage) {
    EXPECT_TRUE(TLStatusHostHasRoomBesideImage(TLStatusHost::MenuBar));
    for (TLStatusHost host : {TLStatusHost::XEmbedTray, TLStatusHost::StatusNotifierHost,
                              TLStatusHost::NoTrayWindow, TLStatusHost::ShellExtension})
        EXPECT_FALSE(TLStatusHostHasRoomBesideImage(host));
}

// Linux asks for Tide's own GNOME Shell extension first, then a StatusNotifierItem host (both
// with items of Tide's own), then the embedding tray, and follows all three; the macOS menu bar
// is always there.
TEST(StatusHost, ThisSystemsHosts) {
    const std::vector<TLStatusHostProbe>& hosts = TLSystemStatusHosts();
#ifdef __APPLE__
    ASSERT_EQ(hosts.size(), 1u);
    EXPECT_EQ(hosts[0].host, TLStatusHost::MenuBar);
    EXPECT_EQ(TLPickStatusHost(hosts), TLStatusHost::MenuBar);
    EXPECT_EQ(TLWatchStatusHosts(hosts, [] {}), nullptr);
#else
    ASSERT_EQ(hosts.size(), 3u);
    EXPECT_EQ(hosts[0].host, TLStatusHost::ShellExtension);
    EXPECT_EQ(hosts[1].host, TLStatusHost::StatusNotifierHost);
    EXPECT_EQ(hosts[2].host, TLStatusHost::XEmbedTray);
    for (const TLStatusHostProbe& probe : hosts)
        EXPECT_TRUE(probe.present && probe.watch);
    EXPECT_TRUE(hosts[0].makeItem);
    EXPECT_TRUE(hosts[1].makeItem);
    EXPECT_FALSE(hosts[2].makeItem); // Qt's tray icon
#endif
}

// A bar of one colour with an icon in another covering a part of the slot.
class Bar final : public QWidget {
public:
    Bar() : QWidget(nullptr, Qt::FramelessWindowHint) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), QColor(0x34, 0x67, 0x9a));
        p.fillRect(QRect(12, 12, 8, 8), Qt::white);
    }
};

TEST(TrayBarColor, IsTheMostCommonColourOnScreenInTheSlot) {
    Bar bar;
    bar.setGeometry(100, 100, 40, 40);
    bar.show();
    bar.repaint();
    QApplication::processEvents();
    // The slot is in screen coordinates; the icon covers 64 of its 400 pixels. Colours are told
    // apart in steps of 16 per channel, so that antialiasing does not split the bar's colour.
    EXPECT_EQ(TLTrayBarColorFromScreen(QRect(110, 110, 20, 20)), QColor(0x30, 0x60, 0x90));
    EXPECT_EQ(TLTrayBarColorFromScreen(QRect(112, 112, 8, 8)), QColor(0xf0, 0xf0, 0xf0));
    EXPECT_FALSE(TLTrayBarColorFromScreen(QRect()).isValid());
    EXPECT_FALSE(TLTrayBarColorFromScreen(QRect(110, 110, 0, 20)).isValid());
}

TEST(NoTrayWindow, ShowsThePanelTitledAndReportsOnlyTheUsersClose) {
    int closedByUser = 0;
    TLNoTrayWindow window([&] { ++closedByUser; });
    auto* panel = new QLabel(QStringLiteral("panel"));
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, QColor(0x20, 0x30, 0x40));
    panel->setPalette(palette);

    window.showPanel(panel, QStringLiteral("潮汐"));
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("潮汐"));
    EXPECT_EQ(panel->parentWidget(), &window);
    EXPECT_TRUE(panel->isVisible());
    // In the panel's own background colour, and as large as the panel.
    EXPECT_EQ(window.palette().color(QPalette::Window), QColor(0x20, 0x30, 0x40));
    EXPECT_EQ(window.size(), panel->sizeHint());
    // One size: closed or minimized, never maximized.
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(window.windowFlags() & Qt::WindowMinimizeButtonHint);

    // Shown again with the same panel (after the popover had it back): the panel once.
    window.hide();
    EXPECT_EQ(closedByUser, 0);
    window.showPanel(panel, QStringLiteral("潮汐"));
    EXPECT_EQ(window.layout()->count(), 1);

    // The title bar's close button: reported, for nothing else leads back to the panel.
    EXPECT_TRUE(window.close());
    EXPECT_EQ(closedByUser, 1);
    EXPECT_FALSE(window.isVisible());
}

} // namespace
