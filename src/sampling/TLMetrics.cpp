#include "sampling/TLMetrics.h"

#include "sampling/TLPsTable.h"

#include <cstdio>
#include <string_view>

std::unique_ptr<TLSystemSource> TLMakeSystemSource();
std::unique_ptr<TLProcessSource> TLMakeProcessSource();
std::unique_ptr<TLPsRunner> TLMakePsRunner();

TLMetrics& TLMetrics::shared() {
    // A function-local static: initialised once, safely, whichever thread comes first; never
    // destroyed, since the process queue may still be sampling while the program exits.
    static TLMetrics* instance =
        new TLMetrics(TLMakeSystemSource(), TLMakeProcessSource(), TLMakePsRunner());
    return *instance;
}

TLMetrics::TLMetrics(std::unique_ptr<TLSystemSource> system,
                     std::unique_ptr<TLProcessSource> processes, std::unique_ptr<TLPsRunner> ps)
    : _system(std::move(system)), _processes(std::move(processes)), _ps(std::move(ps)) {
    _prevProc.reserve(512);
    _nameCache.reserve(512);
    if (_system) {
        _pageSize = _system->pageSize();
        _totalMem = _system->physicalMemory();
    }
}

TLSystemStats TLMetrics::sampleSystem() {
    TLSystemInputs in;
    in.pageSize = _pageSize;
    in.total = _totalMem;
    if (_system) {
        in.vmOK = _system->readVM(in.vm);
        in.swapOK = _system->readSwap(in.swap);
        in.pressureOK = _system->readPressureLevel(in.pressureLevel);
        in.stallOK = _system->readMemoryStall(in.stallPercent);
        in.cpuOK = _system->readCPUTicks(in.cpu);
    }
    return TLComputeSystemStats(in, _prevCPU);
}

namespace {

// A name as the panel may show it: control characters (C0, DEL, C1), which would move the cursor
// or change colours where the name is printed, become spaces. False when nothing else is left.
bool cleanName(std::string& name) {
    std::string out;
    out.reserve(name.size());
    bool visible = false;
    for (size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c == 0x7F) {
            out += ' ';
        } else if (c == 0xC2 && i + 1 < name.size() &&
                   static_cast<unsigned char>(name[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(name[i + 1]) <= 0x9F) {
            out += ' '; // U+0080 … U+009F
            ++i;
        } else {
            out += name[i];
            visible = visible || c != ' ';
        }
    }
    name = std::move(out);
    return visible;
}

// The last component of a path; empty when the path ends in a slash.
std::string_view lastPathComponent(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace

void TLMetrics::releaseProcessFiles() {
    if (_processes) _processes->releaseKeptFiles();
}

namespace {

// The name ps gave for a process, its control characters made spaces, or "PID n" when ps gave
// none (`row` null when ps did not list the process).
void nameFromPs(TLProc& proc, const TLPsEntry* row) {
    std::string fromPs;
    if (row) fromPs = row->name;
    if (cleanName(fromPs)) {
        proc.name = std::move(fromPs);
    } else {
        char buf[32];
        std::snprintf(buf, sizeof buf, "PID %d", proc.pid);
        proc.name = buf;
    }
}

// Removes the processes marked in `drop`, keeping the others in their order.
void removeDropped(std::vector<TLProc>& result, const std::vector<bool>& drop) {
    size_t out = 0;
    for (size_t i = 0; i < result.size(); ++i)
        if (!drop[i]) {
            if (out != i) result[out] = std::move(result[i]);
            ++out;
        }
    result.resize(out);
}

} // namespace

struct TLMetrics::ProcPass {
    // Processes that could not be inspected wait for the ps table: their index in `result` and
    // whether they still need it for their numbers (true) or only for a name (false).
    struct Pending {
        size_t index;
        bool needsNumbers;
    };

    explicit ProcPass(size_t pids) {
        result.reserve(pids);
        newCounters.reserve(pids);
        newNames.reserve(pids);
    }

    std::vector<TLProc> result;
    std::unordered_map<ProcKey, Counters, ProcKeyHash> newCounters;
    std::unordered_map<ProcKey, Known, ProcKeyHash> newNames;
    std::vector<Pending> pending;
    std::string scratch; // for resolveName
};

std::vector<TLProc> TLMetrics::sampleProcesses() {
    if (!_processes) return {};

    // 1. The pids, listed before ps can start so that ps never shows up in its own sample.
    _pids.clear();
    if (!_processes->listPids(_pids) || _pids.empty()) return {};

    // 2. One clock reading serves every process of this call.
    const double now = _processes->now();

    // 3. The interval since the previous successful call.
    const double elapsed = now - _prevProcTime;
    const double dt = (_prevProcTime > 0 && elapsed >= TLMinProcInterval) ? elapsed : 0.0;

    // 4. Per pid, in listing order.
    ProcPass pass(_pids.size());
    inspectPids(dt, pass);

    // 5. The ps table, only when a process could not be inspected (or named) from /proc: on
    // Linux every process usually can, and ps would cost more than the whole scan. The table is
    // used exactly as it would have been had ps run on every call.
    completeFromPs(pass);

    // 6. Commit the new state, the names of this sample with it, as one step.
    for (TLProc& proc : pass.result) {
        // Named from ps, an inspected process is placed now.
        if (!proc.approximate && !proc.app) proc.app = resolveApp(proc, pass.scratch, false);
        pass.newNames.emplace(ProcKey{proc.pid, proc.startTime}, Known{proc.name, proc.app});
    }
    _prevProc = std::move(pass.newCounters);
    _nameCache = std::move(pass.newNames);
    if (_apps.size() > 2 * _nameCache.size() + 64)
        std::erase_if(_apps, [](const auto& entry) { return entry.second.expired(); });
    _prevProcTime = now;
    return std::move(pass.result);
}

void TLMetrics::inspectPids(double dt, ProcPass& pass) {
    for (const int32_t pid : _pids) {
        if (pid <= 0) continue;
        TLProcCounters c;
        const TLInspectResult r = _processes->inspect(pid, c);
        if (r == TLInspectResult::Skipped) continue;

        TLProc proc;
        proc.pid = pid;
        if (r == TLInspectResult::Exact) {
            proc.memory = c.footprint;
            proc.startTime = c.startTime;
            if (dt > 0) {
                if (auto prev = _prevProc.find({pid, c.startTime}); prev != _prevProc.end()) {
                    const auto [t0, w0] = prev->second;
                    if (c.cpuTimeNs >= t0)
                        proc.cpu = static_cast<double>(c.cpuTimeNs - t0) / 1e9 / dt * 100.0;
                    const double wakeRate =
                        c.idleWakeups >= w0 ? static_cast<double>(c.idleWakeups - w0) / dt : 0.0;
                    proc.energy = proc.cpu + TLWakeupEnergyWeight * wakeRate;
                }
            }
            pass.newCounters.emplace(ProcKey{pid, c.startTime},
                                     Counters{c.cpuTimeNs, c.idleWakeups});
            bool pathRead = false;
            if (resolveName(proc, proc.name, pass.scratch, pathRead, &proc.app)) {
                if (!proc.app) proc.app = resolveApp(proc, pass.scratch, pathRead);
            } else {
                pass.pending.push_back({pass.result.size(), false});
            }
        } else {
            pass.pending.push_back({pass.result.size(), true});
        }
        pass.result.push_back(std::move(proc));
    }
}

void TLMetrics::completeFromPs(ProcPass& pass) {
    TLPsTable table;
    if (!pass.pending.empty() && _ps) {
        if (std::unique_ptr<TLPsRun> psRun = _ps->start()) table = TLParsePsOutput(psRun->finish());
    }
    std::vector<bool> drop(pass.result.size(), false);
    bool anyDropped = false;
    for (const ProcPass::Pending& p : pass.pending) {
        TLProc& proc = pass.result[p.index];
        const auto row = table.find(proc.pid);
        if (p.needsNumbers) {
            if (row == table.end()) {
                drop[p.index] = true;
                anyDropped = true;
                continue;
            }
            proc.memory = row->second.bytes;
            proc.cpu = row->second.cpu;
            proc.energy = row->second.cpu;
            proc.approximate = true;
            bool pathRead = false;
            if (resolveName(proc, proc.name, pass.scratch, pathRead, nullptr)) continue;
        }
        nameFromPs(proc, row != table.end() ? &row->second : nullptr);
    }
    if (anyDropped) removeDropped(pass.result, drop);
}

bool TLMetrics::resolveName(const TLProc& proc, std::string& name, std::string& scratch,
                            bool& pathRead, AppRef* app) {
    pathRead = false;
    const int32_t pid = proc.pid;
    if (auto it = _nameCache.find({pid, proc.startTime});
        it != _nameCache.end() && !it->second.name.empty()) {
        name = it->second.name;
        if (app) *app = it->second.app;
        return true;
    }
    scratch.clear();
    if (_processes->executablePath(pid, scratch) && TLIsValidUTF8(scratch)) {
        const std::string_view last = lastPathComponent(scratch);
        if (!last.empty()) {
            name.assign(last);
            if (cleanName(name)) return pathRead = true;
        }
    }
    scratch.clear();
    if (_processes->shortName(pid, scratch) && !scratch.empty() && TLIsValidUTF8(scratch)) {
        name = scratch;
        if (cleanName(name)) return true;
    }
    return false;
}

std::shared_ptr<const TLAppIdentity> TLMetrics::resolveApp(const TLProc& proc, std::string& scratch,
                                                           bool pathRead) {
    TLAppIdentity found;
    if (!pathRead) {
        scratch.clear();
        pathRead = _processes->executablePath(proc.pid, scratch) && TLIsValidUTF8(scratch);
    }
    const bool hasPath = pathRead;
    if (!_processes->application(proc.pid, hasPath ? scratch : std::string(), found) ||
        found.key.empty() || found.name.empty() || !TLIsValidUTF8(found.name)) {
        found = {};
        found.key = hasPath ? "exe:" + scratch : "name:" + proc.name;
        found.name = proc.name;
    } else if (!cleanName(found.name)) {
        found.name = proc.name;
    }
    std::weak_ptr<const TLAppIdentity>& shared = _apps[found.key];
    if (AppRef app = shared.lock()) return app;
    AppRef app = std::make_shared<const TLAppIdentity>(std::move(found));
    shared = app;
    return app;
}
