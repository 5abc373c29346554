#include "app/TLAbout.h"

QString TLAboutDescriptionMacOS() {
    return QStringLiteral("常驻菜单栏的内存 / 能耗速览工具。\n\n"
                          "• 内存数值取自 host_statistics64，与活动监视器口径一致\n"
                          "• 进程内存为实际占用（phys_footprint）\n"
                          "• 能耗为近似值：CPU 占用 + 空闲唤醒加权\n"
                          "• 灰色带 ~ 的进程为系统进程，数值取自 ps（RSS）\n\n"
                          "右键点击菜单栏图标可直接打开设置。");
}

QString TLAboutDescriptionLinux() {
    // The same description with the Linux sources of the figures: claiming the macOS ones here
    // would tell the user something false.
    return QStringLiteral("常驻菜单栏的内存 / 能耗速览工具。\n\n"
                          "• 内存数值取自 /proc/meminfo，与系统监视器口径一致\n"
                          "• 进程内存为实际占用（RssAnon + RssShmem + VmSwap）\n"
                          "• 能耗为近似值：CPU 占用 + 空闲唤醒加权\n"
                          "• 灰色带 ~ 的进程为系统进程，数值取自 ps（RSS）\n\n"
                          "右键点击菜单栏图标可直接打开设置。");
}

QString TLAboutDescription() {
#ifdef __APPLE__
    return TLAboutDescriptionMacOS();
#else
    return TLAboutDescriptionLinux();
#endif
}

TLAboutTexts TLComposeAbout(const TLAppInfo& info, const QString& description) {
    const QString name = info.displayName.isEmpty() ? QStringLiteral("潮汐") : info.displayName;
    const QString version = info.version.isEmpty() ? QStringLiteral("1.0") : info.version;
    const QString credit = !info.signature.isEmpty() ? info.signature : info.author;
    TLAboutTexts t;
    t.message = QStringLiteral("%1  v%2").arg(name, version);
    t.informative = description;
    if (!credit.isEmpty()) t.informative += QStringLiteral("\n\n—— %1 出品").arg(credit);
    return t;
}
