#include "os/TLDescriptorLimit.h"
#include "os/linux/TLProcfsProcessSource.h"
#include "os/posix/TLPosixPsRunner.h"
#include "sampling/TLMetrics.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace {

// Writes an executable shell script standing in for ps.
std::string fakePs(const QTemporaryDir& dir, const std::string& body) {
    const std::string path = dir.path().toStdString() + "/fake-ps";
    std::ofstream(path) << "#!/bin/sh\n" << body;
    ::chmod(path.c_str(), 0755);
    return path;
}

int readPid(const std::string& path) {
    int pid = 0;
    std::ifstream(path) >> pid;
    return pid;
}

// Running, as opposed to gone or a zombie waiting for its parent (here or init) to reap it.
bool alive(int pid) {
    if (pid <= 0 || ::kill(pid, 0) != 0) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    return close == std::string::npos || line.substr(close + 2, 1) != "Z";
}

} // namespace

TEST(PsRunner, PassesArgumentsAndReadsEverything) {
    QTemporaryDir dir;
    // Echoes its arguments, then enough output to overflow a pipe buffer.
    const std::string ps = fakePs(dir, "echo \"args:$*\"\n"
                                       "i=0; while [ $i -lt 3000 ]; do echo \"$i 4 0.1 proc $i\"; "
                                       "i=$((i+1)); done\n"
                                       "echo oops >&2\n");
    TLPosixPsRunner runner(ps, {"-axco", "pid=,rss=,pcpu=,comm="}, std::chrono::seconds(20));
    auto run = runner.start();
    ASSERT_NE(run, nullptr);
    const std::string out = run->finish();
    EXPECT_EQ(out.rfind("args:-axco pid=,rss=,pcpu=,comm=\n", 0), 0u);
    EXPECT_NE(out.find("2999 4 0.1 proc 2999\n"), std::string::npos);
    EXPECT_EQ(out.find("oops"), std::string::npos); // standard error is not ours
}

TEST(PsRunner, AToolThatNeverExitsIsStoppedAndWhatItPrintedIsKept) {
    QTemporaryDir dir;
    const std::string pidFile = dir.path().toStdString() + "/pid";
    const std::string childFile = dir.path().toStdString() + "/child";
    // Prints two lines, starts a child that keeps the pipe open, then hangs.
    const std::string ps = fakePs(dir, "echo \"$$\" > " + pidFile +
                                           "\n"
                                           "echo '11 8 1.5 first'\n"
                                           "echo '12 8 2.5 second'\n"
                                           "sleep 1000 & echo \"$!\" > " +
                                           childFile +
                                           "\n"
                                           "while :; do sleep 1; done\n");
    TLPosixPsRunner runner(ps, {}, std::chrono::milliseconds(400));
    const auto started = std::chrono::steady_clock::now();
    auto run = runner.start();
    ASSERT_NE(run, nullptr);
    const std::string out = run->finish();
    // Bounded: far below the tool's own 1000 s (a loose bound, not a performance figure).
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    EXPECT_EQ(out, "11 8 1.5 first\n12 8 2.5 second\n");
    // The tool and the child it started are gone (killed as a group and reaped).
    EXPECT_FALSE(alive(readPid(pidFile)));
    const int child = readPid(childFile);
    for (int i = 0; i < 200 && alive(child); ++i)
        ::usleep(5000); // death is not instant
    EXPECT_FALSE(alive(child));
}

TEST(PsRunner, AMissingToolIsALaunchFailure) {
    TLPosixPsRunner runner("/nonexistent/ps", {}, std::chrono::seconds(1));
    EXPECT_EQ(runner.start(), nullptr);
}

// The engine on the real /proc with a ps that hangs: the sample still completes and holds the
// processes /proc can show.
TEST(PsRunner, AHangingPsDoesNotBlockTheProcessSample) {
    QTemporaryDir dir;
    const std::string ps = fakePs(dir, "echo '1 1 0.0 x'\nexec sleep 1000\n");
    TLMetrics m(nullptr, std::make_unique<TLProcfsProcessSource>(),
                std::make_unique<TLPosixPsRunner>(ps, std::vector<std::string>{},
                                                  std::chrono::milliseconds(300)));
    const auto procs = m.sampleProcesses();
    bool self = false;
    for (const TLProc& p : procs)
        self = self || p.pid == ::getpid();
    EXPECT_TRUE(self);
}

// A tool that prints without end is read up to the bound, cut at the last whole line and stopped;
// one endless half-written line gives nothing.
TEST(PsRunner, OutputIsBoundedAndTheRunawayToolStopped) {
    QTemporaryDir dir;
    const std::string pidFile = dir.path().toStdString() + "/pid";
    const std::string ps = fakePs(dir, "echo \"$$\" > " + pidFile + "\nexec yes '1 1 0.0 spam'\n");
    TLPosixPsRunner runner(ps, {}, std::chrono::seconds(60));
    auto run = runner.start();
    ASSERT_NE(run, nullptr);
    const std::string out = run->finish();
    EXPECT_LE(out.size(), TLPosixPsRunner::kDefaultMaxBytes);
    EXPECT_GT(out.size(), TLPosixPsRunner::kDefaultMaxBytes / 2);
    EXPECT_EQ(out.substr(out.size() - 13), "1 1 0.0 spam\n");
    EXPECT_FALSE(alive(readPid(pidFile)));

    const std::string half =
        fakePs(dir, "printf '1 2 0.0 '\nexec tr '\\0' x < /dev/zero\n"); // a name without end
    TLPosixPsRunner halfRunner(half, {}, std::chrono::seconds(60), 1 << 20);
    auto halfRun = halfRunner.start();
    ASSERT_NE(halfRun, nullptr);
    EXPECT_EQ(halfRun->finish(), "");
}

// Quitting ends a hanging tool at once instead of waiting for its deadline, and starts no other.
// This stops every runner of the process for good, so it is the last test here.
TEST(PsRunner, StoppingEndsRunningToolsAtOnce) {
    QTemporaryDir dir;
    const std::string pidFile = dir.path().toStdString() + "/pid";
    const std::string ps =
        fakePs(dir, "echo \"$$\" > " + pidFile + "\necho '7 1 0.0 hung'\nexec sleep 1000\n");
    TLPosixPsRunner runner(ps, {}, std::chrono::seconds(120));
    auto run = runner.start();
    ASSERT_NE(run, nullptr);
    const auto started = std::chrono::steady_clock::now();
    std::thread quitter([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        TLStopPsRuns();
    });
    const std::string out = run->finish();
    quitter.join();
    // Far below the 120-s deadline (a loose bound, not a performance figure).
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
    EXPECT_EQ(out, "7 1 0.0 hung\n");
    EXPECT_FALSE(alive(readPid(pidFile)));
    EXPECT_EQ(runner.start(), nullptr);
}

// Tide raises its own limit on open files for the process sample's kept files; the programs it
// starts get the limit it was started with. Run in a child process, whose limits are its own.
TEST(DescriptorLimit, RaisedForTideAndAsFoundForTheProgramsItStarts) {
    QTemporaryDir dir;
    [[maybe_unused]] const std::string tool = fakePs(dir, "ulimit -Sn\n");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Exit codes name the step that failed.
        rlimit files{1024, 8192};
        if (::setrlimit(RLIMIT_NOFILE, &files) != 0) ::_exit(10);
        if (TLRaiseDescriptorLimit(4096) != 4096) ::_exit(11);
        if (TLRaiseDescriptorLimit(100000) != 8192) ::_exit(12); // up to the hard limit only
        if (TLRaiseDescriptorLimit(2048) != 8192) ::_exit(13);   // never lowered
#if defined(__SANITIZE_THREAD__)
        // ThreadSanitizer starts neither threads nor programs in a child forked from a process
        // with threads (the ps runner does both): a process forked inside the scope in which
        // the runner starts its program reads the limit it would get.
        pid_t started = 0;
        {
            const TLChildDescriptorLimit childLimit;
            started = ::fork();
            if (started == 0) {
                rlimit own{};
                ::_exit(::getrlimit(RLIMIT_NOFILE, &own) == 0 && own.rlim_cur == 1024 ? 0 : 1);
            }
        }
        int startedStatus = 0;
        if (started < 0 || ::waitpid(started, &startedStatus, 0) != started) ::_exit(14);
        if (!WIFEXITED(startedStatus) || WEXITSTATUS(startedStatus) != 0) ::_exit(15);
#else
        TLPosixPsRunner runner(tool, {}, std::chrono::seconds(20));
        auto run = runner.start();
        if (!run) ::_exit(14);
        if (run->finish() != "1024\n") ::_exit(15);
#endif
        if (::getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur != 8192) ::_exit(16);
        {
            const TLChildDescriptorLimit outer;
            const TLChildDescriptorLimit inner; // another thread starting a program meanwhile
            if (TLRaiseDescriptorLimit(8192) != 1024) ::_exit(17); // not while one starts
        }
        if (::getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur != 8192) ::_exit(18);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
