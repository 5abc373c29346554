#include "platform/TLServices.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

namespace {

class QtScheduler final : public TLScheduler {
public:
    void after(double seconds, std::function<void()> work) override {
        const int ms = seconds <= 0 ? 0 : static_cast<int>(seconds * 1000.0 + 0.5);
        QTimer::singleShot(ms, Qt::PreciseTimer, qApp, std::move(work));
    }
};

class QtAlerts final : public TLAlertPresenter {
public:
    int run(const TLAlert& alert) override {
        QMessageBox box;
        switch (alert.style) {
        case TLAlert::Style::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case TLAlert::Style::Critical:
            box.setIcon(QMessageBox::Critical);
            break;
        case TLAlert::Style::Informational:
            box.setIcon(QMessageBox::Information);
            break;
        }
        if (!alert.iconPath.isEmpty()) {
            QPixmap icon(alert.iconPath);
            if (!icon.isNull())
                box.setIconPixmap(
                    icon.scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        }
        // Process names are shown as they are, never read as markup.
        box.setTextFormat(Qt::PlainText);
        // Wide enough that a sentence of the informative text stays on one line.
        box.setStyleSheet(
            QStringLiteral("QLabel#qt_msgbox_informativelabel { min-width: 300px; }"));
        box.setText(alert.messageText);
        box.setInformativeText(alert.informativeText);
        QList<QAbstractButton*> buttons;
        if (alert.buttons.isEmpty()) {
            buttons.append(box.addButton(QMessageBox::Ok));
        } else {
            for (int i = 0; i < alert.buttons.size(); ++i) {
                const QMessageBox::ButtonRole role =
                    i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
                buttons.append(box.addButton(alert.buttons[i], role));
            }
        }
        box.setDefaultButton(qobject_cast<QPushButton*>(buttons.first()));
        // Escape means the last button (Cancel where there is one).
        box.setEscapeButton(buttons.last());
        box.exec();
        const int index = static_cast<int>(buttons.indexOf(box.clickedButton()));
        return TLAlertFirstButtonReturn +
               (index < 0 ? static_cast<int>(buttons.size()) - 1 : index);
    }
};

class QtClipboard final : public TLClipboard {
public:
    void setText(const QString& text) override {
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        clipboard->setText(text);
    }
};

} // namespace

TLScheduler& TLMainScheduler() {
    static QtScheduler scheduler;
    return scheduler;
}

TLAlertPresenter& TLSystemAlerts() {
    static QtAlerts alerts;
    return alerts;
}

TLClipboard& TLSystemClipboard() {
    static QtClipboard clipboard;
    return clipboard;
}
