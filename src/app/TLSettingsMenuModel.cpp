#include "app/TLSettingsMenuModel.h"

#include "platform/TLAppInfo.h"

#include <cmath>

const char* const TLBarModeTitles[4] = {"条形图 + 百分比", "仅百分比", "仅已用容量", "仅条形图"};

namespace {

TLSettingsItem item(const QString& title, TLSettingsAction action, int64_t tag, bool checked) {
    TLSettingsItem i;
    i.title = title;
    i.action = action;
    i.tag = tag;
    i.checked = checked;
    return i;
}

TLSettingsItem separator() {
    TLSettingsItem i;
    i.separator = true;
    return i;
}

TLSettingsItem submenu(const QString& title, std::vector<TLSettingsItem> items) {
    TLSettingsItem i;
    i.title = title;
    i.submenu = std::move(items);
    return i;
}

} // namespace

QString TLIntervalTitle(double seconds) {
    // QString::number's 'g' with the full precision gives the shortest form: 1, 2, 0.5, 2.25.
    return QStringLiteral("每 %1 秒").arg(QString::number(seconds, 'g', 15));
}

std::vector<TLSettingsItem> TLBuildSettingsMenu(const TLSettingsState& s) {
    using A = TLSettingsAction;
    std::vector<TLSettingsItem> display;
    for (int64_t i = 0; i < 4; ++i)
        display.push_back(item(QString::fromUtf8(TLBarModeTitles[i]), A::SetBarMode, i,
                               s.barMode == TLStatusBarMode{i}));
    display.push_back(separator());
    display.push_back(item(QStringLiteral("百分比 = 内存使用率"), A::SetMetric, 0,
                           s.metric == TLPercentMetric::Usage));
    display.push_back(item(QStringLiteral("百分比 = 内存压力"), A::SetMetric, 1,
                           s.metric == TLPercentMetric::Pressure));
    display.push_back(separator());
    display.push_back(item(QStringLiteral("附带显示 CPU 占用"), A::ToggleShowCPU, 0, s.showCPU));
    display.push_back(item(QStringLiteral("使用单色图标"), A::ToggleMono, 0, s.mono));

    std::vector<TLSettingsItem> intervals;
    for (double v : TLIntervalChoices) {
        TLSettingsItem i =
            item(TLIntervalTitle(v), A::SetInterval, 0, std::fabs(s.interval - v) < 0.01);
        i.value = v;
        intervals.push_back(std::move(i));
    }

    std::vector<TLSettingsItem> rows;
    for (int64_t n : TLRowChoices)
        rows.push_back(item(QStringLiteral("%1 个进程").arg(n), A::SetRows, n, s.rows == n));

    std::vector<TLSettingsItem> menu;
    menu.push_back(submenu(QStringLiteral("菜单栏显示"), std::move(display)));
    menu.push_back(submenu(QStringLiteral("刷新频率"), std::move(intervals)));
    menu.push_back(submenu(QStringLiteral("进程列表长度"), std::move(rows)));
    menu.push_back(item(QStringLiteral("按应用合并进程"), A::ToggleGroupApps, 0, s.groupApps));
    menu.push_back(separator());
    menu.push_back(
        item(QStringLiteral("开机时自动启动"), A::ToggleLaunchAtLogin, 0, s.launchAtLogin));
    menu.push_back(item(QStringLiteral("内存压力严重时通知"), A::ToggleNotifyCriticalPressure, 0,
                        s.notifyCriticalPressure));
    menu.push_back(item(QStringLiteral("打开活动监视器"), A::OpenActivityMonitor, 0, false));
    menu.push_back(separator());
    const QString name = TLDisplayName(s.displayName);
    menu.push_back(item(QStringLiteral("关于") + name, A::ShowAbout, 0, false));
    menu.push_back(item(QStringLiteral("退出"), A::Quit, 0, false));
    return menu;
}
