#include "platform/TLSingleInstance.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>

namespace {
QString uniqueId() {
    return QStringLiteral("dev.tide.test.%1.%2")
        .arg(QCoreApplication::applicationPid())
        .arg(QDateTime::currentMSecsSinceEpoch());
}
} // namespace

// A running copy on its own thread is asked to quit by a new one, which then holds the name.
TEST(SingleInstance, ANewCopyReplacesTheRunningOne) {
    const QString id = uniqueId();
    QThread oldThread;
    auto* old = new TLSingleInstance(id);
    std::atomic<bool> oldListening{false};
    std::atomic<bool> quitAsked{false};
    old->moveToThread(&oldThread);
    QObject::connect(old, &TLSingleInstance::quitRequested, old, [&] { quitAsked = true; });
    QObject::connect(&oldThread, &QThread::finished, old, &QObject::deleteLater);
    oldThread.start();
    QMetaObject::invokeMethod(
        old,
        [&] {
            old->start();
            oldListening = old->isListening();
        },
        Qt::BlockingQueuedConnection);
    ASSERT_TRUE(oldListening);

    TLSingleInstance fresh(id);
    fresh.start();
    EXPECT_TRUE(quitAsked);
    EXPECT_TRUE(fresh.isListening());
    oldThread.quit();
    oldThread.wait();
}

// Nothing running, and nothing left over from a copy that died: the first start listens at once.
TEST(SingleInstance, FirstStartListensAtOnce) {
    const QString id = uniqueId();
    {
        TLSingleInstance crashed(id);
        crashed.start();
        ASSERT_TRUE(crashed.isListening());
    } // gone without any goodbye, as after a crash
    TLSingleInstance next(id);
    next.start();
    EXPECT_TRUE(next.isListening());
}
