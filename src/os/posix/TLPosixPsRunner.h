#pragma once
#include "os/TLPsRunner.h"

#include <chrono>
#include <string>
#include <vector>

// Runs the real `ps` (or, in tests, any program) with its standard output on a pipe and its
// standard error on the null device. The child runs in a process group of its own; a run that
// takes longer than `timeout` has the whole group killed and reaped, and keeps what it had read.
// Output is bounded: past `maxBytes` the rest, and the line it cuts, is dropped and the tool is
// stopped the same way.
class TLPosixPsRunner final : public TLPsRunner {
public:
    // 16 MiB: some 200,000 lines of ps, several times the processes of a very busy machine.
    static constexpr size_t kDefaultMaxBytes = size_t{16} << 20;

    TLPosixPsRunner(std::string program, std::vector<std::string> args,
                    std::chrono::milliseconds timeout, size_t maxBytes = kDefaultMaxBytes);
    std::unique_ptr<TLPsRun> start() override;

    // `/bin/ps -axco pid=,rss=,pcpu=,comm=` with a 5-second bound.
    static std::unique_ptr<TLPosixPsRunner> standard();

private:
    std::string _program;
    std::vector<std::string> _args;
    std::chrono::milliseconds _timeout;
    size_t _maxBytes;
};
