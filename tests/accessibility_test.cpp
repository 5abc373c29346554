// The panel as a screen reader and a keyboard-only user meet it: what the accessibility tree
// says (names, roles, values, which rows are there), that a refresh does not flood a reader with
// name changes, and the keyboard's paths through the panel.
#include "panel_fakes.h"

#include "format/TLColor.h"
#include "panel/TLAccessible.h"
#include "panel/TLPanelControls.h"
#include "platform/TLDesktopColors.h"
#include "widgets/TLAppearance.h"
#include "widgets/TLChip.h"
#include "widgets/TLProcList.h"
#include "widgets/TLProcRow.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAction>
#include <QApplication>
#include <QHash>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

namespace {

constexpr uint64_t MiB = 1ull << 20;

TLSystemStats stats(double usage) {
    TLSystemStats s;
    s.total = 16384 * MiB;
    s.app = 6000 * MiB;
    s.wired = 1000 * MiB;
    s.compressed = 0;
    s.cached = 3000 * MiB;
    s.used = 7000 * MiB;
    s.usagePercent = usage;
    s.cpuPercent = 12.5;
    return s;
}

std::vector<TLProc> procs() {
    auto p = [](int32_t pid, const char* name, uint64_t memory, double energy, bool approx) {
        TLProc proc;
        proc.pid = pid;
        proc.name = name;
        proc.memory = memory;
        proc.energy = energy;
        proc.approximate = approx;
        return proc;
    };
    return {p(11, "editor", 300 * MiB, 2.0, false), p(12, "browser", 1200 * MiB, 9.5, false),
            p(14, "daemon", 600 * MiB, 0.5, true)};
}

struct Node {
    QAccessible::Role role;
    QString name;
    QAccessibleInterface* iface;
};

// The tree under `iface`, depth first, as a reader walks it.
void walk(QAccessibleInterface* iface, std::vector<Node>& out) {
    if (!iface) return;
    out.push_back({iface->role(), iface->text(QAccessible::Name), iface});
    for (int i = 0; i < iface->childCount(); ++i)
        walk(iface->child(i), out);
}

const Node* find(const std::vector<Node>& nodes, QAccessible::Role role, const QString& prefix) {
    for (const Node& n : nodes)
        if (n.role == role && n.name.startsWith(prefix)) return &n;
    return nullptr;
}

struct ShownPanel : FakePanel {
    QWidget* view = nullptr;
    ShownPanel() {
        view = panel.view();
        panel.setSecondsPerSample(2);
        const std::vector<double> history = {0.40, 0.45, 0.42};
        panel.renderSystem(stats(42.7), history);
        const std::vector<TLProc> sample = procs();
        panel.renderProcesses(&sample);
        view->show();
        view->activateWindow();
        QApplication::processEvents();
    }
    void key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : view;
        QKeyEvent press(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(target, &press);
        QKeyEvent release(QEvent::KeyRelease, key, modifiers);
        QApplication::sendEvent(target, &release);
        QApplication::processEvents();
    }
};

} // namespace

// Every figure is read with its caption, the pictures say what they show, the tabs are tabs, and
// the list holds exactly the shown rows, each named with its value in the tab's unit.
TEST(PanelAccessibility, TheTreeNamesEveryFigureAndControl) {
    ShownPanel f;
    std::vector<Node> nodes;
    walk(QAccessible::queryAccessibleInterface(f.view), nodes);
    ASSERT_FALSE(nodes.empty());
    EXPECT_EQ(nodes.front().name, QStringLiteral("潮汐"));

    auto expectNode = [&](QAccessible::Role role, const QString& name) {
        EXPECT_NE(find(nodes, role, name), nullptr)
            << "no " << role << " named " << name.toStdString();
    };
    expectNode(QAccessible::StaticText, QStringLiteral("内存压力：正常"));
    expectNode(QAccessible::StaticText, QStringLiteral("已使用 6.84 GB，共 16.00 GB"));
    expectNode(QAccessible::Graphic,
               QStringLiteral("内存构成：App 内存 5.86 GB，联动内存 1000.0 MB，"
                              "被压缩 0 B，已缓存文件 2.93 GB"));
    // A figure reads its value, labelled by its caption (which labels it back), so that a
    // reader going line by line hears "App 内存 5.86 GB" once, not the caption twice.
    auto expectLabelled = [&](const QString& value, const QString& caption) {
        const Node* figure = nullptr;
        for (const Node& n : nodes)
            if (n.role == QAccessible::StaticText && n.name == value) figure = &n;
        ASSERT_NE(figure, nullptr) << "no figure reads " << value.toStdString();
        const auto labels = figure->iface->relations(QAccessible::Label);
        ASSERT_EQ(labels.size(), 1) << value.toStdString();
        EXPECT_EQ(labels[0].first->text(QAccessible::Name), caption);
        const auto labelled = labels[0].first->relations(QAccessible::Labelled);
        ASSERT_EQ(labelled.size(), 1) << caption.toStdString();
        EXPECT_EQ(labelled[0].first->object(), figure->iface->object());
    };
    expectLabelled(QStringLiteral("5.86 GB"), QStringLiteral("App 内存"));
    expectLabelled(QStringLiteral("12.5%"), QStringLiteral("CPU 总占用"));
    expectLabelled(QStringLiteral("未启用"), QStringLiteral("交换空间"));
    // The total is read in the used figure's name only.
    EXPECT_EQ(find(nodes, QAccessible::StaticText, QStringLiteral("共 ")), nullptr);
    expectNode(QAccessible::Chart,
               QStringLiteral("内存使用率历史，最近 6 秒：当前 42%，最低 40%，最高 45%"));
    expectNode(QAccessible::Button, QStringLiteral("设置"));
    expectNode(QAccessible::Button, QStringLiteral("打开活动监视器"));

    const Node* usage = find(nodes, QAccessible::ProgressBar, QStringLiteral("内存使用率"));
    ASSERT_NE(usage, nullptr);
    QAccessibleValueInterface* value = usage->iface->valueInterface();
    ASSERT_NE(value, nullptr);
    EXPECT_DOUBLE_EQ(value->currentValue().toDouble(), 43.0); // as shown: "43%"
    EXPECT_EQ(value->maximumValue().toDouble(), 100.0);

    const Node* tabs = find(nodes, QAccessible::PageTabList, QString());
    ASSERT_NE(tabs, nullptr);
    ASSERT_EQ(tabs->iface->childCount(), 2);
    EXPECT_EQ(tabs->iface->child(0)->role(), QAccessible::PageTab);
    EXPECT_TRUE(tabs->iface->child(0)->state().selected);
    EXPECT_FALSE(tabs->iface->child(1)->state().selected);

    // Three processes: three rows in the list, the nine hidden ones nowhere; the approximate
    // figure says so.
    const Node* list = find(nodes, QAccessible::List, QStringLiteral("内存占用"));
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->iface->childCount(), 3);
    EXPECT_EQ(list->iface->child(0)->text(QAccessible::Name), QStringLiteral("browser，1.17 GB"));
    EXPECT_EQ(list->iface->child(1)->text(QAccessible::Name),
              QStringLiteral("daemon，约 600.0 MB"));
    EXPECT_EQ(list->iface->child(0)->role(), QAccessible::ListItem);
    EXPECT_EQ(list->iface->child(0)->childCount(), 0);
    EXPECT_EQ(list->iface->indexOfChild(list->iface->child(2)), 2);

    f.panel.setTab(TLPanelTab::Energy);
    EXPECT_EQ(list->iface->text(QAccessible::Name), QStringLiteral("能耗"));
    EXPECT_EQ(list->iface->child(0)->text(QAccessible::Name), QStringLiteral("browser，能耗 9.5"));
    EXPECT_TRUE(tabs->iface->child(1)->state().selected);
}

// A refresh changes the figures a reader finds when it looks, and sends no name change for them:
// Qt's labels send one with each new text unless they have a name of their own, so every figure
// label has one (the description's name stands in for it).
TEST(PanelAccessibility, ARefreshIsReadWhenAskedAndNotAnnounced) {
    ShownPanel f;
    std::vector<Node> nodes;
    walk(QAccessible::queryAccessibleInterface(f.view), nodes);
    const std::vector<double> history = {0.40, 0.45, 0.42, 0.60};
    f.panel.renderSystem(stats(60.2), history);
    const std::vector<TLProc> sample = {procs()[1]};
    f.panel.renderProcesses(&sample);

    const Node* usage = find(nodes, QAccessible::ProgressBar, QStringLiteral("内存使用率"));
    ASSERT_NE(usage, nullptr);
    EXPECT_DOUBLE_EQ(usage->iface->valueInterface()->currentValue().toDouble(), 60.0);
    const Node* list = find(nodes, QAccessible::List, QStringLiteral("内存占用"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->iface->childCount(), 1);

    QList<QLabel*> figures = f.panel.legendValues();
    figures << f.panel.usageNow() << f.panel.pressureValue() << f.panel.swapValue()
            << f.panel.cpuValue();
    for (QLabel* label : figures)
        EXPECT_FALSE(label->accessibleName().isEmpty()) << label->text().toStdString();
}

// A reader that keeps the names it read is told of the changed ones, each once, at most every
// five seconds: never the focused row (the reader re-reads it as the focus moves), never a label
// read in its neighbour's name, never a hidden row.
TEST(PanelAccessibility, ChangedNamesAreToldAtABoundedRate) {
    ShownPanel f;
    std::vector<std::pair<QWidget*, QString>> told;
    TLWatchAccessibleNameChanges([&](QWidget* w, const QString& name) {
        told.push_back({w, name});
    });
    const auto t0 = std::chrono::steady_clock::now() + std::chrono::hours(1);
    TLTellAccessibleNameChanges(t0); // what the first figures left to tell
    told.clear();

    // The focus on the first row; new figures and processes.
    f.panel.rowsStack()->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    const std::vector<double> history = {0.40, 0.45, 0.42, 0.60};
    TLSystemStats more = stats(60.2);
    more.used = 9000 * MiB;
    more.app = 8000 * MiB;
    f.panel.renderSystem(more, history);
    std::vector<TLProc> sample = procs();
    for (TLProc& p : sample)
        p.memory *= 2;
    f.panel.renderProcesses(&sample);
    EXPECT_EQ(TLTellAccessibleNameChanges(t0 + std::chrono::seconds(2)), 0) << "within 5 s";
    ASSERT_GT(TLTellAccessibleNameChanges(t0 + std::chrono::seconds(6)), 0);

    QStringList names;
    for (const auto& [widget, name] : told) {
        names << name;
        EXPECT_TRUE(widget->isVisible()) << name.toStdString();
        EXPECT_NE(widget, f.panel.rows()[0]) << "the focused row: " << name.toStdString();
        EXPECT_EQ(std::count_if(told.begin(), told.end(),
                                [w = widget](const auto& t) { return t.first == w; }),
                  1);
    }
    EXPECT_TRUE(names.contains(QStringLiteral("已使用 ") + f.panel.bigValue()->text() +
                               QStringLiteral("，") + f.panel.totalValue()->text()))
        << names.join(QStringLiteral(" | ")).toStdString();
    EXPECT_TRUE(names.contains(f.panel.legendValues()[0]->text()));
    EXPECT_TRUE(std::any_of(names.begin(), names.end(), [](const QString& n) {
        return n.startsWith(QStringLiteral("内存使用率历史"));
    }));
    for (const QString& n : names)
        EXPECT_NE(n, f.panel.totalValue()->text()) << "the total is told in the used figure's name";
    const int rowsTold =
        static_cast<int>(std::count_if(told.begin(), told.end(), [&](const auto& t) {
            const QList<TLProcRow*>& rows = f.panel.rows();
            return std::any_of(rows.begin(), rows.end(),
                               [w = t.first](const TLProcRow* row) { return row == w; });
        }));
    EXPECT_EQ(rowsTold, 2) << "the two shown rows without the focus";

    // Nothing new: nothing told, however long it waits.
    told.clear();
    EXPECT_EQ(TLTellAccessibleNameChanges(t0 + std::chrono::seconds(60)), 0);
    TLWatchAccessibleNameChanges({});
}

// Tab goes through every control; arrows walk the list; Shift+F10 opens the row's menu, whose
// 复制进程名 copies the name; Return presses the buttons.
TEST(PanelKeyboard, EveryControlIsReachedAndUsedWithoutAMouse) {
    ShownPanel f;
    QAbstractButton* memoryTab = f.panel.seg()->segment(0);
    QAbstractButton* energyTab = f.panel.seg()->segment(1);
    TLProcList* list = f.panel.rowsStack();
    ASSERT_NE(list, nullptr);
    memoryTab->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    QList<QWidget*> visited{QApplication::focusWidget()};
    for (int i = 0; i < 4; ++i) {
        f.key(Qt::Key_Tab);
        visited << QApplication::focusWidget();
    }
    // The tab list is one stop (the chosen tab), and the arrows choose the other tab.
    EXPECT_EQ(visited.count(energyTab), 0);
    EXPECT_TRUE(visited.contains(list));
    EXPECT_TRUE(visited.contains(f.panel.activityMonitor()));
    EXPECT_TRUE(visited.contains(f.panel.gear()));
    EXPECT_EQ(visited.last(), visited.first()) << "Tab does not come round";
    memoryTab->setFocus(Qt::TabFocusReason);
    f.key(Qt::Key_Right);
    EXPECT_EQ(QApplication::focusWidget(), energyTab);
    EXPECT_EQ(f.panel.seg()->selectedSegment(), 1);
    EXPECT_EQ(f.delegate.tabs.size(), 1u);
    f.key(Qt::Key_Right); // the last tab: stays
    EXPECT_EQ(f.panel.seg()->selectedSegment(), 1);
    f.key(Qt::Key_Left);
    EXPECT_EQ(f.panel.seg()->selectedSegment(), 0);
    EXPECT_EQ(QApplication::focusWidget(), memoryTab);

    // The list: Down, End, Home; the ring is on the current row only.
    list->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    const QList<TLProcRow*>& rows = f.panel.rows();
    EXPECT_EQ(list->currentRow(), rows[0]);
    EXPECT_TRUE(rows[0]->isKeyboardCurrent());
    f.key(Qt::Key_Down);
    EXPECT_EQ(list->currentRow(), rows[1]);
    f.key(Qt::Key_End);
    EXPECT_EQ(list->currentRow(), rows[2]);
    f.key(Qt::Key_Down); // the last shown row: stays
    EXPECT_EQ(list->currentRow(), rows[2]);
    f.key(Qt::Key_Home);
    EXPECT_EQ(list->currentRow(), rows[0]);
    EXPECT_FALSE(rows[2]->isKeyboardCurrent());
    QAccessibleInterface* row0 = QAccessible::queryAccessibleInterface(rows[0]);
    EXPECT_TRUE(row0->state().focused);

    // Shift+F10: the first row's menu, on its first command, 复制进程名; Return copies "browser".
    f.key(Qt::Key_F10, Qt::ShiftModifier);
    QMenu* menu = rows[0]->menu();
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(menu->isVisible());
    ASSERT_NE(menu->activeAction(), nullptr);
    ASSERT_EQ(menu->activeAction()->text(), QStringLiteral("复制进程名"));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(menu, &enter);
    QApplication::processEvents();
    ASSERT_EQ(f.clipboard.texts.size(), 1u);
    EXPECT_EQ(f.clipboard.texts[0], QStringLiteral("browser"));

    // Return on the gear and on the system monitor button; Space on a tab.
    f.panel.gear()->setFocus(Qt::TabFocusReason);
    f.key(Qt::Key_Return);
    EXPECT_EQ(f.delegate.gears.size(), 1u);
    f.panel.activityMonitor()->setFocus(Qt::TabFocusReason);
    f.key(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(f.log.back(), "open system monitor");
}

// The focus ring stands out from the panel and from the tab control in both appearances.
TEST(PanelKeyboard, TheFocusRingHasThreeToOneContrast) {
    for (TLAppearance appearance : {TLAppearance::Light, TLAppearance::Dark}) {
        const QColor ring = TLFocusRingColor().resolve(appearance);
        EXPECT_EQ(ring.alphaF(), 1.0f);
        EXPECT_GE(TLContrastRatio(ring, TLPanelBackgroundColor().resolve(appearance)), 3.0);
    }
    EXPECT_NEAR(TLContrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
    EXPECT_NEAR(TLContrastRatio(QColor(0x77, 0x77, 0x77), Qt::white), 4.48, 0.01);
}

namespace {
// A colour with its alpha drawn over an opaque background.
QColor over(const QColor& fg, const QColor& bg) {
    const double a = fg.alphaF();
    return QColor::fromRgbF(static_cast<float>(fg.redF() * a + bg.redF() * (1 - a)),
                            static_cast<float>(fg.greenF() * a + bg.greenF() * (1 - a)),
                            static_cast<float>(fg.blueF() * a + bg.blueF() * (1 - a)));
}
} // namespace

// Where the desktop asks for high contrast, the faint texts, the pressure chip and figure read at
// 4.5:1 against the panel (and the chip's text against its own tinted background); by default
// the look stays as designed, with faint texts below that.
TEST(PanelContrast, HighContrastTextsReadAtFourAndAHalfToOne) {
    const TLPressureLevel levels[] = {TLPressureLevel::Normal, TLPressureLevel::Warning,
                                      TLPressureLevel::Critical};
    TLSetHighContrast(true);
    for (TLAppearance appearance : {TLAppearance::Light, TLAppearance::Dark}) {
        const QColor panel = TLPanelBackgroundColor().resolve(appearance);
        for (const TLColor& text : {TLSecondaryLabelColor(), TLTertiaryLabelColor()})
            EXPECT_GE(TLContrastRatio(over(text.resolve(appearance), panel), panel), 4.5)
                << int(appearance);
        for (TLPressureLevel level : levels) {
            const QColor text = TLPressureTextColor(level).resolve(appearance);
            const QColor chip =
                over(TLPressureTextColor(level).withAlpha(0.16).resolve(appearance), panel);
            EXPECT_GE(TLContrastRatio(text, panel), 4.5) << int(appearance) << " " << int(level);
            EXPECT_GE(TLContrastRatio(text, chip), 4.5) << int(appearance) << " " << int(level);
        }
    }
    TLSetHighContrast(false);
    const QColor panel = TLPanelBackgroundColor().resolve(TLAppearance::Light);
    EXPECT_LT(
        TLContrastRatio(over(TLTertiaryLabelColor().resolve(TLAppearance::Light), panel), panel),
        4.5);
    EXPECT_EQ(TLPressureTextColor(TLPressureLevel::Normal).resolve(TLAppearance::Light),
              TLPressureColor(TLPressureLevel::Normal).resolve(TLAppearance::Light));
}

// What the desktop declares: the portal's contrast, GNOME's setting, a KDE scheme of high
// contrast by its name; nothing, or another scheme, is the default look.
TEST(PanelContrast, TheDesktopsRequestIsFoundWhereItIsDeclared) {
    TLDesktopColorHints hints;
    EXPECT_FALSE(TLHighContrastFromHints(hints));
    hints.portalHighContrast = true;
    EXPECT_TRUE(TLHighContrastFromHints(hints));
    hints.portalHighContrast = false;
    hints.gnomeHighContrast = true;
    EXPECT_TRUE(TLHighContrastFromHints(hints));
    hints.gnomeHighContrast.reset();
    for (const char* scheme : {"BreezeHighContrast", "Breeze High Contrast", "highcontrast"}) {
        hints.kdeColorScheme = QString::fromLatin1(scheme);
        EXPECT_TRUE(TLHighContrastFromHints(hints)) << scheme;
    }
    hints.kdeColorScheme = QStringLiteral("BreezeDark");
    EXPECT_FALSE(TLHighContrastFromHints(hints));
}

// A change of the pressure level is said once, politely, with the new state; a refresh at the
// same level says nothing.
TEST(PanelAccessibility, APressureChangeIsAnnouncedOnce) {
    ShownPanel f;
    QStringList said;
    TLWatchAccessibleAnnouncements([&](QWidget* widget, const QString& text) {
        EXPECT_EQ(widget, f.panel.chip());
        said << text;
    });
    const std::vector<double> history = {0.5};
    auto render = [&](TLPressureLevel level) {
        TLSystemStats s = stats(50);
        s.pressureLevel = level;
        f.panel.renderSystem(s, history);
    };
    render(TLPressureLevel::Normal);
    render(TLPressureLevel::Warning);
    render(TLPressureLevel::Warning);
    render(TLPressureLevel::Critical);
    render(TLPressureLevel::Critical);
    render(TLPressureLevel::Normal);
    TLWatchAccessibleAnnouncements(nullptr);
    EXPECT_EQ(said, (QStringList{QStringLiteral("内存压力：警告"), QStringLiteral("内存压力：严重"),
                                 QStringLiteral("内存压力：正常")}));
}

namespace {

// The panel as drawn, on the opaque background snapshots put under it.
QImage rendered(QWidget* view, TLAppearance appearance) {
    TLSetAppearance(view, appearance);
    QApplication::processEvents();
    QImage image(view->size(), QImage::Format_ARGB32);
    const int white = qRound((appearance == TLAppearance::Dark ? 0.17 : 0.96) * 255);
    image.fill(QColor(white, white, white));
    QPainter painter(&image);
    view->render(&painter, QPoint(), QRegion(view->rect()), QWidget::DrawChildren);
    return image;
}

// The contrast a text drawn in `widget` reaches in the picture: its background is the colour most
// of the widget's pixels have, its ink the pixel that differs most from it (the core of a stroke,
// where anti-aliasing leaves the text's own colour).
double inkContrast(const QImage& image, QWidget* view, QWidget* widget) {
    const QRect r = QRect(widget->mapTo(view, QPoint()), widget->size()) & image.rect();
    QHash<QRgb, int> counts;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            ++counts[image.pixel(x, y)];
    QRgb background = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most) std::tie(background, most) = std::pair(it.key(), it.value());
    double best = 1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        best = std::max(best, TLContrastRatio(QColor(it.key()), QColor(background)));
    return best;
}

} // namespace

// Measured in the drawn panel, not from the colour values: in high contrast the faint texts (the
// footnote, the version, the captions), the chip and the green figures read at 4.5:1 at least, in
// both appearances; by default the footnote does not (the designed look is kept).
TEST(PanelContrast, TheHighContrastPanelAsDrawnReadsAtFourAndAHalfToOne) {
    for (const bool high : {true, false}) {
        TLSetHighContrast(high);
        ShownPanel f;
        f.panel.renderProcesses(nullptr); // sets the footnote's text
        for (TLAppearance appearance : {TLAppearance::Light, TLAppearance::Dark}) {
            const QImage image = rendered(f.view, appearance);
            if (const QByteArray dir = qgetenv("TIDE_TEST_PICTURES"); !dir.isEmpty())
                image.save(QString::fromLocal8Bit(dir) +
                           QStringLiteral("/panel-%1%2.png")
                               .arg(appearance == TLAppearance::Dark ? u"dark" : u"light")
                               .arg(high ? u"-high-contrast" : u""));
            const std::pair<const char*, QWidget*> texts[] = {
                {"footnote", f.panel.footNote()},
                {"version", f.panel.versionLabel()},
                {"total", f.panel.totalValue()},
                {"chip", f.panel.chip()},
                {"pressure figure", f.panel.pressureValue()}};
            for (const auto& [what, widget] : texts) {
                const double ratio = inkContrast(image, f.view, widget);
                if (high) {
                    EXPECT_GE(ratio, 4.5) << what << " in " << int(appearance);
                } else if (widget == f.panel.footNote() && appearance == TLAppearance::Light) {
                    EXPECT_LT(ratio, 4.5) << "the default footnote reads " << ratio;
                }
                std::printf("%-16s %-5s %-13s %.2f:1\n", what,
                            appearance == TLAppearance::Dark ? "dark" : "light",
                            high ? "high contrast" : "default", ratio);
            }
        }
    }
    TLSetHighContrast(false);
}
