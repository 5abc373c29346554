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
