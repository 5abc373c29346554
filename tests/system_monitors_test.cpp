#include "platform/TLSessionPlatform.h"
#include "platform/TLSystemMonitors.h"

#include <QSet>
#include <gtest/gtest.h>

// The running desktop's monitor is tried and named first; the rest keep their order.
TEST(SystemMonitors, TheRunningDesktopsMonitorComesFirst) {
    const QStringList common = TLSystemMonitorCandidates(QString());
    ASSERT_GE(common.size(), 8);
    EXPECT_EQ(
        common.mid(0, 4),
        (QStringList{QStringLiteral("gnome-system-monitor"), QStringLiteral("plasma-systemmonitor"),
                     QStringLiteral("ksysguard"), QStringLiteral("xfce4-taskmanager")}));
    EXPECT_EQ(QSet<QString>(common.begin(), common.end()).size(), common.size()); // each once

    const QStringList kde = TLSystemMonitorCandidates(QStringLiteral("KDE"));
    EXPECT_EQ(kde.mid(0, 2),
              (QStringList{QStringLiteral("plasma-systemmonitor"), QStringLiteral("ksysguard")}));
    EXPECT_EQ(kde.size(), common.size());
    EXPECT_EQ(kde.mid(2), [&] {
        QStringList rest = common;
        rest.removeAll(QStringLiteral("plasma-systemmonitor"));
        rest.removeAll(QStringLiteral("ksysguard"));
        return rest;
    }());
    // Several names, any case, blanks around them: the first known one counts.
    EXPECT_EQ(TLSystemMonitorCandidates(QStringLiteral("ubuntu: xfce ")).front(),
              QStringLiteral("xfce4-taskmanager"));
    EXPECT_EQ(TLSystemMonitorCandidates(QStringLiteral("Hyprland:LXQt")).front(),
              QStringLiteral("lxtask"));
    EXPECT_EQ(TLSystemMonitorCandidates(QStringLiteral("sway")), common);
    EXPECT_EQ(TLSystemMonitorCandidates(QStringLiteral("::")), common);
}

TEST(SystemMonitors, TheAdviceNamesThreeTheRunningDesktopsFirst) {
    EXPECT_EQ(TLNoSystemMonitorAdvice(QString()),
              QStringLiteral(
                  "请先安装一个系统监视器，例如 GNOME 系统监视器、Xfce 任务管理器或 LXTask。"));
    EXPECT_EQ(TLNoSystemMonitorAdvice(QStringLiteral("GNOME")), TLNoSystemMonitorAdvice(QString()));
    EXPECT_EQ(TLNoSystemMonitorAdvice(QStringLiteral("KDE")),
              QStringLiteral("请先安装一个系统监视器，例如 Plasma 系统监视器、GNOME 系统监视器或 "
                             "Xfce 任务管理器。"));
    EXPECT_EQ(TLNoSystemMonitorAdvice(QStringLiteral("XFCE")),
              QStringLiteral(
                  "请先安装一个系统监视器，例如 Xfce 任务管理器、GNOME 系统监视器或 LXTask。"));
}

// GNOME's Wayland session cannot place the panel: Tide goes through XWayland there, and only
// there, and never against the user's own choice or without XWayland. In a Wayland session the
// pointer's place on the screen is unknown, whichever platform Qt runs on.
TEST(SessionPlatform, XWaylandOnlyWhereWaylandCannotPlaceThePanel) {
    TLSessionEnvironment gnome;
    gnome.waylandDisplay = QStringLiteral("wayland-0");
    gnome.display = QStringLiteral(":0");
    gnome.currentDesktop = QStringLiteral("ubuntu:GNOME");
    gnome.sessionType = QStringLiteral("wayland");
    EXPECT_EQ(TLPreferredPlatform(gnome), QStringLiteral("xcb"));

    TLSessionEnvironment env = gnome;
    env.qpaPlatform = QStringLiteral("wayland");
    EXPECT_EQ(TLPreferredPlatform(env), QString());
    env = gnome;
    env.display.clear(); // no XWayland
    EXPECT_EQ(TLPreferredPlatform(env), QString());
    env = gnome;
    env.currentDesktop = QStringLiteral("KDE"); // the layer shell places it
    EXPECT_EQ(TLPreferredPlatform(env), QString());
    env.currentDesktop = QStringLiteral("GNOME-Flashback:GNOME");
    EXPECT_EQ(TLPreferredPlatform(env), QStringLiteral("xcb"));
    env = gnome;
    env.waylandDisplay.clear(); // GNOME on X11
    EXPECT_EQ(TLPreferredPlatform(env), QString());

    EXPECT_FALSE(TLPointerPositionKnown(gnome, QStringLiteral("xcb")));
    EXPECT_FALSE(TLPointerPositionKnown(gnome, QStringLiteral("wayland")));
    EXPECT_FALSE(TLPointerPositionKnown(TLSessionEnvironment{}, QStringLiteral("wayland-egl")));
    TLSessionEnvironment x11;
    x11.display = QStringLiteral(":0");
    x11.sessionType = QStringLiteral("x11");
    EXPECT_TRUE(TLPointerPositionKnown(x11, QStringLiteral("xcb")));
    EXPECT_TRUE(TLPointerPositionKnown(x11, QStringLiteral("offscreen")));
}
