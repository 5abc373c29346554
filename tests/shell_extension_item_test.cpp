// Tide's side of its GNOME Shell extension, on a private session bus with the extension played by
// the test: the names that make the button come and go, what the button shows, and its clicks.

#include "platform/linux/tray/TLDBusMenuTypes.h"
#include "platform/linux/tray/TLShellExtensionItem.h"
#include "private_bus.h"

#include <QAction>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QImage>
#include <QMenu>
#include <QPixmap>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <memory>

namespace {

class ShellExtensionItemTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed";
        bus = std::make_unique<PrivateBus>();
        ASSERT_TRUE(bus->running()) << "dbus-daemon gave no address";
        itemBus = bus->connect();
        shell = bus->connect();
        ASSERT_TRUE(itemBus.isConnected() && shell.isConnected());
    }
    void TearDown() override {
        item.reset();
        itemBus = shell = QDBusConnection(QString());
        bus.reset();
    }

    QDBusMessage call(const QString& method, const QVariantList& args) {
        QDBusMessage m = QDBusMessage::createMethodCall(
            QString::fromLatin1(TLShellItemService), QStringLiteral("/StatusItem"),
            QStringLiteral("dev.tide.monitor.StatusItem"), method);
        m.setArguments(args);
        return shell.call(m, QDBus::BlockWithGui, 5000);
    }
    QVariant property(const QString& name) {
        QDBusMessage m = QDBusMessage::createMethodCall(
            QString::fromLatin1(TLShellItemService), QStringLiteral("/StatusItem"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        m << QStringLiteral("dev.tide.monitor.StatusItem") << name;
        const QDBusMessage reply = shell.call(m, QDBus::BlockWithGui, 5000);
        if (reply.arguments().isEmpty()) return {};
        return qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant();
    }
    bool named() {
        const QDBusReply<bool> has =
            shell.interface()->isServiceRegistered(QString::fromLatin1(TLShellItemService));
        return has.isValid() && has.value();
    }

    std::unique_ptr<PrivateBus> bus;
    QDBusConnection itemBus{QString()};
    QDBusConnection shell{QString()};
    std::unique_ptr<TLShellExtensionItem> item;
};

// The item's Changed signals as the extension hears them.
class ChangeCounter : public QObject {
    Q_OBJECT
public:
    explicit ChangeCounter(QDBusConnection bus) {
        bus.connect(QString::fromLatin1(TLShellItemService), QStringLiteral("/StatusItem"),
                    QStringLiteral("dev.tide.monitor.StatusItem"), QStringLiteral("Changed"), this,
                    SLOT(seen(QString, QString, uint)));
    }
    int count = 0;
    QString title, name;
    uint serial = 0;
public slots:
    void seen(const QString& t, const QString& n, uint s) {
        ++count;
        title = t;
        name = n;
        serial = s;
    }
};

QIcon gaugeIcon() {
    QIcon icon;
    for (int size : {16, 32, 64}) {
        QPixmap pixmap(size * 2, size);
        pixmap.fill(Qt::green);
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

// The button is there exactly while the item is: the name comes with it and goes before it, so
// the host switch can never show two icons. What the button shows comes over the bus: one
// Changed carries the changes of one update, none goes out for a repeat, and the picture's serial
// grows only with a new picture.
TEST_F(ShellExtensionItemTest, TheButtonShowsWhatTheItemHoldsWhileItExists) {
    item = std::make_unique<TLShellExtensionItem>(itemBus);
    ASSERT_TRUE(item->isExported());
    EXPECT_TRUE(named());
    EXPECT_TRUE(item->showsTitleAsText());

    ChangeCounter changes(shell);
    settle();
    item->setTitle(QStringLiteral("41%"));
    item->setToolTip(QStringLiteral("已使用 6.6 GB，共 16 GB\n内存压力：正常"));
    item->setIcon(gaugeIcon(), 7);
    ASSERT_TRUE(spin([&] { return changes.count == 1; }));
    EXPECT_EQ(changes.title, QStringLiteral("41%"));
    EXPECT_EQ(changes.name, QStringLiteral("已使用 6.6 GB，共 16 GB\n内存压力：正常"));
    const uint serial = changes.serial;
    item->setTitle(QStringLiteral("41%"));
    item->setIcon(gaugeIcon(), 7); // the same key: the same pixels
    settle();
    EXPECT_EQ(changes.count, 1);
    item->setTitle(QStringLiteral("42%"));
    ASSERT_TRUE(spin([&] { return changes.count == 2; }));
    EXPECT_EQ(changes.serial, serial);
    item->setIcon(gaugeIcon(), 8);
    ASSERT_TRUE(spin([&] { return changes.count == 3; }));
    EXPECT_GT(changes.serial, serial);
    EXPECT_EQ(property(QStringLiteral("PictureSerial")).toUInt(), changes.serial);
    EXPECT_EQ(property(QStringLiteral("Title")).toString(), QStringLiteral("42%"));
    EXPECT_EQ(property(QStringLiteral("AccessibleName")).toString(),
              QStringLiteral("已使用 6.6 GB，共 16 GB\n内存压力：正常"));

    // The picture at the height asked for, as PNG; nonsense heights give nothing or a bounded one.
    const QDBusMessage reply = call(QStringLiteral("Picture"), {32});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage);
    const QImage picture = QImage::fromData(reply.arguments().constFirst().toByteArray(), "PNG");
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.height(), 16); // the gauge is twice as wide as high: fitted into 32 × 32
    EXPECT_EQ(picture.width(), 32);
    EXPECT_TRUE(
        call(QStringLiteral("Picture"), {0}).arguments().constFirst().toByteArray().isEmpty());
    const QImage huge = QImage::fromData(
        call(QStringLiteral("Picture"), {1 << 30}).arguments().constFirst().toByteArray(), "PNG");
    EXPECT_LE(huge.width(), 256);

    item.reset();
    EXPECT_FALSE(named());
}

// A click gives the button's rectangle: the panel and the menu open under it. A rectangle that
// cannot be a button's is no anchor.
TEST_F(ShellExtensionItemTest, ClicksCarryTheButtonsRectangle) {
    item = std::make_unique<TLShellExtensionItem>(itemBus);
    ASSERT_TRUE(item->isExported());
    QList<TLStatusItem::Button> clicks;
    QObject::connect(item.get(), &TLStatusItem::clicked,
                     [&](TLStatusItem::Button b, bool) { clicks.append(b); });
    EXPECT_EQ(call(QStringLiteral("Activate"), {1135, 0, 67, 32}).type(),
              QDBusMessage::ReplyMessage);
    ASSERT_TRUE(spin([&] { return clicks.size() == 1; }));
    EXPECT_EQ(clicks.last(), TLStatusItem::Button::Left);
    EXPECT_EQ(item->anchor(), QRect(1135, 0, 67, 32));

    call(QStringLiteral("ContextMenu"), {1135, 0, 67, 32});
    ASSERT_TRUE(spin([&] { return clicks.size() == 2; }));
    EXPECT_EQ(clicks.last(), TLStatusItem::Button::Right);

    call(QStringLiteral("Activate"), {10, 10, -5, 32});
    ASSERT_TRUE(spin([&] { return clicks.size() == 3; }));
    EXPECT_TRUE(item->anchor().isEmpty());
    EXPECT_EQ(call(QStringLiteral("Activate"), {QStringLiteral("x")}).type(),
              QDBusMessage::ErrorMessage);
}

// The settings menu is on the bus beside the item, where the extension reads it to show it as a
// menu of the shell's own; a click there is a choice in Tide's menu.
TEST_F(ShellExtensionItemTest, TheSettingsMenuIsExportedForTheShellToShow) {
    item = std::make_unique<TLShellExtensionItem>(itemBus);
    ASSERT_TRUE(item->isExported());
    QMenu menu;
    QMenu* rows = menu.addMenu(QStringLiteral("进程列表长度"));
    QAction* twelve = rows->addAction(QStringLiteral("12 个进程"));
    int chosen = 0;
    QObject::connect(twelve, &QAction::triggered, [&] { ++chosen; });
    item->setContextMenu(&menu);

    auto menuCall = [&](const QString& method, const QVariantList& args) {
        QDBusMessage m = QDBusMessage::createMethodCall(
            QString::fromLatin1(TLShellItemService), QString::fromLatin1(TLShellItemMenuPath),
            QStringLiteral("com.canonical.dbusmenu"), method);
        m.setArguments(args);
        return shell.call(m, QDBus::BlockWithGui, 5000);
    };
    const QDBusMessage reply = menuCall(QStringLiteral("GetLayout"), {0, -1, QStringList()});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    ASSERT_EQ(reply.arguments().size(), 2);
    TLDBusMenuLayoutItem root;
    qvariant_cast<QDBusArgument>(reply.arguments().at(1)) >> root;
    ASSERT_EQ(root.children.size(), 1);
    const TLDBusMenuLayoutItem& sub = root.children.constFirst();
    EXPECT_EQ(sub.properties.value(QStringLiteral("label")).toString(),
              QStringLiteral("进程列表长度"));
    ASSERT_EQ(sub.children.size(), 1);
    EXPECT_EQ(sub.children.constFirst().properties.value(QStringLiteral("label")).toString(),
              QStringLiteral("12 个进程"));

    menuCall(QStringLiteral("Event"), {sub.children.constFirst().id, QStringLiteral("clicked"),
                                       QVariant::fromValue(QDBusVariant(0)), 0u});
    ASSERT_TRUE(spin([&] { return chosen == 1; }));

    // The item gone, its menu is gone from the bus too.
    item.reset();
    EXPECT_EQ(menuCall(QStringLiteral("GetLayout"), {0, -1, QStringList()}).type(),
              QDBusMessage::ErrorMessage);
}

// The host switch finds the extension by its name, and hears it come and go.
TEST_F(ShellExtensionItemTest, TheExtensionIsThereWhileItsNameIs) {
    int heard = 0;
    QObject owner;
    TLWatchShellExtension([&] { ++heard; }, &owner, itemBus);
    EXPECT_FALSE(TLShellExtensionPresent(itemBus));
    ASSERT_TRUE(shell.registerService(QString::fromLatin1(TLShellExtensionService)));
    ASSERT_TRUE(spin([&] { return heard == 1; }));
    EXPECT_TRUE(TLShellExtensionPresent(itemBus));
    shell.unregisterService(QString::fromLatin1(TLShellExtensionService));
    ASSERT_TRUE(spin([&] { return heard == 2; }));
    EXPECT_FALSE(TLShellExtensionPresent(itemBus));
}

#include "shell_extension_item_test.moc"
