#pragma once
// A fake /proc in a directory of its own, made empty at the start and removed at the end (also
// when an assertion ends the test early), and the writing of its files.

#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace {

void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

struct FakeProcRoot {
    std::filesystem::path path;
    explicit FakeProcRoot(const std::string& name)
        : path(std::filesystem::temp_directory_path() /
               ("tide-" + name + "-" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~FakeProcRoot() { std::filesystem::remove_all(path); }
    FakeProcRoot(const FakeProcRoot&) = delete;
    FakeProcRoot& operator=(const FakeProcRoot&) = delete;
};

// A source over `root` made while the soft limit on open files is `limit` (its budget of kept
// files comes from the limit it finds); the limit is put back at once. Null when it cannot be set.
template <typename Source>
std::unique_ptr<Source> sourceUnderLimit(const std::string& root, rlim_t limit) {
    rlimit saved{};
    if (::getrlimit(RLIMIT_NOFILE, &saved) != 0) return nullptr;
    rlimit low = saved;
    low.rlim_cur = limit;
    if (::setrlimit(RLIMIT_NOFILE, &low) != 0) return nullptr;
    auto source = std::make_unique<Source>(root);
    if (::setrlimit(RLIMIT_NOFILE, &saved) != 0) return nullptr;
    return source;
}

} // namespace
