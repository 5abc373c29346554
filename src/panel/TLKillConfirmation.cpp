#include "panel/TLKillConfirmation.h"

#include "platform/TLPlatformTexts.h"

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
