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

TLAppTarget TLAppTargetFrom(const QVariant& data) {
    return data.canConvert<TLAppTarget>() ? data.value<TLAppTarget>() : TLAppTarget{};
}

namespace {

// The heading, a separator, the copy item and the two end items of a process or application
// menu; `target` gives an end item's data for its signal.
void addCommands(QMenu* menu, const QString& heading, const QString& name, bool app,
                 QObject* context, const std::function<void(const QVariant&)>& copy,
                 const std::function<void(const QVariant&)>& kill,
                 const std::function<QVariant(TLEndSignal)>& target) {
    if (!heading.isEmpty()) {
        QAction* title = menu->addAction(menuText(heading));
        title->setEnabled(false);
        menu->addSeparator();
    }

    QAction* copyItem =
        menu->addAction(app ? QStringLiteral("复制应用名") : QStringLiteral("复制进程名"));
    copyItem->setData(name);
    runQueued(copyItem, context, copy);

    const std::pair<QString, TLEndSignal> commands[] = {
        {app ? QStringLiteral("结束应用…") : QStringLiteral("结束进程…"), TLEndSignal::Terminate},
        {app ? QStringLiteral("强制结束应用…") : QStringLiteral("强制结束进程…"),
         TLEndSignal::Kill}};
    for (const auto& [text, signal] : commands) {
        QAction* item = menu->addAction(text);
        item->setData(target(signal));
        runQueued(item, context, kill);
    }
}

QString procHeading(const TLProc& proc) {
    return QStringLiteral("%1  (PID %2)")
        .arg(QString::fromStdString(proc.name), QString::number(proc.pid));
}

// A process's commands, under its heading unless `headed` is false (in a submenu named so).
void addProcCommands(QMenu* menu, const TLProc& proc, uint64_t startTime, bool headed,
                     QObject* context, const std::function<void(const QVariant&)>& copy,
                     const std::function<void(const QVariant&)>& kill) {
    const QString name = QString::fromStdString(proc.name);
    addCommands(menu, headed ? procHeading(proc) : QString(), name, false, context, copy, kill,
                [&](TLEndSignal signal) {
                    return QVariant::fromValue(TLProcTarget{proc.pid, name, signal, startTime});
                });
}

} // namespace

QMenu* TLMakeProcMenu(const TLProc& proc, uint64_t startTime, QObject* context,
                      const std::function<void(const QVariant&)>& copy,
                      const std::function<void(const QVariant&)>& kill) {
    auto* menu = new QMenu;
    menu->setFont(TLSystemFont(13));
    addProcCommands(menu, proc, startTime, true, context, copy, kill);
    return menu;
}

TLAppTarget TLAppTargetFor(const QString& name, const std::vector<TLProc>& members,
                           TLEndSignal signal) {
    TLAppTarget target{name, {}, signal};
    for (const TLProc& member : members)
        target.members.append(
            {member.pid, QString::fromStdString(member.name), signal, member.startTime});
    return target;
}

QMenu* TLMakeAppMenu(const QString& name, const std::vector<TLProc>& members, QObject* context,
                     const std::function<void(const QVariant&)>& copy,
                     const std::function<void(const QVariant&)>& kill) {
    auto* menu = new QMenu;
    menu->setFont(TLSystemFont(13));
    addCommands(menu, QStringLiteral("%1  (%2 个进程)").arg(name).arg(members.size()), name, true,
                context, copy, kill, [&](TLEndSignal signal) {
                    return QVariant::fromValue(TLAppTargetFor(name, members, signal));
                });

    menu->addSeparator();
    QMenu* processes = menu->addMenu(QStringLiteral("进程"));
    processes->setFont(menu->font());
    for (size_t i = 0; i < members.size() && i < 12; ++i) {
        const TLProc& member = members[i];
        QMenu* sub = processes->addMenu(menuText(procHeading(member)));
        sub->setFont(menu->font());
        addProcCommands(sub, member, member.startTime, false, context, copy, kill);
    }
    return menu;
}
