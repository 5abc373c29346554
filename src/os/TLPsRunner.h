#pragma once
#include <memory>
#include <string>

// One run of `ps`, started before the per-process scan and collected after it, so that the two
// overlap. `finish` blocks until the tool exits (or is stopped for taking too long) and returns
// every byte it wrote to standard output up to then.
class TLPsRun {
public:
    virtual ~TLPsRun() = default;
    virtual std::string finish() = 0;
};

class TLPsRunner {
public:
    virtual ~TLPsRunner() = default;
    // Starts the tool; null when it cannot be launched.
    virtual std::unique_ptr<TLPsRun> start() = 0;
};

// Ends every tool started by the runners of this process at once, and makes later starts fail:
// quitting must not wait for a hanging tool. Thread-safe.
void TLStopPsRuns();
