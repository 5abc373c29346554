#pragma once
// A fake /proc in a directory of its own, made empty at the start and removed at the end (also
// when an assertion ends the test early), and the writing of its files.

#include <unistd.h>

#include <filesystem>
#include <fstream>
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

} // namespace
