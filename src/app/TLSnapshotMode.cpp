#include "app/TLSnapshotMode.h"

#include "app/TLAppEnvironment.h"
#include "app/TLPopoverFlow.h"
#include "format/TLColor.h"
#include "format/TLStatusBarImage.h"
#include "panel/TLPanelController.h"
#include "platform/TLStatusItem.h"
#include "widgets/TLAppearance.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QSaveFile>

TLSnapshotMode::TLSnapshotMode(const TLAppEnvironment& env, TLPopoverFlow& popover)
    : _env(env), _popover(popover) {}

QString TLSnapshotPath(const QString& dir, const QString& name) {
    return dir.isEmpty() ? name : QDir(dir).filePath(name);
}

void TLWriteSnapshot(QWidget* view, const QString& path, bool dark) {
    const QRect r = view->rect();
    QImage image(r.width(), r.height(), QImage::Format_ARGB32);
    image.setDevicePixelRatio(1.0);
    // Device white 0.17 or 0.96, opaque, under the whole picture.
    const int white = dark ? qRound(0.17 * 255) : qRound(0.96 * 255);
    image.fill(QColor(white, white, white));
    {
        QPainter p(&image);
        view->render(&p, QPoint(), QRegion(r), QWidget::DrawChildren);
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return;
    if (image.save(&file, "PNG")) file.commit();
}

void TLSnapshotMode::run() {
    const QString dir = _env.snapshotDir.value_or(QString());
    _popover.statusClicked();
    QPointer<TLSnapshotMode> self(this);
    _env.scheduler->after(2.5, [self, dir] {
        if (self) self->runStep(0, dir);
    });
}

void TLSnapshotMode::next(int step, const QString& dir) {
    QPointer<TLSnapshotMode> self(this);
    _env.scheduler->after(0.45, [self, step, dir] {
        if (self) self->runStep(step + 1, dir);
    });
}

void TLSnapshotMode::runStep(int step, const QString& dir) {
    QWidget* view = _panel->view();
    switch (step) {
    case 0:
        TLSetAppearance(view, TLAppearance::Light);
        next(step, dir);
        return;
    case 1:
        TLWriteSnapshot(view, TLSnapshotPath(dir, QStringLiteral("panel-light.png")), false);
        next(step, dir);
        return;
    case 2:
        TLSetAppearance(view, TLAppearance::Dark);
        next(step, dir);
        return;
    case 3:
        TLWriteSnapshot(view, TLSnapshotPath(dir, QStringLiteral("panel-dark.png")), true);
        next(step, dir);
        return;
    case 4:
        _panel->setTab(TLPanelTab::Energy);
        TLSetAppearance(view, TLAppearance::Light);
        next(step, dir);
        return;
    case 5:
        TLWriteSnapshot(view, TLSnapshotPath(dir, QStringLiteral("panel-energy.png")), false);
        next(step, dir);
        return;
    default:
        break;
    }
    const double f = _env.sampleSystem().usagePercent / 100.0;
    const qreal scale = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    const struct {
        TLPressureLevel level;
        const char* name;
    } icons[] = {{TLPressureLevel::Normal, "icon-normal.png"},
                 {TLPressureLevel::Critical, "icon-critical.png"}};
    for (const auto& icon : icons) {
        const QImage image = TLStatusBarImage(TLPressureColor(icon.level), false, f)
                                 .toImage(scale, TLAppearance::Light, Qt::black);
        QSaveFile file(TLSnapshotPath(dir, QString::fromLatin1(icon.name)));
        if (file.open(QIODevice::WriteOnly) && image.save(&file, "PNG")) file.commit();
    }
    _env.exitNow(0);
}

namespace {

class SnapshotStatusItem final : public TLStatusItem {
public:
    void setIcon(const QIcon&, quint64) override {}
    void setTitle(const QString&) override {}
    void setToolTip(const QString&) override {}
    QRect geometry() const override { return {}; }
    bool trayAvailable() const override { return false; }
    void popUpMenu(QMenu*) override {}
};

} // namespace

std::unique_ptr<TLStatusItem> TLMakeSnapshotStatusItem() {
    return std::make_unique<SnapshotStatusItem>();
}
