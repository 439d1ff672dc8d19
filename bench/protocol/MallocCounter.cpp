// Replaces the malloc family for this benchmark binary so that the memory a
// decoder allocates (through operator new or straight through malloc) can be
// measured. Sizes are the allocator's usable sizes.
#include "MallocCounter.h"

#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstddef>

extern "C" {
void* __libc_malloc(size_t);
void __libc_free(void*);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
}

namespace {

std::atomic<int64_t> g_current{0};
std::atomic<int64_t> g_peak{0};

void Added(void* p) {
    if (!p) return;
    int64_t now = g_current.fetch_add(static_cast<int64_t>(malloc_usable_size(p))) +
                  static_cast<int64_t>(malloc_usable_size(p));
    int64_t peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
}

void Removed(void* p) {
    if (p) g_current.fetch_sub(static_cast<int64_t>(malloc_usable_size(p)));
}

}  // namespace

namespace malloc_counter {
int64_t Current() {
    return g_current.load();
}
int64_t Peak() {
    return g_peak.load();
}
void ResetPeak() {
    g_peak.store(g_current.load());
}
}  // namespace malloc_counter

extern "C" {

void* malloc(size_t n) {
    void* p = __libc_malloc(n);
    Added(p);
    return p;
}

void free(void* p) {
    Removed(p);
    __libc_free(p);
}

void* calloc(size_t count, size_t size) {
    void* p = __libc_calloc(count, size);
    Added(p);
    return p;
}

void* realloc(void* p, size_t n) {
    int64_t old = p ? static_cast<int64_t>(malloc_usable_size(p)) : 0;
    void* q = __libc_realloc(p, n);
    if (q || n == 0) g_current.fetch_sub(old);
    Added(q);
    return q;
}

void* memalign(size_t alignment, size_t n) {
    void* p = __libc_memalign(alignment, n);
    Added(p);
    return p;
}

void* aligned_alloc(size_t alignment, size_t n) {
    return memalign(alignment, n);
}

int posix_memalign(void** out, size_t alignment, size_t n) {
    void* p = memalign(alignment, n);
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}

}  // extern "C"
