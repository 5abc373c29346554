#pragma once
#include <cstddef>

// Counts calls of malloc, calloc, realloc, aligned allocation and operator new made by the
// calling thread while counting is on.
namespace TLAllocCounter {
// False in a sanitizer build, where the sanitizer's allocator cannot be replaced.
bool available();
void start();
size_t stop(); // returns the number of allocations since start()
} // namespace TLAllocCounter
