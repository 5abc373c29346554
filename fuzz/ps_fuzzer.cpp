// libFuzzer harness for the text parsers of the sampling engine: the ps table, UTF-8 validation,
// the procfs scanners, and the cgroup, unit and desktop entry parsers that name applications. Every
// input goes through every parser and is compared with the references of parser_oracles.h and the
// checks of app_oracles.h; a disagreement aborts with the input escaped for a test. Built by CMake
// with TIDE_FUZZ=ON (clang, -fsanitize=fuzzer,address,undefined); scripts/fuzz configures, builds
// and runs it.

#include "app_oracles.h"
#include "parser_oracles.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string fault = TLFuzz::checkAll(input);
    if (fault.empty()) fault = TLFuzz::checkApplicationParsers(input);
    if (!fault.empty()) {
        std::fprintf(stderr, "parser fault: %s\n", fault.c_str());
        std::abort();
    }
    return 0;
}
