#include "alloc_counter.h"
#include "sampling/TLMetrics.h"

#include <gtest/gtest.h>

#include <string>

// The system sample runs on the main thread every second: it must not touch the heap.
TEST(SystemSampleAllocations, NoneOverManyCalls) {
    if (!TLAllocCounter::available())
        GTEST_SKIP() << "allocations are not counted under a sanitizer";
    TLMetrics& m = TLMetrics::shared();
    m.sampleSystem(); // the first call may set up lazily-created state

    // The counter itself must see allocations, or the zero below proves nothing.
    TLAllocCounter::start();
    std::string* s = new std::string(100, 'x');
    delete s;
    EXPECT_GE(TLAllocCounter::stop(), 1u);

    TLAllocCounter::start();
    double sink = 0;
    for (int i = 0; i < 2000; ++i)
        sink += m.sampleSystem().usagePercent;
    const size_t allocations = TLAllocCounter::stop();
    EXPECT_EQ(allocations, 0u);
    EXPECT_GT(sink, 0.0);
}
