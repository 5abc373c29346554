#pragma once
#include "platform/TLPsRunner.h"

#include <chrono>
#include <string>
#include <vector>

// Runs the real `ps` (or, in tests, any program) with its standard output on a pipe and its
// standard error on the null device. The child runs in a process group of its own; a run that
// takes longer than `timeout` has the whole group killed and reaped, and keeps what it had read.
class TLPosixPsRunner final : public TLPsRunner {
public:
    TLPosixPsRunner(std::string program, std::vector<std::string> args,
                    std::chrono::milliseconds timeout);
    std::unique_ptr<TLPsRun> start() override;

    // `/bin/ps -axco pid=,rss=,pcpu=,comm=` with a 5-second bound.
    static std::unique_ptr<TLPosixPsRunner> standard();

private:
    std::string _program;
    std::vector<std::string> _args;
    std::chrono::milliseconds _timeout;
};
