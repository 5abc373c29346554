#pragma once
#include <QObject>
#include <QString>

#include <memory>

class QWidget;
struct TLAppEnvironment;
class TLStatusItem;
class TLPanelController;
class TLPopoverFlow;

// Snapshot mode (TL_SNAPSHOT): opens the panel, writes it in the light and the dark appearance
// and its energy tab, then the status icon at a normal and a critical pressure, and ends the
// process. Each step waits a little for the panel to settle.
class TLSnapshotMode final : public QObject {
    Q_OBJECT
public:
    TLSnapshotMode(const TLAppEnvironment& env, TLPopoverFlow& popover);
    // The panel, once the application has made it at launch.
    void setPanel(TLPanelController* panel) { _panel = panel; }

    void run();
    void runStep(int step, const QString& dir);
    // Schedules the step after `step`.
    void next(int step, const QString& dir);

private:
    const TLAppEnvironment& _env;
    TLPopoverFlow& _popover;
    TLPanelController* _panel = nullptr; // made at launch
};

// Writes the panel view as a PNG at one pixel per point over the opaque snapshot background
// (device white 0.17 when dark, 0.96 otherwise), atomically; failures are not reported.
void TLWriteSnapshot(QWidget* view, const QString& path, bool dark);
// The path of a snapshot file in the output directory (the working directory when empty).
QString TLSnapshotPath(const QString& dir, const QString& name);

// The status item of a snapshot run: it shows nothing, and no tray or desktop service hears of it.
std::unique_ptr<TLStatusItem> TLMakeSnapshotStatusItem();
