#include "panel/TLProcRanking.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

TLProc proc(int32_t pid, uint64_t memory, double energy) {
    TLProc p;
    p.pid = pid;
    p.name = "p";
    p.memory = memory;
    p.energy = energy;
    return p;
}

std::vector<int32_t> pids(const TLProcRanking& ranking) {
    std::vector<int32_t> out;
    for (const TLProc* p : ranking.order)
        out.push_back(p->pid);
    return out;
}

} // namespace

// Many equal keys: an unstable sort would reorder them, and the list would shuffle between two
// samples that did not change.
TEST(ProcRanking, EqualKeysKeepTheSampleOrderOnBothTabs) {
    std::vector<TLProc> procs;
    for (int32_t i = 0; i < 40; ++i)
        procs.push_back(proc(i, i % 2 ? 5 : 7, i % 2 ? 1.5 : 3.0));
    std::vector<int32_t> expected;
    for (int32_t i = 0; i < 40; i += 2)
        expected.push_back(i);
    for (int32_t i = 1; i < 40; i += 2)
        expected.push_back(i);
    EXPECT_EQ(pids(TLRankProcs(procs, true)), expected);
    EXPECT_EQ(pids(TLRankProcs(procs, false)), expected);
}

TEST(ProcRanking, OrderPointsIntoTheSampleAndScalesByTheTopKey) {
    const std::vector<TLProc> procs = {proc(1, 100, 2.0), proc(2, 400, kNaN), proc(3, 200, 8.0)};
    const TLProcRanking memory = TLRankProcs(procs, true);
    ASSERT_EQ(pids(memory), (std::vector<int32_t>{2, 3, 1}));
    EXPECT_EQ(memory.order[0], &procs[1]);
    EXPECT_EQ(memory.scale, 400.0);

    // Energy that is not a number ranks last and does not set the scale.
    const TLProcRanking energy = TLRankProcs(procs, false);
    EXPECT_EQ(pids(energy), (std::vector<int32_t>{3, 1, 2}));
    EXPECT_EQ(energy.scale, 8.0);
    EXPECT_EQ(TLProcRankKey(procs[1], false), -std::numeric_limits<double>::infinity());
}

TEST(ProcRanking, ATopKeyThatCannotScaleScalesByOne) {
    const std::vector<TLProc> none;
    EXPECT_TRUE(TLRankProcs(none, false).order.empty());
    EXPECT_EQ(TLRankProcs(none, true).scale, 1.0);
    const std::vector<TLProc> idle = {proc(1, 0, 0), proc(2, 0, 0)};
    EXPECT_EQ(TLRankProcs(idle, true).scale, 1.0);
    // Energy: a top of 0 or below leaves the bars unscaled (not a number ranks below it).
    for (double first : {0.0, -2.0, kNaN}) {
        const std::vector<TLProc> procs = {proc(1, 0, first), proc(2, 0, -3.0)};
        const TLProcRanking ranking = TLRankProcs(procs, false);
        EXPECT_EQ(ranking.scale, 1.0) << first;
        EXPECT_EQ(ranking.order[0]->pid, std::isnan(first) ? 2 : 1) << first;
    }
}
