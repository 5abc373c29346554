#pragma once
#include <cstddef>

// The limit on open files. Desktop sessions give programs a soft limit of 1024 and a hard limit
// far above it: the soft one protects old programs that wait on descriptors with select(), which
// cannot see those numbered 1024 or more. The process sample keeps a file open for each process
// and thread it reads (see TLProcfsProcessSource), so on a machine with thousands of threads it
// needs more; its kept files are placed at 1024 and above, out of select()'s way.
//
// TLRaiseDescriptorLimit lifts the soft limit to `wanted`, or to the hard limit when that is
// lower, and never lowers it. Programs Tide starts get the soft limit it was started with: each
// start happens inside a TLChildDescriptorLimit, which puts that limit back for its lifetime
// (starting a program copies the limit it finds). Opening a file meanwhile still succeeds, as the
// lowest free number is the one given out; only a kept file may then be placed below 1024.

// The soft limit needed for the most files the process sample keeps, with room for the rest.
inline constexpr size_t kTLWantedDescriptorLimit = 1024 + 2 * 16384;

// Raises the soft limit; returns the soft limit in force afterwards (0 when it cannot be read).
size_t TLRaiseDescriptorLimit(size_t wanted = kTLWantedDescriptorLimit);

// The soft limit as found before TLRaiseDescriptorLimit raised it, for the programs started in
// this scope. Scopes on several threads at once share one lowering.
class TLChildDescriptorLimit {
public:
    TLChildDescriptorLimit();
    ~TLChildDescriptorLimit();
    TLChildDescriptorLimit(const TLChildDescriptorLimit&) = delete;
    TLChildDescriptorLimit& operator=(const TLChildDescriptorLimit&) = delete;
};
