#include "panel/TLProcRanking.h"

#include <algorithm>
#include <cmath>
#include <limits>

double TLProcRankKey(const TLProc& p, bool memoryTab) {
    if (memoryTab) return static_cast<double>(p.memory);
    return std::isnan(p.energy) ? -std::numeric_limits<double>::infinity() : p.energy;
}

TLProcRanking TLRankProcs(const std::vector<TLProc>& procs, bool memoryTab) {
    TLProcRanking ranking;
    std::vector<const TLProc*>& sorted = ranking.order;
    sorted.reserve(procs.size());
    for (const TLProc& p : procs)
        sorted.push_back(&p);
    std::stable_sort(sorted.begin(), sorted.end(), [memoryTab](const TLProc* a, const TLProc* b) {
        return TLProcRankKey(*a, memoryTab) > TLProcRankKey(*b, memoryTab);
    });

    if (!sorted.empty()) {
        const double top = TLProcRankKey(*sorted.front(), memoryTab);
        if (memoryTab ? top != 0 : top > 0) ranking.scale = top;
    }
    return ranking;
}
