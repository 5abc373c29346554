#include "app/TLAbout.h"
#include "app/TLLaunchAtLogin.h"
#include "app/TLSettingsMenuModel.h"
#include "app/TLStatusPresentation.h"

#include <QFile>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

#include <map>

namespace {

TLSystemStats workedSample() {
    TLSystemStats s;
    s.total = 17179869184ULL;
    s.app = 6225920000ULL;
    s.wired = 2457600000ULL;
    s.compressed = 819200000ULL;
    s.cached = 3276800000ULL;
    s.used = 9502720000ULL;
    s.pressureLevel = TLPressureLevel::Normal;
    s.usagePercent = 55.31;
    s.pressurePercent = 19.07;
    s.cpuPercent = 12.4;
    return s;
}

const QString kToolTip = QStringLiteral("已使用 8.85 GB / 16.00 GB   内存压力 19%\n"
                                        "App 5.80 GB · 联动 2.29 GB · 压缩 781.2 MB");

} // namespace

TEST(StatusPresentation, ModesMetricsAndTheCPUSuffix) {
    const TLSystemStats s = workedSample();
    TLStatusPresentation p = TLComputeStatusPresentation(s, TLStatusBarMode::GaugeAndPercent,
                                                         TLPercentMetric::Usage, false, false);
    EXPECT_TRUE(p.showsGauge);
    EXPECT_EQ(p.gaugeColor, TLSystemGreen());
    EXPECT_FALSE(p.gaugeTemplate);
    EXPECT_DOUBLE_EQ(p.gaugeFraction, 0.5531);
    EXPECT_EQ(p.title, "55%");
    EXPECT_EQ(p.toolTip, kToolTip);

    p = TLComputeStatusPresentation(s, TLStatusBarMode::GaugeAndPercent, TLPercentMetric::Pressure,
                                    false, false); // pressure changes the title only
    EXPECT_EQ(p.title, "19%");
    EXPECT_DOUBLE_EQ(p.gaugeFraction, 0.5531);
    EXPECT_EQ(p.toolTip, kToolTip);

    p = TLComputeStatusPresentation(s, TLStatusBarMode::UsedOnly, TLPercentMetric::Usage, false,
                                    true);
    EXPECT_FALSE(p.showsGauge);
    EXPECT_EQ(p.title, "8.85G · 12%");

    p = TLComputeStatusPresentation(s, TLStatusBarMode::PercentOnly, TLPercentMetric::Usage, true,
                                    true);
    EXPECT_FALSE(p.showsGauge);
    EXPECT_EQ(p.title, "55% · 12%");

    p = TLComputeStatusPresentation(s, TLStatusBarMode::GaugeOnly, TLPercentMetric::Usage, true,
                                    true); // gauge only: no CPU suffix alone
    EXPECT_TRUE(p.showsGauge);
    EXPECT_TRUE(p.gaugeTemplate);
    EXPECT_TRUE(p.title.isEmpty());
    EXPECT_EQ(p.toolTip, kToolTip);

    p = TLComputeStatusPresentation(s, TLStatusBarMode{7}, TLPercentMetric{5}, false,
                                    false); // unknown values: mode 0, usage
    EXPECT_TRUE(p.showsGauge);
    EXPECT_EQ(p.title, "55%");
}

TEST(StatusPresentation, EdgesOfTheSample) {
    TLSystemStats s;
    TLStatusPresentation p = TLComputeStatusPresentation(s, TLStatusBarMode::GaugeAndPercent,
                                                         TLPercentMetric::Usage, false, false);
    EXPECT_EQ(p.title, "0%");
    EXPECT_EQ(p.gaugeColor, TLSystemGreen()); // level 0 reads as normal
    EXPECT_EQ(p.toolTip, "已使用 0 B / 0 B   内存压力 0%\nApp 0 B · 联动 0 B · 压缩 0 B");
    s.usagePercent = 99.6;
    s.pressureLevel = TLPressureLevel::Critical;
    p = TLComputeStatusPresentation(s, TLStatusBarMode::GaugeAndPercent, TLPercentMetric::Usage,
                                    false, false);
    EXPECT_EQ(p.title, "100%");
    EXPECT_EQ(p.gaugeColor, TLSystemRed());
}

namespace {
// Titles of checked items, per submenu, to compare menus compactly.
std::vector<QString> checkedTitles(const std::vector<TLSettingsItem>& menu) {
    std::vector<QString> out;
    for (const TLSettingsItem& i : menu) {
        if (i.checked) out.push_back(i.title);
        for (const QString& t : checkedTitles(i.submenu))
            out.push_back(t);
    }
    return out;
}
} // namespace

TEST(SettingsMenu, LayoutTitlesAndTagsWithTheDefaults) {
    const auto menu = TLBuildSettingsMenu(TLSettingsState{});
    ASSERT_EQ(menu.size(), 11u);
    const char* top[] = {"菜单栏显示",
                         "刷新频率",
                         "进程列表长度",
                         "按应用合并进程",
                         "",
                         "开机时自动启动",
                         "内存压力严重时通知",
                         "打开活动监视器",
                         "",
                         "关于潮汐",
                         "退出"};
    for (size_t i = 0; i < 11; ++i) {
        EXPECT_EQ(menu[i].separator, QString::fromUtf8(top[i]).isEmpty()) << i;
        EXPECT_EQ(menu[i].title, QString::fromUtf8(top[i])) << i;
    }
    EXPECT_EQ(menu[0].action, TLSettingsAction::None);
    EXPECT_EQ(menu[3].action, TLSettingsAction::ToggleGroupApps);
    EXPECT_EQ(menu[6].action, TLSettingsAction::ToggleNotifyCriticalPressure);
    EXPECT_EQ(menu[10].action, TLSettingsAction::Quit);

    const auto& display = menu[0].submenu;
    ASSERT_EQ(display.size(), 10u);
    EXPECT_EQ(display[2].title, "仅已用容量");
    EXPECT_EQ(display[2].tag, 2);
    EXPECT_TRUE(display[4].separator);
    EXPECT_EQ(display[6].title, "百分比 = 内存压力");
    EXPECT_EQ(display[6].tag, 1);
    EXPECT_TRUE(display[7].separator);
    EXPECT_EQ(display[8].action, TLSettingsAction::ToggleShowCPU);
    EXPECT_EQ(display[9].action, TLSettingsAction::ToggleMono);

    const auto& intervals = menu[1].submenu;
    ASSERT_EQ(intervals.size(), 4u);
    EXPECT_EQ(intervals[0].title, "每 1 秒");
    EXPECT_EQ(intervals[3].title, "每 5 秒");
    EXPECT_EQ(intervals[3].value, 5.0);
    EXPECT_EQ(menu[2].submenu[2].title, "12 个进程");
    EXPECT_EQ(menu[2].submenu[2].tag, 12);

    EXPECT_EQ(checkedTitles(menu),
              (std::vector<QString>{"条形图 + 百分比", "百分比 = 内存使用率", "每 2 秒", "8 个进程",
                                    "内存压力严重时通知"}));
}

TEST(SettingsMenu, CheckMarksAtTheEdges) {
    TLSettingsState s;
    s.barMode = TLStatusBarMode{7};
    s.metric = TLPercentMetric{2};
    s.interval = 2.005;
    s.rows = 20;
    s.showCPU = true;
    s.mono = true;
    s.launchAtLogin = true;
    s.notifyCriticalPressure = false;
    s.displayName = QStringLiteral("Tide");
    auto menu = TLBuildSettingsMenu(s);
    EXPECT_EQ(checkedTitles(menu), (std::vector<QString>{"附带显示 CPU 占用", "使用单色图标",
                                                         "每 2 秒", "开机时自动启动"}));
    EXPECT_EQ(menu[9].title, "关于Tide");
    s.interval = 2.02;
    s.rows = 12;
    s.notifyCriticalPressure = true;
    s.groupApps = true;
    menu = TLBuildSettingsMenu(s);
    EXPECT_EQ(checkedTitles(menu),
              (std::vector<QString>{"附带显示 CPU 占用", "使用单色图标", "12 个进程",
                                    "按应用合并进程", "开机时自动启动", "内存压力严重时通知"}));
    EXPECT_EQ(TLIntervalTitle(0.5), "每 0.5 秒");
}

namespace {
// Reads the Exec line back the way a desktop-entry reader does: string-level unescaping first,
// then the quoting rules, then %% → %.
QString execProgram(const QByteArray& entry) {
    for (const QString& line : QString::fromUtf8(entry).split(u'\n')) {
        if (!line.startsWith("Exec=")) continue;
        QString value;
        const QString raw = line.mid(5);
        for (qsizetype i = 0; i < raw.size(); ++i) {
            if (raw[i] == u'\\' && i + 1 < raw.size()) {
                const QChar n = raw[++i];
                value += n == u'n' ? QChar(u'\n') : n == u't' ? QChar(u'\t') : n;
            } else {
                value += raw[i];
            }
        }
        EXPECT_TRUE(value.startsWith(u'"') && value.endsWith(u'"')) << value.toStdString();
        QString arg;
        for (qsizetype i = 1; i + 1 < value.size(); ++i) {
            if (value[i] == u'\\')
                ++i;
            else if (value[i] == u'%')
                ++i; // "%%" is one literal percent sign
            arg += value[i];
        }
        return arg;
    }
    return {};
}
} // namespace

TEST(LaunchAtLogin, AutostartEntryQuotesAnyPath) {
    for (const QString& path :
         {QStringLiteral("/usr/bin/tide"),
          QStringLiteral("/home/me/My Apps/潮汐 \"new\"/$HOME`x`/100%/a\\b")}) {
        const QByteArray entry = TLAutostartEntry(path, QStringLiteral("潮汐"));
        EXPECT_TRUE(entry.startsWith("[Desktop Entry]\nType=Application\n"));
        EXPECT_TRUE(entry.contains("\nName=潮汐\n"));
        EXPECT_EQ(execProgram(entry), path);
    }
}

TEST(LaunchAtLogin, PlistHasExactlyTheFourEntries) {
    const QByteArray plist = TLLaunchAgentPlist(QStringLiteral("dev.tide.monitor"),
                                                QStringLiteral("/Apps/T&<x>.app/tide"));
    QXmlStreamReader xml(plist);
    std::map<QString, QString> entries;
    QString key;
    QStringList args;
    bool inArray = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const QString n = xml.name().toString();
            if (n == "key")
                key = xml.readElementText();
            else if (n == "array")
                inArray = true;
            else if (n == "string" && inArray)
                args << xml.readElementText();
            else if (n == "string")
                entries[key] = xml.readElementText();
            else if (n == "true" || n == "false")
                entries[key] = n;
        } else if (xml.isEndElement() && xml.name() == QStringLiteral("array")) {
            entries[key] = QStringLiteral("array");
            inArray = false;
        }
    }
    ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(entries, (std::map<QString, QString>{{"KeepAlive", "false"},
                                                   {"Label", "dev.tide.monitor"},
                                                   {"ProgramArguments", "array"},
                                                   {"RunAtLoad", "true"}}));
    EXPECT_EQ(args, QStringList{"/Apps/T&<x>.app/tide"});
    EXPECT_TRUE(plist.contains("<plist version=\"1.0\">"));
}

TEST(LaunchAtLogin, ToggleWritesAndRemovesTheFile) {
    QTemporaryDir home;
    const QString path = home.path() + "/config/autostart/dev.tide.monitor.desktop";
    EXPECT_FALSE(TLLaunchAtLoginEnabled(path));
    TLToggleLaunchAtLogin(path, QString(), QStringLiteral("潮汐")); // no executable: nothing
    EXPECT_FALSE(TLLaunchAtLoginEnabled(path));

    TLToggleLaunchAtLogin(path, QStringLiteral("/opt/tide/tide"), QStringLiteral("潮汐"));
    ASSERT_TRUE(TLLaunchAtLoginEnabled(path)); // directories created
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(),
              TLAgentFileContent(QStringLiteral("/opt/tide/tide"), QStringLiteral("潮汐")));
    f.close();
    TLToggleLaunchAtLogin(path, QStringLiteral("/opt/tide/tide"), QStringLiteral("潮汐"));
    EXPECT_FALSE(TLLaunchAtLoginEnabled(path));

    // Any file counts as on, even an empty one; the toggle then removes it.
    QFile empty(path);
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    EXPECT_TRUE(TLLaunchAtLoginEnabled(path));
    TLToggleLaunchAtLogin(path, QStringLiteral("/opt/tide/tide"), QStringLiteral("潮汐"));
    EXPECT_FALSE(QFile::exists(path));

    // A directory that cannot be created: nothing written, still off, no crash.
    const QString blocked = home.path() + "/file-not-dir";
    QFile block(blocked);
    ASSERT_TRUE(block.open(QIODevice::WriteOnly));
    block.close();
    const QString unreachable = blocked + "/autostart/x.desktop";
    TLToggleLaunchAtLogin(unreachable, QStringLiteral("/opt/tide/tide"), QStringLiteral("潮汐"));
    EXPECT_FALSE(TLLaunchAtLoginEnabled(unreachable));
}

TEST(About, CreditLineRules) {
    const QString d = QStringLiteral("描述");
    TLAboutTexts t = TLComposeAbout({}, d);
    EXPECT_EQ(t.message, "潮汐  v1.0");
    EXPECT_EQ(t.informative, d);
    t = TLComposeAbout({"Tide", "2.3", "作者", "签名"}, d);
    EXPECT_EQ(t.message, "Tide  v2.3");
    EXPECT_EQ(t.informative, "描述\n\n—— 签名 出品");
    t = TLComposeAbout({"", "", "作者", ""}, d);
    EXPECT_EQ(t.informative, "描述\n\n—— 作者 出品");
    EXPECT_TRUE(TLAboutDescription().startsWith("常驻菜单栏的内存 / 能耗速览工具。\n\n"));
}

// The macOS About description, character for character (full-width punctuation included).
TEST(About, MacOSDescriptionIsExact) {
    EXPECT_EQ(
        TLAboutDescriptionMacOS(),
        QStringLiteral("常驻菜单栏的内存 / 能耗速览工具。\n\n• 内存数值取自 host_statistics64，与活"
                       "动监视器口径一致\n• 进程内存为实际占用（phys_footprint）\n• 能耗为近似"
                       "值：CPU 占用 + 空闲唤醒加权\n• 灰色带 ~ 的进程为系统进程，数值取自 ps（"
                       "RSS）\n\n右键点击菜单栏图标可直接打开设置。"));
    // Full-width parentheses, comma and colon, as written.
    EXPECT_TRUE(TLAboutDescriptionMacOS().contains(QChar(0xFF08)));
    EXPECT_TRUE(TLAboutDescriptionMacOS().contains(QChar(0xFF0C)));
    EXPECT_TRUE(TLAboutDescriptionMacOS().contains(QChar(0xFF1A)));
#ifndef __APPLE__
    EXPECT_EQ(TLAboutDescription(), TLAboutDescriptionLinux());
#endif
}
