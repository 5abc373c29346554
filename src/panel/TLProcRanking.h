#pragma once
#include "sampling/TLProc.h"

#include <vector>

// The order of the process list: by memory on the memory tab, by energy on the energy tab,
// largest first. Processes with equal keys keep the order of the sample.
struct TLProcRanking {
    std::vector<const TLProc*> order; // into the sample ranked
    // What a row's bar divides its key by: the top key, or 1 when the top key is 0 (memory) or
    // not above 0 (energy), so that the top row's bar is full and no bar divides by zero.
    double scale = 1.0;
};

// The key a process is ranked by: its memory, or its energy, where energy that is not a number
// counts as minus infinity and so sorts last instead of breaking the ordering.
double TLProcRankKey(const TLProc& proc, bool memoryTab);

// Ranks `procs`, which must outlive the result.
TLProcRanking TLRankProcs(const std::vector<TLProc>& procs, bool memoryTab);
