#include "alloc_counter.h"

#include <cstdlib>
#include <new>

// Under a sanitizer the sanitizer owns malloc: the replacements below are left out, nothing is
// counted, and the tests that count skip themselves.
#ifndef TIDE_SANITIZED

// glibc's own entry points, so that the replacements below can forward to them.
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

#endif

namespace {
thread_local bool counting = false;
thread_local size_t count = 0;
inline void note() {
    if (counting) ++count;
}
} // namespace

void TLAllocCounter::start() {
    count = 0;
    counting = true;
}

bool TLAllocCounter::available() {
#ifdef TIDE_SANITIZED
    return false;
#else
    return true;
#endif
}

size_t TLAllocCounter::stop() {
    counting = false;
    return count;
}

#ifndef TIDE_SANITIZED
extern "C" {
void* malloc(size_t n) {
    note();
    return __libc_malloc(n);
}
void* calloc(size_t a, size_t b) {
    note();
    return __libc_calloc(a, b);
}
void* realloc(void* p, size_t n) {
    note();
    return __libc_realloc(p, n);
}
void free(void* p) {
    __libc_free(p);
}
int posix_memalign(void** out, size_t align, size_t n) {
    note();
    void* p = __libc_memalign(align, n);
    if (!p) return 12; // ENOMEM
    *out = p;
    return 0;
}
void* aligned_alloc(size_t align, size_t n) {
    note();
    return __libc_memalign(align, n);
}
}

// operator new goes through malloc in libstdc++, but count it explicitly in case it does not.
void* operator new(size_t n) {
    note();
    if (void* p = __libc_malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t n) {
    return operator new(n);
}
void operator delete(void* p) noexcept {
    __libc_free(p);
}
void operator delete[](void* p) noexcept {
    __libc_free(p);
}
void operator delete(void* p, size_t) noexcept {
    __libc_free(p);
}
void operator delete[](void* p, size_t) noexcept {
    __libc_free(p);
}
#endif
