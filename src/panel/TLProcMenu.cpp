#include "panel/TLProcMenu.h"

#include "widgets/TLFonts.h"

#include <QAction>
#include <QMenu>

#include <utility>

namespace {

// Menu texts are read for mnemonics ("&") and shortcuts (after a tab); a process name is neither.
QString menuText(QString text) {
    text.replace(QLatin1Char('&'), QStringLiteral("&&"));
    text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    return text;
}

// `item` runs `command` with its data, queued.
void runQueued(QAction* item, QObject* context,
               const std::function<void(const QVariant&)>& command) {
    QObject::connect(
        item, &QAction::triggered, context, [command, data = item->data()] { command(data); },
        Qt::QueuedConnection);
}

} // namespace

TLProcTarget TLProcTargetFrom(const QVariant& data) {
    return data.canConvert<TLProcTarget>() ? data.value<TLProcTarget>() : TLProcTarget{};
}

QMenu* TLMakeProcMenu(const TLProc& proc, uint64_t startTime, QObject* context,
                      const std::function<void(const QVariant&)>& copy,
                      const std::function<void(const QVariant&)>& kill) {
    const QString name = QString::fromStdString(proc.name);
    auto* menu = new QMenu;
    menu->setFont(TLSystemFont(13));

    QAction* heading = menu->addAction(
        menuText(QStringLiteral("%1  (PID %2)").arg(name, QString::number(proc.pid))));
    heading->setEnabled(false);
    menu->addSeparator();

    QAction* copyItem = menu->addAction(QStringLiteral("复制进程名"));
    copyItem->setData(name);
    runQueued(copyItem, context, copy);

    const std::pair<QString, TLEndSignal> commands[] = {
        {QStringLiteral("结束进程…"), TLEndSignal::Terminate},
        {QStringLiteral("强制结束进程…"), TLEndSignal::Kill}};
    for (const auto& [title, signal] : commands) {
        QAction* item = menu->addAction(title);
        item->setData(QVariant::fromValue(TLProcTarget{proc.pid, name, signal, startTime}));
        runQueued(item, context, kill);
    }
    return menu;
}
