// The tray bar's colours: looked for rarely (each look is a round trip), and again at once when the
// desktop tells of new colours.
#include "app/TLTrayAppearanceCheck.h"
#include "platform/TLDesktopColors.h"
#include "private_bus.h"

#include <QDBusMessage>
#include <QDBusVariant>
#include <gtest/gtest.h>

TEST(TrayAppearanceCheck, TheBarIsLookedAtRarelyAndAgainWhenTheDesktopSaysSo) {
    double now = 1000;
    int grabs = 0, declaredReads = 0;
    QColor bar; // no place in a tray yet: nothing to read
    std::optional<TLAppearance> declared = TLAppearance::Dark;
    TLTrayAppearanceCheck check(
        [&] {
            ++grabs;
            return bar;
        },
        [&] {
            ++declaredReads;
            return declared;
        },
        [&] { return now; });
    EXPECT_EQ(declaredReads, 1);

    // Until the bar has been read, it is tried at every call; the declared colours keep their
    // pace.
    EXPECT_EQ(check(), TLAppearance::Dark);
    now += 2;
    EXPECT_EQ(check(), TLAppearance::Dark);
    EXPECT_EQ(grabs, 2);
    EXPECT_EQ(declaredReads, 1);

    // Read once, the bar is not looked at again for minutes.
    bar = QColor(240, 240, 240);
    now += 2;
    EXPECT_EQ(check(), TLAppearance::Light);
    bar = QColor(20, 20, 20);
    for (int tick = 0; tick < 140; ++tick) {
        now += 2;
        EXPECT_EQ(check(), TLAppearance::Light);
    }
    EXPECT_EQ(grabs, 3);
    now += 20;
    EXPECT_EQ(check(), TLAppearance::Dark);
    EXPECT_EQ(grabs, 4);

    // The desktop tells of new colours: the next call looks at once.
    bar = QColor(250, 250, 250);
    check.recheck();
    now += 2;
    EXPECT_EQ(check(), TLAppearance::Light);
    EXPECT_EQ(grabs, 5);
    now += 2;
    check();
    EXPECT_EQ(grabs, 5);

    // A host whose pixels cannot be read (a StatusNotifierItem host): the declared colours,
    // read again after the desktop told of a change, not at every tick.
    TLTrayAppearanceCheck declaredOnly([] { return QColor(); },
                                       [&] {
                                           ++declaredReads;
                                           return declared;
                                       },
                                       [&] { return now; });
    const int before = declaredReads;
    for (int tick = 0; tick < 100; ++tick) {
        now += 2;
        EXPECT_EQ(declaredOnly(), TLAppearance::Dark);
    }
    EXPECT_EQ(declaredReads, before);
    declared = TLAppearance::Light;
    declaredOnly.recheck();
    EXPECT_EQ(declaredOnly(), TLAppearance::Light);
    EXPECT_EQ(declaredReads, before + 1);
}

TEST(DesktopColorWatch, ThePortalsSettingChangedIsHandedOn) {
    PrivateBus bus;
    if (!bus.running()) GTEST_SKIP() << "no dbus-daemon to run a private session bus";
    QDBusConnection portal = bus.connect();
    ASSERT_TRUE(portal.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
    QDBusConnection tide = bus.connect();
    QObject context;
    int told = 0;
    TLWatchDesktopColors(
        &context, [&] { ++told; }, tide.name());
    settle();

    auto emitChange = [](QDBusConnection& from, const QString& nameSpace) {
        QDBusMessage signal = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("SettingChanged"));
        signal << nameSpace << QStringLiteral("color-scheme")
               << QVariant::fromValue(QDBusVariant(QVariant::fromValue(1u)));
        from.send(signal);
    };
    emitChange(portal, QStringLiteral("org.freedesktop.appearance"));
    EXPECT_TRUE(spin([&] { return told == 1; }));

    // The same signal from anyone but the portal is not the desktop's word.
    QDBusConnection stranger = bus.connect();
    emitChange(stranger, QStringLiteral("org.freedesktop.appearance"));
    settle();
    EXPECT_EQ(told, 1);

    // Gone with its context.
    QObject* ended = new QObject;
    int toldEnded = 0;
    TLWatchDesktopColors(
        ended, [&] { ++toldEnded; }, tide.name());
    settle();
    delete ended;
    emitChange(portal, QStringLiteral("org.freedesktop.appearance"));
    EXPECT_TRUE(spin([&] { return told == 2; }));
    EXPECT_EQ(toldEnded, 0);
}
