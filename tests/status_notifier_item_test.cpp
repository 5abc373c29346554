// Tide's own StatusNotifierItem and its exported menu, on a private session bus with a watcher
// played by the test: what a host reads and the calls it makes.

#include "app_fakes.h"
#include "platform/linux/tray/TLDBusMenuExporter.h"
#include "platform/linux/tray/TLStatusNotifierItem.h"
#include "private_bus.h"

#include <QAction>
#include <QActionGroup>
#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sys/prctl.h>

namespace {

// The watcher a panel runs: it takes registrations and says a host is there.
class FakeWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
public:
    explicit FakeWatcher(QDBusConnection bus) : _bus(std::move(bus)) {
        _bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
        ok = _bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    }
    bool hostRegistered() const { return true; }

    bool ok = false;
    QStringList items;

public slots:
    void RegisterStatusNotifierItem(const QString& service) { items.append(service); }

private:
    QDBusConnection _bus;
};

// Counts one signal of one object on the bus.
class SignalCounter : public QObject {
    Q_OBJECT
public:
    SignalCounter(QDBusConnection bus, const QString& service, const QString& path,
                  const QString& interface, const QString& name) {
        bus.connect(service, path, interface, name, this, SLOT(seen(QDBusMessage)));
    }
    int count = 0;
    QList<QVariant> last;

public slots:
    void seen(const QDBusMessage& m) {
        ++count;
        last = m.arguments();
    }
};

QDBusMessage call(QDBusConnection& bus, const QString& service, const QString& path,
                  const QString& interface, const QString& method, const QVariantList& args) {
    QDBusMessage m = QDBusMessage::createMethodCall(service, path, interface, method);
    m.setArguments(args);
    // The item answers on this thread: wait with the event loop running.
    return bus.call(m, QDBus::BlockWithGui, 5000);
}

QVariant property(QDBusConnection& bus, const QString& service, const QString& path,
                  const QString& interface, const QString& name) {
    const QDBusMessage reply =
        call(bus, service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
             QStringLiteral("Get"), {interface, name});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    return qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant();
}

template <typename T>
T demarshalled(const QVariant& v) {
    T out{};
    if (v.canConvert<QDBusArgument>()) v.value<QDBusArgument>() >> out;
    return out;
}

QIcon solidIcon(QColor colour, int size = 48) {
    QPixmap pixmap(size, size);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

class StatusNotifierItemTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed";
        bus = std::make_unique<PrivateBus>();
        ASSERT_TRUE(bus->running()) << "dbus-daemon gave no address";
        watcherBus = bus->connect();
        itemBus = bus->connect();
        host = bus->connect();
        ASSERT_TRUE(watcherBus.isConnected() && itemBus.isConnected() && host.isConnected());
    }
    void TearDown() override {
        item.reset();
        watcher.reset();
        watcherBus = itemBus = host = QDBusConnection(QString());
        bus.reset();
    }

    QVariant itemProperty(const QString& name) {
        return property(host, item->serviceName(), QStringLiteral("/StatusNotifierItem"),
                        QStringLiteral("org.kde.StatusNotifierItem"), name);
    }
    QDBusMessage itemCall(const QString& method, const QVariantList& args) {
        return call(host, item->serviceName(), QStringLiteral("/StatusNotifierItem"),
                    QStringLiteral("org.kde.StatusNotifierItem"), method, args);
    }
    std::unique_ptr<SignalCounter> itemSignal(const QString& name) {
        return std::make_unique<SignalCounter>(host, item->serviceName(),
                                               QStringLiteral("/StatusNotifierItem"),
                                               QStringLiteral("org.kde.StatusNotifierItem"), name);
    }

    std::unique_ptr<PrivateBus> bus;
    QDBusConnection watcherBus{QString()};
    QDBusConnection itemBus{QString()};
    QDBusConnection host{QString()};
    std::unique_ptr<FakeWatcher> watcher;
    std::unique_ptr<TLStatusNotifierItem> item;
};

// The item registers with the watcher under its own service name, and again with a watcher that
// starts later (a panel restarting); a host reads the properties it draws from.
TEST_F(StatusNotifierItemTest, RegistersAndShowsWhatAHostDraws) {
    watcher = std::make_unique<FakeWatcher>(watcherBus);
    ASSERT_TRUE(watcher->ok);
    item = std::make_unique<TLStatusNotifierItem>(itemBus);
    ASSERT_TRUE(item->isExported());
    EXPECT_TRUE(item->serviceName().startsWith(
        QStringLiteral("org.kde.StatusNotifierItem-%1-").arg(QCoreApplication::applicationPid())));
    ASSERT_TRUE(spin([&] { return item->isRegistered(); }));
    EXPECT_EQ(watcher->items, QStringList{item->serviceName()});
    EXPECT_TRUE(host.interface()->isServiceRegistered(item->serviceName()));

    // The pixels go as A, R, G, B: an opaque colour starts with 0xff.
    QPixmap pixmap(48, 48);
    pixmap.fill(QColor(0x12, 0x34, 0x56));
    item->setIcon(QIcon(pixmap), 1);
    item->setTitle(QStringLiteral("42%"));
    item->setToolTip(QStringLiteral("内存 42%"));
    // No label until asked for: the square picture carries the figure already.
    EXPECT_EQ(itemProperty(QStringLiteral("XAyatanaLabel")).toString(), QString());
    item->setLabelShown(true);

    EXPECT_EQ(itemProperty(QStringLiteral("Id")).toString(), QStringLiteral("dev.tide.monitor"));
    EXPECT_EQ(itemProperty(QStringLiteral("Title")).toString(), QStringLiteral("潮汐"));
    EXPECT_EQ(itemProperty(QStringLiteral("Category")).toString(),
              QStringLiteral("SystemServices"));
    EXPECT_EQ(itemProperty(QStringLiteral("Status")).toString(), QStringLiteral("Active"));
    EXPECT_EQ(qvariant_cast<QDBusObjectPath>(itemProperty(QStringLiteral("Menu"))).path(),
              QStringLiteral("/MenuBar"));
    EXPECT_EQ(itemProperty(QStringLiteral("XAyatanaLabel")).toString(), QStringLiteral("42%"));
    EXPECT_EQ(itemProperty(QStringLiteral("XAyatanaLabelGuide")).toString(), QStringLiteral("42%"));

    const auto tip = demarshalled<TLSniToolTip>(itemProperty(QStringLiteral("ToolTip")));
    EXPECT_EQ(tip.title, QStringLiteral("潮汐"));
    EXPECT_EQ(tip.text, QStringLiteral("内存 42%"));

    const auto pixmaps = demarshalled<TLSniPixmapList>(itemProperty(QStringLiteral("IconPixmap")));
    QList<int> sizes;
    for (const TLSniPixmap& p : pixmaps) {
        sizes.append(p.width);
        EXPECT_EQ(p.height, p.width);
        ASSERT_EQ(p.bytes.size(), p.width * p.height * 4);
        EXPECT_EQ(p.bytes.left(4), QByteArray("\xff\x12\x34\x56", 4)) << p.width;
    }
    EXPECT_EQ(sizes, (QList<int>{16, 22, 24, 32, 44, 48, 64}));
    // A screen at 150 % or 175 % beside one at 100 %: the tray's sizes at each scale too.
    EXPECT_EQ(TLSniIconSizesFor({1.0, 1.5}),
              (std::vector<int>{16, 22, 24, 32, 33, 36, 44, 48, 64}));
    EXPECT_EQ(TLSniIconSizesFor({1.75, 2.0}),
              (std::vector<int>{16, 22, 24, 28, 32, 39, 42, 44, 48, 56, 64}));

    // The panel restarts: its new watcher gets the item without the item being made again.
    watcher.reset();
    bus->disconnect(watcherBus);
    watcherBus = bus->connect();
    ASSERT_TRUE(spin([&] { return !item->isRegistered(); }));
    watcher = std::make_unique<FakeWatcher>(watcherBus);
    ASSERT_TRUE(watcher->ok);
    ASSERT_TRUE(spin([&] { return watcher->items == QStringList{item->serviceName()}; }));
    EXPECT_TRUE(spin([&] { return item->isRegistered(); }));

    // Gone with the item: the watcher sees the name leave.
    const QString service = item->serviceName();
    item.reset();
    EXPECT_TRUE(spin([&] { return !host.interface()->isServiceRegistered(service); }));
}

// Hosts redraw on each New… signal: one per real change and none for the same picture, text or
// label again.
TEST_F(StatusNotifierItemTest, SignalsOnlyRealChanges) {
    item = std::make_unique<TLStatusNotifierItem>(itemBus);
    ASSERT_TRUE(item->isExported());
    const auto icon = itemSignal(QStringLiteral("NewIcon"));
    const auto toolTip = itemSignal(QStringLiteral("NewToolTip"));
    const auto label = itemSignal(QStringLiteral("XAyatanaNewLabel"));
    item->setTitle(QStringLiteral("41%")); // no label shown yet: nothing to announce
    settle();
    EXPECT_EQ(label->count, 0);
    item->setLabelShown(true);
    settle();
    EXPECT_EQ(label->count, 1);
    label->count = 0;

    item->setIcon(solidIcon(Qt::red), 1);
    item->setIcon(solidIcon(Qt::red), 1); // the same key
    item->setIcon(solidIcon(Qt::red), 2); // a new key, the same pixels
    item->setToolTip(QStringLiteral("a"));
    item->setToolTip(QStringLiteral("a"));
    item->setTitle(QStringLiteral("42%"));
    item->setTitle(QStringLiteral("42%"));
    settle();
    EXPECT_EQ(icon->count, 1);
    EXPECT_EQ(toolTip->count, 1);
    EXPECT_EQ(label->count, 1);
    EXPECT_EQ(label->last, (QList<QVariant>{QStringLiteral("42%"), QStringLiteral("42%")}));

    item->setIcon(solidIcon(Qt::blue), 3);
    // While the panel is open the tip goes; it comes back after.
    item->setToolTipSuppressed(true);
    settle();
    EXPECT_EQ(icon->count, 2);
    EXPECT_EQ(toolTip->count, 2);
    const auto hidden = demarshalled<TLSniToolTip>(itemProperty(QStringLiteral("ToolTip")));
    EXPECT_TRUE(hidden.title.isEmpty() && hidden.text.isEmpty());
    item->setToolTip(QStringLiteral("b")); // changes nothing shown
    settle();
    EXPECT_EQ(toolTip->count, 2);
    item->setToolTipSuppressed(false);
    settle();
    EXPECT_EQ(toolTip->count, 3);
    EXPECT_EQ(demarshalled<TLSniToolTip>(itemProperty(QStringLiteral("ToolTip"))).text,
              QStringLiteral("b"));
}

// The tool tip's figures change at nearly every tick, and a host fetches the tip again at each
// NewToolTip. A change of the figures alone is told with the next new picture or title, or 30 s
// after the tip was last told; a host asking in between reads the tip as it is.
TEST_F(StatusNotifierItemTest, AToolTipWhoseFiguresAloneChangeIsToldAtMostEvery30Seconds) {
    item = std::make_unique<TLStatusNotifierItem>(itemBus);
    ASSERT_TRUE(item->isExported());
    double now = 1000;
    item->setClock([&now] { return now; });
    const auto toolTip = itemSignal(QStringLiteral("NewToolTip"));
    auto told = [&] {
        settle();
        return toolTip->count;
    };
    item->setToolTip(QStringLiteral("已使用 1.00 GB"));
    EXPECT_EQ(told(), 1) << "the first tip";
    for (int tick = 1; tick <= 14; ++tick) { // 28 s of ticks with new figures
        now += 2;
        item->setToolTip(QStringLiteral("已使用 1.%1 GB").arg(tick, 2, 10, QLatin1Char('0')));
    }
    EXPECT_EQ(told(), 1);
    EXPECT_EQ(demarshalled<TLSniToolTip>(itemProperty(QStringLiteral("ToolTip"))).text,
              QStringLiteral("已使用 1.14 GB"))
        << "asked, the tip is the current one";
    now += 2; // 30 s after it was told
    item->setToolTip(QStringLiteral("已使用 1.15 GB"));
    EXPECT_EQ(told(), 2);

    // A new title (or picture) takes the tip along at once.
    now += 2;
    item->setTitle(QStringLiteral("43%"));
    item->setToolTip(QStringLiteral("已使用 1.20 GB"));
    EXPECT_EQ(told(), 3);
    now += 2;
    item->setIcon(solidIcon(Qt::green), 7);
    item->setToolTip(QStringLiteral("已使用 1.21 GB"));
    EXPECT_EQ(told(), 4);
    // The same tip again is no change, however late.
    now += 100;
    item->setToolTip(QStringLiteral("已使用 1.21 GB"));
    EXPECT_EQ(told(), 4);
}

// The host's calls: clicks with the position they happened at, the token for the next window;
// calls the item does not know, or with the wrong arguments, change nothing.
TEST_F(StatusNotifierItemTest, HostCallsBecomeClicksWithTheirPosition) {
    item = std::make_unique<TLStatusNotifierItem>(itemBus);
    ASSERT_TRUE(item->isExported());
    QList<TLStatusItem::Button> clicks;
    QObject::connect(item.get(), &TLStatusItem::clicked,
                     [&](TLStatusItem::Button b, bool) { clicks.append(b); });

    EXPECT_EQ(itemCall(QStringLiteral("Activate"), {120, 340}).type(), QDBusMessage::ReplyMessage);
    ASSERT_TRUE(spin([&] { return clicks.size() == 1; }));
    EXPECT_EQ(clicks.last(), TLStatusItem::Button::Left);
    EXPECT_EQ(item->anchor(), QRect(120, 340, 1, 1));

    // Near a screen's edge the click was on a bar, its icon in the middle: the anchor is the bar's
    // band in the click's column, so that the panel opens beyond it.
    itemCall(QStringLiteral("ContextMenu"), {300, 10});
    ASSERT_TRUE(spin([&] { return clicks.size() == 2; }));
    EXPECT_EQ(clicks.last(), TLStatusItem::Button::Right);
    EXPECT_EQ(item->anchor(), QRect(300, 0, 1, 21));

    // A host that knows no position: no anchor, rather than the last click's.
    itemCall(QStringLiteral("Activate"), {0, 0});
    ASSERT_TRUE(spin([&] { return clicks.size() == 3; }));
    EXPECT_TRUE(item->anchor().isEmpty());

    // Ignored: middle clicks, scrolling, wrong arguments, unknown methods.
    itemCall(QStringLiteral("SecondaryActivate"), {5, 5});
    itemCall(QStringLiteral("Scroll"), {120, QStringLiteral("vertical")});
    EXPECT_EQ(itemCall(QStringLiteral("Activate"), {QStringLiteral("x"), 1}).type(),
              QDBusMessage::ErrorMessage);
    EXPECT_EQ(itemCall(QStringLiteral("Activate"), {}).type(), QDBusMessage::ErrorMessage);
    EXPECT_EQ(itemCall(QStringLiteral("Explode"), {}).type(), QDBusMessage::ErrorMessage);
    settle();
    EXPECT_EQ(clicks.size(), 3);

    // On Wayland a position counts only from the desktop's own shell, found by the caller's
    // process name (here this very process, renamed for the call).
    item->setWayland(true);
    itemCall(QStringLiteral("Activate"), {300, 10});
    ASSERT_TRUE(spin([&] { return clicks.size() == 4; }));
    EXPECT_TRUE(item->anchor().isEmpty());
    char name[16] = {};
    prctl(PR_GET_NAME, name);
    prctl(PR_SET_NAME, "plasmashell");
    item.reset(); // a new item: the host is asked about once per connection
    item = std::make_unique<TLStatusNotifierItem>(itemBus);
    item->setWayland(true);
    QObject::connect(item.get(), &TLStatusItem::clicked,
                     [&](TLStatusItem::Button b, bool) { clicks.append(b); });
    itemCall(QStringLiteral("Activate"), {300, 10});
    prctl(PR_SET_NAME, name);
    ASSERT_TRUE(spin([&] { return clicks.size() == 5; }));
    EXPECT_EQ(item->anchor(), QRect(300, 0, 1, 21));

    qunsetenv("XDG_ACTIVATION_TOKEN");
    itemCall(QStringLiteral("ProvideXdgActivationToken"), {QStringLiteral("token-1")});
    EXPECT_EQ(item->activationToken(), QStringLiteral("token-1"));
    EXPECT_EQ(qgetenv("XDG_ACTIVATION_TOKEN"), QByteArray("token-1"));
    // Not a token: kept out of the environment.
    itemCall(QStringLiteral("ProvideXdgActivationToken"), {QStringLiteral("a\nb")});
    EXPECT_EQ(qgetenv("XDG_ACTIVATION_TOKEN"), QByteArray("token-1"));
    qunsetenv("XDG_ACTIVATION_TOKEN");
}

// A host's position is taken where it can know the screen's: everywhere on X11, and on Wayland
// only from the desktop's own shell (a bar that is a client sends positions in its own surface).
TEST(StatusNotifierHosts, OnlyHostsThatKnowTheScreenGiveThePanelsPlace) {
    EXPECT_TRUE(TLHostTellsScreenPosition(QStringLiteral("waybar"), false));
    EXPECT_TRUE(TLHostTellsScreenPosition(QString(), false));
    EXPECT_TRUE(TLHostTellsScreenPosition(QStringLiteral("plasmashell"), true));
    EXPECT_TRUE(TLHostTellsScreenPosition(QStringLiteral("gnome-shell"), true));
    EXPECT_FALSE(TLHostTellsScreenPosition(QStringLiteral("waybar"), true));
    EXPECT_FALSE(TLHostTellsScreenPosition(QString(), true));
}

// --------------------------------------------------------------------------- the exported menu

struct MenuItemView {
    int id = 0;
    QVariantMap properties;
    QList<MenuItemView> children;
};

MenuItemView viewOf(const TLDBusMenuLayoutItem& item) {
    MenuItemView v{item.id, item.properties, {}};
    for (const TLDBusMenuLayoutItem& c : item.children)
        v.children.append(viewOf(c));
    return v;
}

// The item with `label` anywhere in the tree.
const MenuItemView* findLabel(const MenuItemView& v, const QString& label) {
    if (v.properties.value(QStringLiteral("label")).toString() == label) return &v;
    for (const MenuItemView& c : v.children)
        if (const MenuItemView* f = findLabel(c, label)) return f;
    return nullptr;
}

// A menu like the settings menu: rebuilt from its state after every choice, as Tide does.
class ChoiceMenu : public QObject {
public:
    ChoiceMenu() {
        QObject::connect(&menu, &QMenu::aboutToShow, &menu, [this] {
            ++refreshes;
            build();
        });
        build();
    }
    void build() {
        const QList<QMenu*> submenus = menu.findChildren<QMenu*>(Qt::FindDirectChildrenOnly);
        menu.clear();
        qDeleteAll(submenus);
        QMenu* modes = menu.addMenu(QStringLiteral("Mode"));
        for (int i = 0; i < 3; ++i) {
            QAction* a = modes->addAction(QStringLiteral("Mode %1").arg(i));
            a->setCheckable(true);
            a->setChecked(mode == i);
            a->setProperty(TLSingleChoiceProperty, true);
            // Queued, as Tide's: the menu is rebuilt after the action's own signal.
            QObject::connect(
                a, &QAction::triggered, &menu,
                [this, i] {
                    ++choices;
                    mode = i;
                    build();
                },
                Qt::QueuedConnection);
        }
        modes->addSeparator();
        QAction* mono = modes->addAction(QStringLiteral("Mono"));
        mono->setCheckable(true);
        mono->setChecked(true);
        // A group of Qt's own exclusive kind reads as a single choice too.
        QMenu* rows = menu.addMenu(QStringLiteral("Rows"));
        auto* group = new QActionGroup(rows);
        for (int n : {5, 8}) {
            QAction* a = rows->addAction(QStringLiteral("%1 rows").arg(n));
            a->setCheckable(true);
            a->setChecked(n == 8);
            group->addAction(a);
        }
        menu.addSeparator();
        QAction* about = menu.addAction(QStringLiteral("About && _Help"));
        about->setEnabled(false);
        QAction* quit = menu.addAction(QStringLiteral("&Quit"));
        QObject::connect(quit, &QAction::triggered, &menu, [this] { ++quits; });
    }

    QMenu menu;
    int mode = 0;
    int choices = 0;
    int quits = 0;
    int refreshes = 0;
};

class DBusMenuTest : public StatusNotifierItemTest {
protected:
    void SetUp() override {
        StatusNotifierItemTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        exporter = std::make_unique<TLDBusMenuExporter>(itemBus);
        ASSERT_TRUE(exporter->isExported());
        exporter->setMenu(&owner.menu);
        settle(); // the first layout's signal is gone before anyone listens
        layoutUpdated = std::make_unique<SignalCounter>(
            host, itemBus.baseService(), QStringLiteral("/MenuBar"),
            QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("LayoutUpdated"));
        propertiesUpdated = std::make_unique<SignalCounter>(
            host, itemBus.baseService(), QStringLiteral("/MenuBar"),
            QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("ItemsPropertiesUpdated"));
        settle();
    }
    void TearDown() override {
        exporter.reset();
        StatusNotifierItemTest::TearDown();
    }

    QDBusMessage menuCall(const QString& method, const QVariantList& args) {
        return call(host, itemBus.baseService(), QStringLiteral("/MenuBar"),
                    QStringLiteral("com.canonical.dbusmenu"), method, args);
    }
    MenuItemView layout(int parent = 0, int depth = -1) {
        const QDBusMessage reply =
            menuCall(QStringLiteral("GetLayout"), {parent, depth, QStringList()});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        if (reply.arguments().size() != 2) return {};
        revision = reply.arguments().at(0).toUInt();
        return viewOf(demarshalled<TLDBusMenuLayoutItem>(reply.arguments().at(1)));
    }
    QDBusMessage click(int id) {
        return menuCall(QStringLiteral("Event"),
                        {id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
    }

    ChoiceMenu owner;
    std::unique_ptr<TLDBusMenuExporter> exporter;
    std::unique_ptr<SignalCounter> layoutUpdated;
    std::unique_ptr<SignalCounter> propertiesUpdated;
    uint revision = 0;
};

// The whole tree in one answer, with the kinds of items a host draws differently.
TEST_F(DBusMenuTest, LayoutHasSubmenusRadioItemsAndCheckmarks) {
    const MenuItemView root = layout();
    EXPECT_EQ(root.id, 0);
    ASSERT_EQ(root.children.size(), 5);
    const MenuItemView& modes = root.children[0];
    EXPECT_EQ(modes.properties.value(QStringLiteral("children-display")),
              QStringLiteral("submenu"));
    ASSERT_EQ(modes.children.size(), 5);
    for (int i = 0; i < 3; ++i) {
        const QVariantMap& p = modes.children[i].properties;
        EXPECT_EQ(p.value(QStringLiteral("label")), QStringLiteral("Mode %1").arg(i));
        EXPECT_EQ(p.value(QStringLiteral("toggle-type")), QStringLiteral("radio"));
        EXPECT_EQ(p.value(QStringLiteral("toggle-state")), i == 0 ? 1 : 0);
    }
    EXPECT_EQ(modes.children[3].properties.value(QStringLiteral("type")),
              QStringLiteral("separator"));
    EXPECT_EQ(modes.children[4].properties.value(QStringLiteral("toggle-type")),
              QStringLiteral("checkmark"));
    EXPECT_EQ(modes.children[4].properties.value(QStringLiteral("toggle-state")), 1);
    const MenuItemView* eight = findLabel(root, QStringLiteral("8 rows"));
    ASSERT_TRUE(eight);
    EXPECT_EQ(eight->properties.value(QStringLiteral("toggle-type")), QStringLiteral("radio"));
    EXPECT_EQ(root.children[2].properties.value(QStringLiteral("type")),
              QStringLiteral("separator"));
    // Qt's "&&" is a plain '&', a plain '_' doubles, and the mnemonic marker becomes '_'.
    const MenuItemView* about = findLabel(root, QStringLiteral("About & __Help"));
    ASSERT_TRUE(about);
    EXPECT_EQ(about->properties.value(QStringLiteral("enabled")), QVariant(false));
    EXPECT_TRUE(findLabel(root, QStringLiteral("_Quit")));
    // Plain items carry no toggle.
    EXPECT_FALSE(findLabel(root, QStringLiteral("_Quit"))
                     ->properties.contains(QStringLiteral("toggle-type")));

    // A part of the tree, to a depth, and only the properties asked for.
    const MenuItemView shallow = layout(modes.id, 0);
    EXPECT_EQ(shallow.id, modes.id);
    EXPECT_TRUE(shallow.children.isEmpty());
    const QDBusMessage group = menuCall(QStringLiteral("GetGroupProperties"),
                                        {QVariant::fromValue(QList<int>{modes.children[1].id, 999}),
                                         QStringList{QStringLiteral("toggle-state")}});
    ASSERT_EQ(group.type(), QDBusMessage::ReplyMessage);
    const auto items = demarshalled<TLDBusMenuItemList>(group.arguments().value(0));
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items[0].id, modes.children[1].id);
    EXPECT_EQ(items[0].properties, (QVariantMap{{QStringLiteral("toggle-state"), 0}}));

    // Ids that are not in the menu are errors, not crashes.
    EXPECT_EQ(menuCall(QStringLiteral("GetLayout"), {12345, -1, QStringList()}).type(),
              QDBusMessage::ErrorMessage);
    EXPECT_EQ(click(12345).type(), QDBusMessage::ErrorMessage);
    EXPECT_EQ(menuCall(QStringLiteral("AboutToShow"), {-7}).type(), QDBusMessage::ErrorMessage);
}

// A click runs the item's action; the owner's rebuild after a choice is told once, with the
// properties that changed; a rebuild or a refresh that changes nothing is not told.
TEST_F(DBusMenuTest, ChoiceIsToldOnceAndANeedlessRebuildNever) {
    MenuItemView root = layout();
    const uint before = revision;
    const MenuItemView* mode2 = findLabel(root, QStringLiteral("Mode 2"));
    const MenuItemView* mode0 = findLabel(root, QStringLiteral("Mode 0"));
    ASSERT_TRUE(mode2 && mode0);
    const int id0 = mode0->id, id2 = mode2->id;

    EXPECT_EQ(click(id2).type(), QDBusMessage::ReplyMessage);
    ASSERT_TRUE(spin([&] { return owner.choices == 1; }));
    settle();
    EXPECT_EQ(owner.mode, 2);
    EXPECT_EQ(layoutUpdated->count, 1);
    EXPECT_EQ(propertiesUpdated->count, 1);
    const auto updated = demarshalled<TLDBusMenuItemList>(propertiesUpdated->last.value(0));
    QMap<int, QVariantMap> changed;
    for (const TLDBusMenuItem& i : updated)
        changed.insert(i.id, i.properties);
    EXPECT_EQ(changed, (QMap<int, QVariantMap>{{id0, {{QStringLiteral("toggle-state"), 0}}},
                                               {id2, {{QStringLiteral("toggle-state"), 1}}}}));

    // The rebuilt menu keeps its ids; the new actions stand behind them.
    root = layout();
    EXPECT_GT(revision, before);
    EXPECT_EQ(findLabel(root, QStringLiteral("Mode 2"))->id, id2);
    EXPECT_EQ(
        findLabel(root, QStringLiteral("Mode 2"))->properties.value(QStringLiteral("toggle-state")),
        1);

    // The chosen item clicked again stays chosen, and a rebuild to the same state tells nothing.
    click(id2);
    ASSERT_TRUE(spin([&] { return owner.choices == 2; }));
    owner.build();
    settle();
    EXPECT_EQ(layoutUpdated->count, 1);
    EXPECT_EQ(findLabel(layout(), QStringLiteral("Mode 2"))
                  ->properties.value(QStringLiteral("toggle-state")),
              1);

    // About to show: the owner refreshes; only a refresh that changed something needs an update.
    QDBusMessage shown = menuCall(QStringLiteral("AboutToShow"), {0});
    ASSERT_EQ(shown.type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(owner.refreshes, 1);
    EXPECT_EQ(shown.arguments().value(0), QVariant(false));
    owner.mode = 1; // changed elsewhere; shows at the next refresh
    shown = menuCall(QStringLiteral("AboutToShow"), {0});
    EXPECT_EQ(shown.arguments().value(0), QVariant(true));
    settle();
    EXPECT_EQ(layoutUpdated->count, 2);

    // A disabled item does nothing; Quit runs once per click.
    click(findLabel(root, QStringLiteral("About & __Help"))->id);
    click(findLabel(root, QStringLiteral("_Quit"))->id);
    settle();
    EXPECT_EQ(owner.quits, 1);
    EXPECT_EQ(owner.choices, 2);
}

} // namespace

#include "status_notifier_item_test.moc"

// A host that reads a level at a time (Plasma) is told once of each submenu it did not read, so
// that it fills them before they open; a host that reads the whole tree is told nothing.
TEST_F(DBusMenuTest, AHostReadingALevelAtATimeIsToldOfTheSubmenus) {
    const MenuItemView whole = layout(0, -1);
    settle();
    EXPECT_EQ(layoutUpdated->count, 0);
    const MenuItemView top = layout(0, 1);
    ASSERT_EQ(top.children.size(), 5);
    EXPECT_TRUE(top.children[0].children.isEmpty()); // not read: the host fills it later
    ASSERT_TRUE(spin([&] { return layoutUpdated->count == 2; }));
    settle();
    EXPECT_EQ(layoutUpdated->count, 2); // "Mode" and "Rows"; none for the items without a submenu
    EXPECT_EQ(layoutUpdated->last.value(1).toInt(), whole.children[1].id);
    layout(0, 1);
    settle();
    EXPECT_EQ(layoutUpdated->count, 2); // once
}

// GNOME Shell's extension is told apart by the bus: its watcher is the shell's connection. There
// the menu opens on a single click, so it begins with 显示面板 (and a separator), which opens the
// panel at the bar; and the title goes out as the label, the picture leaving the figure out.
// Elsewhere the menu is the settings menu alone and the figure stays in the picture.
TEST_F(StatusNotifierItemTest, InGnomeShellTheMenuOpensThePanelAndTheTitleIsTheLabel) {
    QMenu menu;
    menu.addAction(QStringLiteral("关于潮汐"));
    const auto topLabels = [&] {
        const QDBusMessage reply = call(host, item->serviceName(), QStringLiteral("/MenuBar"),
                                        QStringLiteral("com.canonical.dbusmenu"),
                                        QStringLiteral("GetLayout"), {0, -1, QStringList()});
        QStringList labels;
        if (reply.arguments().size() != 2) return labels;
        const MenuItemView root = viewOf(demarshalled<TLDBusMenuLayoutItem>(reply.arguments()[1]));
        for (const MenuItemView& c : root.children)
            labels << (c.properties.value(QStringLiteral("type")) == QStringLiteral("separator")
                           ? QStringLiteral("-")
                           : c.properties.value(QStringLiteral("label")).toString());
        return labels;
    };

    watcher = std::make_unique<FakeWatcher>(watcherBus);
    ASSERT_TRUE(watcher->ok);
    item = std::make_unique<TLStatusNotifierItem>(itemBus);
    item->setTitle(QStringLiteral("41%"));
    item->setContextMenu(&menu);
    ASSERT_TRUE(spin([&] { return item->isRegistered(); }));
    EXPECT_FALSE(item->hostIsShellExtension());
    EXPECT_FALSE(item->showsTitleAsText());
    EXPECT_EQ(itemProperty(QStringLiteral("XAyatanaLabel")).toString(), QString());
    EXPECT_EQ(topLabels(), QStringList{QStringLiteral("关于潮汐")});

    // The shell takes its name on the watcher's connection, and the item registers again (as it
    // does whenever a watcher starts).
    ASSERT_TRUE(watcherBus.registerService(QStringLiteral("org.gnome.Shell")));
    item.reset();
    item = std::make_unique<TLStatusNotifierItem>(itemBus);
    item->setTitle(QStringLiteral("41%"));
    item->setContextMenu(&menu);
    ASSERT_TRUE(spin([&] { return item->hostIsShellExtension(); }));
    EXPECT_TRUE(item->showsTitleAsText());
    EXPECT_EQ(itemProperty(QStringLiteral("XAyatanaLabel")).toString(), QStringLiteral("41%"));
    const QStringList labels = topLabels();
    EXPECT_EQ(labels, (QStringList{QStringLiteral("显示面板"), QStringLiteral("-"),
                                   QStringLiteral("关于潮汐")}));

    // 显示面板 is a left click whose anchor is the bar's edge in the pointer's column.
    const QDBusMessage layoutReply = call(host, item->serviceName(), QStringLiteral("/MenuBar"),
                                          QStringLiteral("com.canonical.dbusmenu"),
                                          QStringLiteral("GetLayout"), {0, -1, QStringList()});
    ASSERT_EQ(layoutReply.arguments().size(), 2);
    const MenuItemView root =
        viewOf(demarshalled<TLDBusMenuLayoutItem>(layoutReply.arguments()[1]));
    QList<TLStatusItem::Button> clicks;
    QObject::connect(item.get(), &TLStatusItem::clicked,
                     [&](TLStatusItem::Button b, bool) { clicks.append(b); });
    call(
        host, item->serviceName(), QStringLiteral("/MenuBar"),
        QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("Event"),
        {root.children[0].id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
    ASSERT_TRUE(spin([&] { return clicks.size() == 1; }));
    EXPECT_EQ(clicks.first(), TLStatusItem::Button::Left);
    const QRect anchor = item->anchor();
    EXPECT_EQ(anchor.width(), 1);
    EXPECT_TRUE(anchor.top() == 0 || anchor.bottom() == 599) << anchor.y();
}

// The application's own settings menu as a host reads it: the switches are check items with their
// state, 内存压力严重时通知 among them right after 开机时自动启动, and a click on it stores the
// choice, which the next layout shows.
TEST_F(StatusNotifierItemTest, TheSettingsMenuExportsItsSwitchesWithTheirState) {
    AppHarness h;
    TLAppDelegate& app = h.launch();
    TLDBusMenuExporter exporter(itemBus);
    ASSERT_TRUE(exporter.isExported());
    exporter.setMenu(app.statusMenu());
    const auto layout = [&] {
        const QDBusMessage reply = call(host, itemBus.baseService(), QStringLiteral("/MenuBar"),
                                        QStringLiteral("com.canonical.dbusmenu"),
                                        QStringLiteral("GetLayout"), {0, -1, QStringList()});
        EXPECT_EQ(reply.arguments().size(), 2);
        return reply.arguments().size() == 2
                   ? viewOf(demarshalled<TLDBusMenuLayoutItem>(reply.arguments()[1]))
                   : MenuItemView{};
    };
    MenuItemView root = layout();
    QStringList top;
    for (const MenuItemView& c : root.children)
        top << c.properties.value(QStringLiteral("label")).toString();
    const qsizetype login = top.indexOf(QStringLiteral("开机时自动启动"));
    ASSERT_GE(login, 0) << top.join(u'|').toStdString();
    EXPECT_EQ(top.value(login + 1), QStringLiteral("内存压力严重时通知"));
    const MenuItemView* notify = findLabel(root, QStringLiteral("内存压力严重时通知"));
    ASSERT_TRUE(notify);
    EXPECT_EQ(notify->properties.value(QStringLiteral("toggle-type")), QStringLiteral("checkmark"));
    EXPECT_EQ(notify->properties.value(QStringLiteral("toggle-state")), 1);
    EXPECT_EQ(findLabel(root, QStringLiteral("开机时自动启动"))
                  ->properties.value(QStringLiteral("toggle-state")),
              0);

    call(host, itemBus.baseService(), QStringLiteral("/MenuBar"),
         QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("Event"),
         {notify->id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
    ASSERT_TRUE(spin([&] { return !h.prefs->boolForKey(TLNotifyCriticalPressure); }));
    ASSERT_TRUE(spin([&] {
        const auto tree = layout(); // the item found lives in it
        const MenuItemView* after = findLabel(tree, QStringLiteral("内存压力严重时通知"));
        return after && after->properties.value(QStringLiteral("toggle-state")) == 0;
    }));
}
