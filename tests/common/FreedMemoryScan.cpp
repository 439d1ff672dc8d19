#include "FreedMemoryScan.h"

#include <dlfcn.h>
#include <execinfo.h>
#include <string.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t kMaxSecrets = 8;
constexpr std::size_t kMaxLength = 128;
constexpr std::size_t kHeader = 16;  // the block size, ahead of the block

char g_secrets[kMaxSecrets][kMaxLength];
std::size_t g_count = 0;
std::atomic<bool> g_on{false};
std::atomic<int> g_leaks{0};
std::atomic<int> g_libraryLeaks{0};
char g_firstLeak[256];
thread_local bool t_inScan = false;

bool ReleasedByJsonLibrary() {
    void* frames[48];
    const int n = backtrace(frames, 48);
    for (int i = 0; i < n; ++i) {
        Dl_info info;
        if (dladdr(frames[i], &info) && info.dli_fname && strstr(info.dli_fname, "jsoncpp"))
            return true;
    }
    return false;
}

void Scan(const void* block, std::size_t size) {
    if (!g_on.load() || t_inScan) return;
    t_inScan = true;
    for (std::size_t i = 0; i < g_count; ++i) {
        const std::size_t length = strlen(g_secrets[i]);
        if (length == 0 || size < length || !memmem(block, size, g_secrets[i], length)) continue;
        if (ReleasedByJsonLibrary()) {
            ++g_libraryLeaks;
        } else if (g_leaks++ == 0) {
            std::snprintf(g_firstLeak, sizeof g_firstLeak, "%s in a block of %zu bytes",
                          g_secrets[i], size);
        }
        break;
    }
    t_inScan = false;
}

// Null when there is no memory.
void* Allocate(std::size_t size) noexcept {
    void* base = std::malloc(size + kHeader);
    if (!base) return nullptr;
    *static_cast<std::size_t*>(base) = size;
    return static_cast<char*>(base) + kHeader;
}

void Release(void* p) noexcept {
    if (!p) return;
    char* base = static_cast<char*>(p) - kHeader;
    Scan(p, *reinterpret_cast<std::size_t*>(base));
    std::free(base);
}

}  // namespace

void* operator new(std::size_t size) {
    if (void* p = Allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void operator delete(void* p) noexcept {
    Release(p);
}
void operator delete[](void* p) noexcept {
    Release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    Release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    Release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    Release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    Release(p);
}

namespace nimbex_test {

FreedMemoryScan::FreedMemoryScan(std::initializer_list<const char*> secrets) {
    void* warm[4];
    backtrace(warm, 4);  // loads the unwinder before the scan starts
    g_count = 0;
    for (const char* s : secrets) {
        if (g_count == kMaxSecrets) break;
        std::snprintf(g_secrets[g_count++], kMaxLength, "%s", *s ? s + 1 : s);
    }
    g_leaks = 0;
    g_libraryLeaks = 0;
    g_firstLeak[0] = 0;
    g_on = true;
}

void FreedMemoryScan::Stop() {
    g_on = false;
}

int FreedMemoryScan::Leaks() const {
    return g_leaks.load();
}

std::string FreedMemoryScan::FirstLeak() const {
    return g_firstLeak;
}

int FreedMemoryScan::LibraryLeaks() const {
    return g_libraryLeaks.load();
}

}  // namespace nimbex_test
