#include "os/posix/TLPosixPsRunner.h"

#include "os/TLDescriptorLimit.h"
#include "os/posix/TLFd.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// The child's environment: ours, with numbers in the C locale so that the CPU column always uses
// a decimal point, while the character set stays the user's (process names keep their letters).
std::vector<std::string> childEnvironment() {
    std::vector<std::string> env;
    const char* all = std::getenv("LC_ALL");
    for (char** e = environ; e && *e; ++e) {
        if (std::strncmp(*e, "LC_ALL=", 7) == 0 || std::strncmp(*e, "LC_NUMERIC=", 11) == 0)
            continue;
        if (all && *all && std::strncmp(*e, "LC_CTYPE=", 9) == 0) continue;
        env.emplace_back(*e);
    }
    if (all && *all) env.push_back(std::string("LC_CTYPE=") + all);
    env.emplace_back("LC_NUMERIC=C");
    return env;
}

// The children running now, so that quitting can end them at once. A child stays listed until just
// before it is reaped, so its pid cannot have passed to another process while it is listed.
struct Running {
    std::mutex mutex;
    std::set<pid_t> pids;
    bool stopped = false;
};
Running& running() {
    static Running* r = new Running; // never destroyed: workers may outlive main()
    return *r;
}

void killGroup(pid_t pid) {
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
}

// One child process with its output pipe. The destructor makes sure the child is gone and reaped
// and the reader thread has ended, whatever happened before.
class PosixPsRun final : public TLPsRun {
public:
    PosixPsRun(pid_t pid, TLFd out, Clock::time_point deadline, size_t maxBytes)
        : _pid(pid), _out(std::move(out)), _deadline(deadline), _maxBytes(maxBytes) {
        _reader = std::thread([this] { drain(); });
    }
    ~PosixPsRun() override {
        if (_reader.joinable()) _reader.join();
    }

    std::string finish() override {
        if (_reader.joinable()) _reader.join();
        return std::move(_data);
    }

private:
    int msLeft() const {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(_deadline - Clock::now());
        return left.count() < 0 ? 0 : static_cast<int>(left.count());
    }

    void drain() {
        char buf[16384];
        bool timedOut = false;
        for (;;) {
            pollfd p{_out.get(), POLLIN, 0};
            const int ready = ::poll(&p, 1, msLeft());
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) {
                timedOut = true;
                break;
            }
            const ssize_t n = ::read(_out.get(), buf, sizeof buf);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) break; // end of file, or an error: keep what was read
            const size_t room = _maxBytes - _data.size();
            _data.append(buf, std::min(static_cast<size_t>(n), room));
            if (static_cast<size_t>(n) >= room) {
                // A tool that prints without end: what is over the bound is dropped, with the
                // line it cut, and the tool is stopped.
                const size_t nl = _data.rfind('\n');
                _data.resize(nl == std::string::npos ? 0 : nl + 1);
                timedOut = true;
                break;
            }
        }
        _out.reset();
        // Wait for the exit until the deadline; then stop the whole group. A pidfd becomes
        // readable the moment the child exits; without one (older kernels), poll every 1 ms. The
        // child is only looked at here, not reaped, until it has left the list of running ones.
        bool exited = false;
        if (!timedOut) {
#if defined(__linux__)
            TLFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, _pid, 0)));
#else
            TLFd pidfd; // no pidfd on macOS: poll every millisecond
#endif
            for (;;) {
                siginfo_t info{};
                const int r =
                    ::waitid(P_PID, static_cast<id_t>(_pid), &info, WEXITED | WNOHANG | WNOWAIT);
                if (r < 0 && errno == EINTR) continue;
                if (r < 0 || info.si_pid == _pid) {
                    exited = true;
                    break;
                }
                if (msLeft() == 0) break;
                if (pidfd.valid()) {
                    pollfd p{pidfd.get(), POLLIN, 0};
                    ::poll(&p, 1, msLeft());
                } else {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            }
        }
        {
            std::lock_guard lock(running().mutex);
            running().pids.erase(_pid);
        }
        if (!exited) killGroup(_pid);
        int status = 0;
        while (::waitpid(_pid, &status, 0) < 0 && errno == EINTR) {
        }
    }

    pid_t _pid;
    TLFd _out;
    Clock::time_point _deadline;
    size_t _maxBytes;
    std::string _data;
    std::thread _reader;
};

// posix_spawn's attribute and file-action objects, destroyed on every path.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    bool ok = false;
    SpawnSetup() {
        ok = posix_spawn_file_actions_init(&actions) == 0;
        if (ok && posix_spawnattr_init(&attr) != 0) {
            posix_spawn_file_actions_destroy(&actions);
            ok = false;
        }
    }
    ~SpawnSetup() {
        if (!ok) return;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
};

} // namespace

TLPosixPsRunner::TLPosixPsRunner(std::string program, std::vector<std::string> args,
                                 std::chrono::milliseconds timeout, size_t maxBytes)
    : _program(std::move(program)), _args(std::move(args)), _timeout(timeout), _maxBytes(maxBytes) {
}

std::unique_ptr<TLPosixPsRunner> TLPosixPsRunner::standard() {
    return std::make_unique<TLPosixPsRunner>(
        "/bin/ps", std::vector<std::string>{"-axco", "pid=,rss=,pcpu=,comm="},
        std::chrono::seconds(5));
}

std::unique_ptr<TLPsRun> TLPosixPsRunner::start() {
    int fds[2];
#if defined(__linux__)
    if (::pipe2(fds, O_CLOEXEC) != 0) return nullptr;
    TLFd readEnd(fds[0]);
    TLFd writeEnd(fds[1]);
#else
    // No pipe2 on macOS: the flags follow at once (this process starts nothing in between on the
    // process queue, and the application starts no programs of its own elsewhere).
    if (::pipe(fds) != 0) return nullptr;
    TLFd readEnd(fds[0]);
    TLFd writeEnd(fds[1]);
    if (::fcntl(fds[0], F_SETFD, FD_CLOEXEC) != 0 || ::fcntl(fds[1], F_SETFD, FD_CLOEXEC) != 0)
        return nullptr;
#endif

    SpawnSetup setup;
    if (!setup.ok) return nullptr;
    if (posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0) != 0 ||
        posix_spawn_file_actions_adddup2(&setup.actions, writeEnd.get(), 1) != 0 ||
        posix_spawn_file_actions_addopen(&setup.actions, 2, "/dev/null", O_WRONLY, 0) != 0)
        return nullptr;
    // A group of its own, so that a stuck child and anything it started can be stopped together;
    // default signal handling whatever the parent ignores or blocks.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setpgroup(&setup.attr, 0);
    posix_spawnattr_setsigmask(&setup.attr, &none);
    posix_spawnattr_setsigdefault(&setup.attr, &all);
    posix_spawnattr_setflags(&setup.attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                              POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(_program.c_str()));
    for (const std::string& a : _args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> env = childEnvironment();
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const auto deadline = Clock::now() + _timeout;
    pid_t pid = 0;
    {
        // Listed before anyone else can see it; nothing is started once quitting has begun.
        std::lock_guard lock(running().mutex);
        if (running().stopped) return nullptr;
        const TLChildDescriptorLimit childLimit;
        if (posix_spawn(&pid, _program.c_str(), &setup.actions, &setup.attr, argv.data(),
                        envp.data()) != 0)
            return nullptr;
        running().pids.insert(pid);
    }
    writeEnd.reset(); // only the child writes
    return std::make_unique<PosixPsRun>(pid, std::move(readEnd), deadline, _maxBytes);
}

void TLStopPsRuns() {
    std::lock_guard lock(running().mutex);
    running().stopped = true;
    for (const pid_t pid : running().pids)
        killGroup(pid);
}

std::unique_ptr<TLPsRunner> TLMakePsRunner() {
    return TLPosixPsRunner::standard();
}
