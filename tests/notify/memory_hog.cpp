// tide-test-hog: the process that presses on memory in the end-to-end test. It first fills
// ANON_MIB of memory of its own (outside any small cgroup, so that it is among the largest
// processes), then joins the cgroup whose cgroup.procs file is given and writes and reads files
// in DIR over and over, more than the cgroup may keep, so that its tasks keep waiting for memory.
// Runs until it is ended.
//
// usage: tide-test-hog ANON_MIB DIR [CGROUP_PROCS]

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kChunk = 1 << 20;
constexpr int kFileMiB = 256;

void churn(const std::string& path) {
    std::vector<char> chunk(kChunk, 'x');
    for (;;) {
        const int w = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (w < 0) std::exit(2);
        for (int i = 0; i < kFileMiB; ++i)
            if (::write(w, chunk.data(), kChunk) < 0) std::exit(2);
        ::close(w);
        const int r = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (r < 0) std::exit(2);
        while (::read(r, chunk.data(), kChunk) > 0) {
        }
        ::close(r);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: tide-test-hog ANON_MIB DIR [CGROUP_PROCS]\n");
        return 2;
    }
    const size_t anon = static_cast<size_t>(std::atol(argv[1])) << 20;
    auto* memory = static_cast<char*>(std::malloc(anon));
    if (!memory) return 2;
    for (size_t i = 0; i < anon; i += 4096)
        memory[i] = static_cast<char>(i);
    if (argc > 3) {
        FILE* procs = std::fopen(argv[3], "w");
        if (!procs || std::fprintf(procs, "%d\n", static_cast<int>(::getpid())) < 0 ||
            std::fclose(procs) != 0)
            return 3;
    }
    // Several writers, more than the cores of a small machine, so that while they wait for
    // memory little else is left to run.
    std::vector<std::thread> others;
    for (const char* file : {"/b", "/c"})
        others.emplace_back(churn, std::string(argv[2]) + file);
    churn(std::string(argv[2]) + "/a");
    for (std::thread& t : others)
        t.join();
    return memory[0];
}
