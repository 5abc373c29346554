#include "sampling/TLMetrics.h"
#include "sampling/TLPsTable.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>

namespace {

struct FakeProc {
    std::optional<TLProcCounters> counters; // nullopt: cannot be inspected
    bool kernelThread = false;
    std::string path;
    std::string comm;
};

// A scripted process table. Counts name lookups so that the name cache can be checked.
struct FakeProcesses final : TLProcessSource {
    std::map<int32_t, FakeProc>* procs;
    std::vector<int32_t> order;
    bool listOK = true;
    double* clock;
    int* pathLookups;

    bool listPids(std::vector<int32_t>& out) override {
        if (!listOK) return false;
        out = order;
        return true;
    }
    TLInspectResult inspect(int32_t pid, TLProcCounters& out) override {
        auto it = procs->find(pid);
        if (it == procs->end() || !it->second.counters) return TLInspectResult::Failed;
        if (it->second.kernelThread) return TLInspectResult::Skipped;
        out = *it->second.counters;
        return TLInspectResult::Exact;
    }
    bool executablePath(int32_t pid, std::string& out) override {
        ++*pathLookups;
        auto it = procs->find(pid);
        if (it == procs->end()) return false;
        out = it->second.path;
        return !out.empty();
    }
    bool shortName(int32_t pid, std::string& out) override {
        auto it = procs->find(pid);
        if (it == procs->end()) return false;
        out = it->second.comm;
        return !out.empty();
    }
    double now() override { return *clock; }
};

struct FakePsRun final : TLPsRun {
    std::string out;
    std::string finish() override { return out; }
};
struct FakePs final : TLPsRunner {
    std::string* output;
    int* runs;
    std::unique_ptr<TLPsRun> start() override {
        ++*runs;
        auto r = std::make_unique<FakePsRun>();
        r->out = *output;
        return r;
    }
};

class ProcessSampleTest : public ::testing::Test {
protected:
    ProcessSampleTest() {
        auto src = std::make_unique<FakeProcesses>();
        src->procs = &procs;
        src->clock = &clock;
        src->pathLookups = &pathLookups;
        source = src.get();
        auto ps = std::make_unique<FakePs>();
        ps->output = &psOutput;
        ps->runs = &psRuns;
        metrics = std::make_unique<TLMetrics>(nullptr, std::move(src), std::move(ps));
    }
    void add(int32_t pid, FakeProc p) {
        procs[pid] = std::move(p);
        source->order.push_back(pid);
    }
    static const TLProc* find(const std::vector<TLProc>& list, int32_t pid) {
        for (const TLProc& p : list)
            if (p.pid == pid) return &p;
        return nullptr;
    }

    std::map<int32_t, FakeProc> procs;
    double clock = 1000.0;
    int pathLookups = 0;
    std::string psOutput;
    int psRuns = 0;
    FakeProcesses* source = nullptr;
    std::unique_ptr<TLMetrics> metrics;
};

} // namespace

TEST_F(ProcessSampleTest, RatesNeedAPreviousSampleAtLeast50msBefore) {
    add(10, {TLProcCounters{1'000'000'000, 100, 4096}, false, "/usr/bin/editor", "editor"});
    auto first = metrics->sampleProcesses();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].cpu, 0.0); // first call ever
    EXPECT_EQ(first[0].energy, 0.0);
    EXPECT_EQ(first[0].memory, 4096u);
    EXPECT_FALSE(first[0].approximate);

    // 30 ms later: still no rate, but this call becomes the reference.
    clock += 0.03;
    procs[10].counters = TLProcCounters{1'010'000'000, 110, 4096};
    EXPECT_EQ(metrics->sampleProcesses()[0].cpu, 0.0);

    // 0.5 s of CPU and 20 wakeups over 2 s: 25 % and 25 + 0.35 x 10.
    clock += 2.0;
    procs[10].counters = TLProcCounters{1'510'000'000, 130, 4096};
    auto third = metrics->sampleProcesses();
    EXPECT_DOUBLE_EQ(third[0].cpu, 25.0);
    EXPECT_DOUBLE_EQ(third[0].energy, 28.5);

    // A clock that went backwards gives no rate either.
    clock -= 5.0;
    procs[10].counters = TLProcCounters{2'000'000'000, 200, 4096};
    EXPECT_EQ(metrics->sampleProcesses()[0].cpu, 0.0);

    // Ten minutes later: the average over the ten minutes.
    clock += 600.0;
    procs[10].counters = TLProcCounters{62'000'000'000ULL, 800, 4096};
    auto late = metrics->sampleProcesses();
    EXPECT_DOUBLE_EQ(late[0].cpu, 10.0);
    EXPECT_DOUBLE_EQ(late[0].energy, 10.0 + 0.35 * 1.0);
}

TEST_F(ProcessSampleTest, CountersThatWentDownGiveZeroTermsNeverNegative) {
    add(20, {TLProcCounters{5'000'000'000, 1000, 1}, false, "/bin/a", "a"});
    metrics->sampleProcesses();
    clock += 1.0;
    procs[20].counters = TLProcCounters{1'000'000'000, 1010, 1}; // CPU fell, wakeups rose
    auto r = metrics->sampleProcesses();
    EXPECT_EQ(r[0].cpu, 0.0);
    EXPECT_DOUBLE_EQ(r[0].energy, 0.35 * 10);
    clock += 1.0;
    procs[20].counters = TLProcCounters{2'000'000'000, 5, 1}; // wakeups fell
    r = metrics->sampleProcesses();
    EXPECT_DOUBLE_EQ(r[0].cpu, 100.0);
    EXPECT_DOUBLE_EQ(r[0].energy, 100.0);
}

TEST_F(ProcessSampleTest, UninspectableProcessesComeFromPsOrAreLeftOut) {
    add(123, {std::nullopt, false, "", ""});                       // only ps knows it
    add(124, {std::nullopt, false, "", ""});                       // nobody knows it
    add(2, {TLProcCounters{}, true, "", "kthreadd"});              // a kernel thread
    add(0, {TLProcCounters{}, false, "/sbin/swapper", "swapper"}); // pid 0 never counts
    psOutput = "  123  2048  3.5 My Helper App\n"
               "  124\n" // too short: ignored
               "\n"      // empty: ignored
               "    2     0  0.0 kthreadd\n";
    auto r = metrics->sampleProcesses();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].pid, 123);
    EXPECT_EQ(r[0].memory, 2097152u);
    EXPECT_EQ(r[0].cpu, 3.5);
    EXPECT_EQ(r[0].energy, 3.5);
    EXPECT_TRUE(r[0].approximate);
    EXPECT_EQ(r[0].name, "My Helper App");
    EXPECT_EQ(psRuns, 1);

    // Approximate records leave no counters: the next exact reading has no rate.
    clock += 1.0;
    procs[123].counters = TLProcCounters{9'000'000'000, 0, 1};
    procs[123].comm = "helper";
    r = metrics->sampleProcesses();
    ASSERT_NE(find(r, 123), nullptr);
    EXPECT_FALSE(find(r, 123)->approximate);
    EXPECT_EQ(find(r, 123)->cpu, 0.0);
    EXPECT_EQ(find(r, 123)->name, "My Helper App"); // the name sticks while it stays listed
}

// ps costs more than reading every process; it runs only for a process /proc did not give.
TEST_F(ProcessSampleTest, PsRunsOnlyWhenAProcessCannotBeInspected) {
    add(30, {TLProcCounters{1'000'000'000, 10, 1}, false, "/bin/a", "a"});
    add(31, {TLProcCounters{2'000'000'000, 20, 1}, false, "/bin/b", "b"});
    psOutput = "30 100 1.0 a\n31 200 2.0 b\n";
    metrics->sampleProcesses();
    clock += 1.0;
    auto r = metrics->sampleProcesses();
    EXPECT_EQ(psRuns, 0);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_FALSE(r[0].approximate);

    // One process hidden from us (hidepid, another user's namespace): one ps run, its row
    // approximate, the others exact as before.
    add(32, {std::nullopt, false, "", ""});
    psOutput += "32 4096 7.5 hidden thing\n";
    procs[30].counters = TLProcCounters{1'500'000'000, 10, 1};
    clock += 1.0;
    r = metrics->sampleProcesses();
    EXPECT_EQ(psRuns, 1);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_DOUBLE_EQ(find(r, 30)->cpu, 50.0);
    EXPECT_FALSE(find(r, 30)->approximate);
    EXPECT_TRUE(find(r, 32)->approximate);
    EXPECT_EQ(find(r, 32)->memory, 4096u * 1024);
    EXPECT_EQ(find(r, 32)->name, "hidden thing");
}

TEST_F(ProcessSampleTest, NameRulesInOrder) {
    add(1, {TLProcCounters{}, false, "/usr/lib/firefox/firefox-bin", "firefox"});
    add(2, {TLProcCounters{}, false, "", "kworker-ish"});
    add(3, {TLProcCounters{}, false, "/path/\xff\xfe", "fallback"}); // undecodable path
    add(4, {TLProcCounters{}, false, "", ""});
    add(812, {TLProcCounters{}, false, "", ""});
    add(5, {TLProcCounters{}, false, "/usr/bin/", "trailing"}); // no last component
    psOutput = "4 10 0.0 from ps\n";
    auto r = metrics->sampleProcesses();
    ASSERT_EQ(r.size(), 6u);
    EXPECT_EQ(find(r, 1)->name, "firefox-bin");
    EXPECT_EQ(find(r, 2)->name, "kworker-ish");
    EXPECT_EQ(find(r, 3)->name, "fallback");
    EXPECT_EQ(find(r, 4)->name, "from ps");
    EXPECT_FALSE(find(r, 4)->approximate); // ps only named it
    EXPECT_EQ(find(r, 812)->name, "PID 812");
    EXPECT_EQ(find(r, 5)->name, "trailing");
    // Result order is listing order.
    EXPECT_EQ(r[0].pid, 1);
    EXPECT_EQ(r[5].pid, 5);
}

TEST_F(ProcessSampleTest, NamesAreLookedUpOncePerLifetimeInTheList) {
    add(7, {TLProcCounters{}, false, "/bin/old", "old"});
    metrics->sampleProcesses();
    EXPECT_EQ(pathLookups, 1);

    // The same process (same pid, same start time) keeps its name, with no new lookup.
    procs[7].path = "/bin/new";
    clock += 1.0;
    EXPECT_EQ(metrics->sampleProcesses()[0].name, "old");
    EXPECT_EQ(pathLookups, 1);

    // Missing from one sample: forgotten, looked up afresh when it returns.
    add(8, {TLProcCounters{}, false, "/bin/other", "other"});
    source->order = {8};
    clock += 1.0;
    ASSERT_EQ(metrics->sampleProcesses().size(), 1u);
    source->order = {7, 8};
    clock += 1.0;
    EXPECT_EQ(metrics->sampleProcesses()[0].name, "new");
    EXPECT_EQ(pathLookups, 3);
}

// "alpha" exits and "bravo" gets its pid between two samples: bravo is a new process, with its own
// name and no CPU rate made of alpha's counters.
TEST_F(ProcessSampleTest, APidTakenOverByANewProcessIsANewProcess) {
    add(100, {TLProcCounters{1'000'000'000, 10, 1, 5000}, false, "/bin/alpha", "alpha"});
    ASSERT_EQ(metrics->sampleProcesses()[0].name, "alpha");
    clock += 2.0;
    procs[100] = {TLProcCounters{3'000'000'000, 50, 1, 7000}, false, "/bin/bravo", "bravo"};
    auto r = metrics->sampleProcesses();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].name, "bravo");
    EXPECT_EQ(r[0].startTime, 7000u);
    EXPECT_EQ(r[0].cpu, 0.0); // a first reading of bravo
    EXPECT_EQ(r[0].energy, 0.0);
    // From then on bravo has its own rates.
    clock += 2.0;
    procs[100].counters = TLProcCounters{4'000'000'000, 50, 1, 7000};
    EXPECT_DOUBLE_EQ(metrics->sampleProcesses()[0].cpu, 50.0);
}

// Control characters in a name (an escape sequence, a tab, a C1 control) are shown as spaces; a
// name of nothing else does not count as a name.
TEST_F(ProcessSampleTest, ControlCharactersInNamesBecomeSpaces) {
    add(1, {TLProcCounters{}, false, "/tmp/a\x1b[31mred\tb\xc2\x9b", "x"});
    add(2, {TLProcCounters{}, false, "", "\x01\x02"});
    add(3, {std::nullopt, false, "", ""});
    add(4, {TLProcCounters{}, false, "", "\x7f"});
    psOutput = "3 1 0.0 ps\x1bname\n"
               "4 1 0.0 \x07\n";
    auto r = metrics->sampleProcesses();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(find(r, 1)->name, "a [31mred b ");
    EXPECT_EQ(find(r, 2)->name, "PID 2");
    EXPECT_EQ(find(r, 3)->name, "ps name");
    EXPECT_EQ(find(r, 4)->name, "PID 4");
}

TEST_F(ProcessSampleTest, AFailedListingChangesNothing) {
    add(9, {TLProcCounters{1'000'000'000, 0, 1}, false, "/bin/x", "x"});
    metrics->sampleProcesses(); // reference at t = 1000
    source->listOK = false;
    clock += 1.0;
    EXPECT_TRUE(metrics->sampleProcesses().empty());
    EXPECT_EQ(psRuns, 0); // nothing launched for a failed listing (nor for readable processes)
    source->listOK = true;
    clock += 1.0;
    procs[9].counters = TLProcCounters{2'000'000'000, 0, 1};
    // The interval runs from the last successful call: 1 s of CPU over 2 s.
    EXPECT_DOUBLE_EQ(metrics->sampleProcesses()[0].cpu, 50.0);
}

TEST(PsTable, ParsesLinesByTheColumnRules) {
    int32_t pid = 0;
    TLPsEntry e;
    ASSERT_TRUE(TLParsePsLine("\t  42   100   12.5   \t", pid, e));
    EXPECT_EQ(pid, 42);
    EXPECT_EQ(e.bytes, 102400u);
    EXPECT_EQ(e.cpu, 12.5);
    EXPECT_EQ(e.name, ""); // a name may be empty
    ASSERT_TRUE(TLParsePsLine("7 1 0.0   two  spaces ", pid, e));
    EXPECT_EQ(e.name, "two  spaces");
    ASSERT_TRUE(TLParsePsLine("8 1 1e1 x", pid, e));
    EXPECT_EQ(e.cpu, 10.0);

    EXPECT_FALSE(TLParsePsLine("", pid, e));
    EXPECT_FALSE(TLParsePsLine("   ", pid, e));
    EXPECT_FALSE(TLParsePsLine("12 34", pid, e));
    EXPECT_FALSE(TLParsePsLine("abc 1 1.0 x", pid, e));
    EXPECT_FALSE(TLParsePsLine("1 x 1.0 x", pid, e));
    EXPECT_FALSE(TLParsePsLine("1 2 nan x", pid, e));
    EXPECT_FALSE(TLParsePsLine("99999999999 2 1.0 x", pid, e)); // pid beyond 32 bits
    EXPECT_FALSE(TLParsePsLine("5 -3 1.0 x", pid, e));          // negative size
}

// Figures no process can have (a broken or hostile ps) drop the line instead of reaching the panel
// as "~-300.0", a 309-digit CPU figure or a name made of the rest of a hexadecimal number.
TEST(PsTable, FiguresOutOfTheirRangeDropTheLine) {
    int32_t pid = 0;
    TLPsEntry e;
    EXPECT_FALSE(TLParsePsLine("10 100 -300 evil", pid, e));
    EXPECT_FALSE(TLParsePsLine("10 100 1e308 evil", pid, e));
    EXPECT_FALSE(TLParsePsLine("10 100 1e999 evil", pid, e));
    EXPECT_FALSE(TLParsePsLine("10 100 819200.1 evil", pid, e)); // beyond 8192 busy cores
    EXPECT_FALSE(TLParsePsLine("10 100 0x10 evil", pid, e));
    EXPECT_FALSE(TLParsePsLine("0x10 100 1.0 evil", pid, e));
    EXPECT_FALSE(TLParsePsLine("10 0x10 1.0 evil", pid, e));
    EXPECT_FALSE(TLParsePsLine("10 100 1.5e evil", pid, e));
    EXPECT_FALSE(TLParsePsLine("0 100 1.0 swapper", pid, e));
    EXPECT_FALSE(TLParsePsLine("-1 100 1.0 all", pid, e));
    EXPECT_FALSE(TLParsePsLine("4194305 100 1.0 past-pid-max", pid, e));
    EXPECT_FALSE(TLParsePsLine("10 274877906945 1.0 huge", pid, e)); // past 2^48 bytes
    // The largest figures that still make sense are kept.
    ASSERT_TRUE(TLParsePsLine("4194304 274877906944 819200 busy", pid, e));
    EXPECT_EQ(pid, 4194304);
    EXPECT_EQ(e.bytes, uint64_t{1} << 48);
    EXPECT_EQ(e.cpu, 819200.0);
}

// A name without end (a half-written line of a runaway ps) is cut, at a character boundary.
TEST(PsTable, NamesAreBounded) {
    int32_t pid = 0;
    TLPsEntry e;
    ASSERT_TRUE(TLParsePsLine("5 1 0.0 " + std::string(4 << 20, 'x'), pid, e));
    EXPECT_EQ(e.name.size(), TLPsMaxNameBytes);
    std::string wide;
    while (wide.size() < 300)
        wide += "潮";
    ASSERT_TRUE(TLParsePsLine("5 1 0.0 " + wide, pid, e));
    EXPECT_LE(e.name.size(), TLPsMaxNameBytes);
    EXPECT_EQ(e.name.size() % 3, 0u);
    EXPECT_TRUE(TLIsValidUTF8(e.name));
    // The table takes a bounded number of lines.
    std::string many;
    for (size_t i = 1; i <= TLPsMaxLines + 10; ++i)
        many += std::to_string(i) + " 1 0 p\n";
    EXPECT_EQ(TLParsePsOutput(many).size(), TLPsMaxLines);
}

TEST(PsTable, OutputLinesAndEncodings) {
    const TLPsTable t = TLParsePsOutput("1 1 1.0 first\n"
                                        "2 1 1.0 bad\xff name\n"
                                        "3 1 1.0 \xe6\xbd\xae\xe6\xb1\x90\n"
                                        "1 5 2.0 again\n"
                                        "4 1 1.0 no newline at end");
    EXPECT_EQ(t.size(), 3u);
    EXPECT_EQ(t.at(1).name, "again"); // a later line replaces an earlier one
    EXPECT_EQ(t.at(1).bytes, 5120u);
    EXPECT_EQ(t.count(2), 0u); // that one line is not UTF-8
    EXPECT_EQ(t.at(3).name, "潮汐");
    EXPECT_EQ(t.at(4).name, "no newline at end");

    EXPECT_TRUE(TLIsValidUTF8("plain 潮汐 \xf0\x9f\x8c\x8a"));
    EXPECT_FALSE(TLIsValidUTF8("\xc0\xaf"));         // overlong
    EXPECT_FALSE(TLIsValidUTF8("\xed\xa0\x80"));     // surrogate
    EXPECT_FALSE(TLIsValidUTF8("\xe6\xbd"));         // cut short
    EXPECT_FALSE(TLIsValidUTF8("\xf4\x90\x80\x80")); // past U+10FFFF
}
