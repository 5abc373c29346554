#include "platform/TLPlatformTexts.h"

#include "platform/TLSystemMonitors.h"

namespace {

// The About description's sources of the figures differ; the rest is shared.
QString aboutDescription(const char* systemFigures, const char* processFigures) {
    return QStringLiteral("常驻菜单栏的内存 / 能耗速览工具。\n\n"
                          "• 内存数值取自 %1\n"
                          "• 进程内存为实际占用（%2）\n"
                          "• 能耗为近似值：CPU 占用 + 空闲唤醒加权\n"
                          "• 灰色带 ~ 的进程为系统进程，数值取自 ps（RSS）\n\n"
                          "右键点击菜单栏图标可直接打开设置。")
        .arg(QString::fromUtf8(systemFigures), QString::fromUtf8(processFigures));
}

} // namespace

const TLPlatformTexts& TLMacTexts() {
    static const TLPlatformTexts texts{
        QStringLiteral("内存 = 实际占用（footprint），与活动监视器一致；右键可结束进程"),
        QStringLiteral("能耗为近似值：CPU 占用 + 空闲唤醒加权（Apple 公式未公开）"),
        QStringLiteral("系统进程通常需要管理员权限，请在活动监视器中操作。"),
        aboutDescription("host_statistics64，与活动监视器口径一致", "phys_footprint"),
        std::nullopt, // Activity Monitor is always there
    };
    return texts;
}

// The same notes with what is true on Linux: the process figure is the anonymous, shared and
// swapped memory of /proc/PID/status (no system monitor shows exactly that), the energy figure is
// our own weighting, not a measurement, and ending another user's process takes root. Claiming
// the macOS sources here would tell the user something false.
const TLPlatformTexts& TLLinuxTexts() {
    static const TLPlatformTexts texts{
        QStringLiteral("内存 = 实际占用（匿名+共享+交换），不计缓存；右键可结束进程"),
        QStringLiteral("能耗为近似值：CPU 占用 + 空闲唤醒加权（非实测功耗）"),
        QStringLiteral("系统进程通常需要管理员权限，请在终端中用 sudo 操作。"),
        aboutDescription("/proc/meminfo，与系统监视器口径一致", "RssAnon + RssShmem + VmSwap"),
        // Linux desktops differ in their system monitor, and some have none: say so, naming the
        // running desktop's own first.
        TLNoSystemMonitorAdvice(qEnvironmentVariable("XDG_CURRENT_DESKTOP")),
    };
    return texts;
}
