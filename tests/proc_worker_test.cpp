// The process worker as the program runs it: the real serial queue, the real engine on /proc and
// a real ps run, samples taken off the main thread and handed back to it in order. Also the run
// that scripts/tsan checks under ThreadSanitizer.

#include "os/linux/TLProcfsProcessSource.h"
#include "os/posix/TLPosixPsRunner.h"
#include "platform/TLSerialQueue.h"
#include "sampling/TLMetrics.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <memory>
#include <vector>

TEST(ProcessWorker, SamplesOffTheMainThreadAndHandsThemBackInOrder) {
    constexpr int kJobs = 12;
    auto metrics = std::make_shared<TLMetrics>(
        nullptr, std::make_unique<TLProcfsProcessSource>(),
        std::make_unique<TLPosixPsRunner>("/bin/echo", std::vector<std::string>{"1 4 0.5 init"},
                                          std::chrono::seconds(20)));
    QThread* const mainThread = QCoreApplication::instance()->thread();
    std::atomic<int> offMain{0};
    std::vector<int> order;
    std::vector<size_t> sizes;
    bool doneOnMain = true;
    bool selfListed = true;
    {
        auto queue = TLMakeSerialQueue(QStringLiteral("dev.tide.test.proc"));
        for (int i = 0; i < kJobs; ++i) {
            auto result = std::make_shared<std::vector<TLProc>>();
            queue->async(
                [&offMain, mainThread, metrics, result] {
                    if (QThread::currentThread() != mainThread) ++offMain;
                    *result = metrics->sampleProcesses();
                },
                [&, i, result] {
                    doneOnMain = doneOnMain && QThread::currentThread() == mainThread;
                    order.push_back(i);
                    sizes.push_back(result->size());
                    bool self = false;
                    for (const TLProc& p : *result)
                        self = self || p.pid == ::getpid();
                    selfListed = selfListed && self;
                });
        }
        QElapsedTimer t;
        t.start();
        while (order.size() < kJobs && t.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    } // the queue's worker ends here
    ASSERT_EQ(order.size(), static_cast<size_t>(kJobs));
    for (int i = 0; i < kJobs; ++i)
        EXPECT_EQ(order[static_cast<size_t>(i)], i);
    EXPECT_EQ(offMain.load(), kJobs);
    EXPECT_TRUE(doneOnMain);
    EXPECT_TRUE(selfListed);
}
