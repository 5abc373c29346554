#include "panel/TLKillConfirmation.h"

#include "platform/TLPlatformTexts.h"
#include "sampling/TLAppGroups.h"

#include <QByteArray>

#include <string_view>

namespace {

// What ending a part of the desktop session does, said before anything else: `name` is that
// process, `within` whether it is one of the application's processes.
QString sessionWarning(const QString& name, bool within) {
    return QStringLiteral("%1「%2」是桌面会话本身的一部分，结束它会结束或破坏整个会话，"
                          "所有应用都可能关闭。")
        .arg(within ? QStringLiteral("其中的") : QString(), name);
}

bool isSessionProcess(const QString& name) {
    const QByteArray utf8 = name.toUtf8();
    return TLIsSessionProcess(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

// The first of the targets that is a part of the desktop session, or null.
const TLProcTarget* sessionMember(const QList<TLProcTarget>& members) {
    for (const TLProcTarget& member : members)
        if (isSessionProcess(member.name)) return &member;
    return nullptr;
}

} // namespace

void TLConfirmAndSignal(TLAlertPresenter& alerts, TLProcessControl* processes,
                        const TLProcTarget& target) {
    const bool force = target.signal == TLEndSignal::Kill;

    TLAlert confirm;
    confirm.style = TLAlert::Style::Warning;
    confirm.messageText =
        QStringLiteral("确定要%1「%2」吗？")
            .arg(force ? QStringLiteral("强制结束") : QStringLiteral("结束"), target.name);
    confirm.informativeText = force
                                  ? QStringLiteral("强制结束会立即终止进程，未保存的内容将会丢失。")
                                  : QStringLiteral("进程会收到退出请求，通常可以正常保存并退出。");
    if (isSessionProcess(target.name))
        confirm.informativeText = sessionWarning(target.name, false) + confirm.informativeText;
    confirm.buttons = {force ? QStringLiteral("强制结束") : QStringLiteral("结束进程"),
                       QStringLiteral("取消")};
    if (alerts.run(confirm) != TLAlertFirstButtonReturn) return;

    // The process's identity is read again now, after the confirmation, which may have been open
    // for a while.
    using Result = TLProcessControl::Result;
    Result result = Result::Refused;
    if (target.pid > 0 && processes)
        result = processes->signalProcess(target.pid, target.startTime, target.signal);
    if (result == Result::Delivered) return;

    TLAlert failure;
    failure.messageText = QStringLiteral("无法结束该进程");
    failure.informativeText =
        result == Result::NotThatProcess
            ? QStringLiteral("所选的进程已经退出，它的进程号现在可能属于另一个进程。")
            : TLThisPlatformTexts().killFailedAdvice;
    alerts.run(failure);
}

void TLConfirmAndSignalApp(TLAlertPresenter& alerts, TLProcessControl* processes,
                           const TLAppTarget& target) {
    const bool force = target.signal == TLEndSignal::Kill;
    const qsizetype count = target.members.size();

    TLAlert confirm;
    confirm.style = TLAlert::Style::Warning;
    confirm.messageText =
        QStringLiteral("确定要%1「%2」的 %3 个进程吗？")
            .arg(force ? QStringLiteral("强制结束") : QStringLiteral("结束"), target.name)
            .arg(count);
    confirm.informativeText =
        force ? QStringLiteral("强制结束会立即终止这些进程，未保存的内容将会丢失。")
              : QStringLiteral("这些进程会收到退出请求，通常可以正常保存并退出。");
    if (const TLProcTarget* session = sessionMember(target.members))
        confirm.informativeText = sessionWarning(session->name, true) + confirm.informativeText;
    confirm.buttons = {force ? QStringLiteral("强制结束") : QStringLiteral("结束应用"),
                       QStringLiteral("取消")};
    if (alerts.run(confirm) != TLAlertFirstButtonReturn) return;

    // Each member is signalled only while it is still the process the menu was built for; one
    // that has gone since (often because ending another member ended it) is ended already.
    using Result = TLProcessControl::Result;
    qsizetype refused = 0, gone = 0;
    for (const TLProcTarget& member : target.members) {
        Result result = Result::Refused;
        if (member.pid > 0 && processes)
            result = processes->signalProcess(member.pid, member.startTime, target.signal);
        refused += result == Result::Refused;
        gone += result == Result::NotThatProcess;
    }
    if (refused == 0 && gone < count) return;

    TLAlert failure;
    if (refused == 0) {
        failure.messageText = QStringLiteral("无法结束该应用");
        failure.informativeText =
            QStringLiteral("所选应用的进程都已经退出，它们的进程号现在可能属于其他进程。");
    } else {
        failure.messageText =
            QStringLiteral("无法结束「%1」的 %2 个进程").arg(target.name).arg(refused);
        failure.informativeText = TLThisPlatformTexts().killFailedAdvice;
    }
    alerts.run(failure);
}
