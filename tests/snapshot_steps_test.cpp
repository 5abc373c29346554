#include "app_fakes.h"
#include "widgets/TLAppearance.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <gtest/gtest.h>

namespace {

const QStringList kFiles = {"panel-light.png", "panel-dark.png", "panel-energy.png",
                            "icon-normal.png", "icon-critical.png"};

QStringList filesIn(const QString& dir) {
    QStringList present;
    for (const QString& name : kFiles)
        if (QFileInfo::exists(QDir(dir).filePath(name))) present << name;
    return present;
}

// Runs every delayed step.
void runAll(AppHarness& h) {
    for (int i = 0; i < 100 && h.scheduler.runNext(); ++i) {
    }
}

// Working directory changed for the life of the guard.
struct WorkingDirectory {
    QString previous = QDir::currentPath();
    explicit WorkingDirectory(const QString& dir) { QDir::setCurrent(dir); }
    ~WorkingDirectory() { QDir::setCurrent(previous); }
};

} // namespace

TEST(SnapshotMode, StepsDelaysFilesAndAppearance) {
    AppHarness h;
    const QString out = h.dir.filePath(QStringLiteral("out"));
    ASSERT_TRUE(QDir().mkpath(out));
    h.snapshotDir = out;
    h.systemAppearance = TLAppearance::Dark;
    h.prefs->setBool(true, TLMono); // the icons are coloured all the same
    h.procs = {{1, "a", 300, 1, 9}, {2, "b", 200, 5, 1}, {3, "c", 100, 2, 4}};
    TLAppDelegate& app = h.launch();
    QWidget* view = app.panel()->view();

    // The panel opens at once; the first step comes 2.5 s later.
    EXPECT_TRUE(h.popover.shown);
    h.queue.runOne();
    h.scheduler.advance(2.49);
    EXPECT_EQ(TLEffectiveAppearance(view), TLAppearance::Dark);

    struct Step {
        TLAppearance appearance;
        TLPanelTab tab;
        qsizetype files;
    };
    const Step steps[] = {
        {TLAppearance::Light, TLPanelTab::Memory, 0}, {TLAppearance::Light, TLPanelTab::Memory, 1},
        {TLAppearance::Dark, TLPanelTab::Memory, 1},  {TLAppearance::Dark, TLPanelTab::Memory, 2},
        {TLAppearance::Light, TLPanelTab::Energy, 2}, {TLAppearance::Light, TLPanelTab::Energy, 3},
    };
    double wait = 0.01;
    std::vector<QSize> sizes; // the view's size after each step
    for (size_t i = 0; i < std::size(steps); ++i) {
        h.scheduler.advance(wait);
        wait = 0.45;
        EXPECT_EQ(TLEffectiveAppearance(view), steps[i].appearance) << "step " << i;
        EXPECT_EQ(app.panel()->tab(), steps[i].tab) << "step " << i;
        EXPECT_EQ(filesIn(out), kFiles.mid(0, steps[i].files)) << "step " << i;
        EXPECT_TRUE(h.exits.empty()) << "step " << i;
        sizes.push_back(view->size());
    }
    h.scheduler.advance(0.45);
    EXPECT_EQ(filesIn(out), kFiles);
    EXPECT_EQ(QDir(out).entryList(QDir::Files).size(), 5);
    EXPECT_EQ(h.exits, std::vector<int>{0});
    EXPECT_TRUE(h.scheduler.pending.empty());
    EXPECT_EQ(h.scheduler.delays,
              (std::vector<double>{0.9, 2.5, 0.45, 0.45, 0.45, 0.45, 0.45, 0.45}));
    EXPECT_EQ(h.prefs->integerForKey(TLTab), 0); // the energy tab was only shown

    // Panel files: one pixel per point, opaque, over the grey of their appearance.
    for (const auto& [name, grey, step] : {std::tuple{"panel-light.png", 245, 1},
                                           {"panel-dark.png", 43, 3},
                                           {"panel-energy.png", 245, 5}}) {
        const QImage image(QDir(out).filePath(QString::fromLatin1(name)));
        ASSERT_FALSE(image.isNull()) << name;
        EXPECT_EQ(image.size(), sizes[step]) << name;
        EXPECT_EQ(image.width(), TLPanelWidth) << name;
        EXPECT_EQ(image.pixel(0, 0), qRgb(grey, grey, grey)) << name;
        bool opaque = true;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                opaque = opaque && qAlpha(image.pixel(x, y)) == 255;
        EXPECT_TRUE(opaque) << name;
    }

    // The two icons: the same shape, green and red.
    const QImage normal(QDir(out).filePath("icon-normal.png"));
    const QImage critical(QDir(out).filePath("icon-critical.png"));
    ASSERT_FALSE(normal.isNull());
    ASSERT_EQ(normal.size(), critical.size());
    bool sameAlpha = true;
    bool colourDiffers = false;
    for (int y = 0; y < normal.height(); ++y) {
        for (int x = 0; x < normal.width(); ++x) {
            sameAlpha = sameAlpha && qAlpha(normal.pixel(x, y)) == qAlpha(critical.pixel(x, y));
            colourDiffers = colourDiffers || normal.pixel(x, y) != critical.pixel(x, y);
        }
    }
    EXPECT_TRUE(sameAlpha);
    EXPECT_TRUE(colourDiffers);
}

TEST(SnapshotMode, MissingDirectoryWritesNothingAndStillExits) {
    AppHarness h;
    const QString missing = h.dir.filePath(QStringLiteral("missing"));
    h.snapshotDir = missing;
    h.launch();
    runAll(h);
    EXPECT_EQ(h.exits, std::vector<int>{0});
    EXPECT_FALSE(QFileInfo::exists(missing));
}

TEST(SnapshotMode, EmptyDirectoryIsTheWorkingDirectory) {
    AppHarness h;
    QTemporaryDir cwd;
    ASSERT_TRUE(cwd.isValid());
    WorkingDirectory in(cwd.path());
    h.snapshotDir = QString();
    h.launch();
    runAll(h);
    EXPECT_EQ(h.exits, std::vector<int>{0});
    EXPECT_EQ(filesIn(cwd.path()), kFiles);
}
