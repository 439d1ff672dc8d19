#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "base/Wipe.h"

// An allocator that overwrites every block with zeros before it releases it.
template <class T>
struct ZeroingAllocator {
    using value_type = T;

    ZeroingAllocator() noexcept = default;
    template <class U>
    ZeroingAllocator(const ZeroingAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
    void deallocate(T* p, std::size_t n) noexcept {
        WipeBytes(p, n * sizeof(T));
        std::allocator<T>().deallocate(p, n);
    }
};

template <class T, class U>
bool operator==(const ZeroingAllocator<T>&, const ZeroingAllocator<U>&) noexcept {
    return true;
}
template <class T, class U>
bool operator!=(const ZeroingAllocator<T>&, const ZeroingAllocator<U>&) noexcept {
    return false;
}

using ZeroingString = std::basic_string<char, std::char_traits<char>, ZeroingAllocator<char>>;

// Text that is a secret (password, token, a request or answer that carries
// one). Every buffer it releases is overwritten with zeros first: a heap
// buffer through the allocator whenever the string grows, shrinks or goes,
// and the short-text buffer inside the object itself when the object goes
// (the allocator never sees that one; it also keeps the old text of a string
// that grew out of it or was moved from). Temporaries of the base type (the
// result of operator+) wipe their heap buffers only; they are converted into
// a SecretString before they are kept anywhere.
//
// A std::string converts into a SecretString implicitly (the copy is the
// safe direction); the other way needs an explicit std::string(text).
class SecretString : public ZeroingString {
  public:
    using ZeroingString::ZeroingString;
    using ZeroingString::operator=;

    SecretString() noexcept = default;
    SecretString(const SecretString&) = default;
    SecretString(SecretString&&) noexcept = default;
    SecretString(const ZeroingString& text) : ZeroingString(text) {}
    SecretString(ZeroingString&& text) noexcept : ZeroingString(std::move(text)) {}
    SecretString(const std::string& text) : ZeroingString(text.data(), text.size()) {}
    SecretString& operator=(const SecretString&) = default;
    SecretString& operator=(SecretString&&) = default;
    // Out of line: inlined, GCC 12 misreads assignments of literals (-Wrestrict).
    SecretString& operator=(const char* text);
    ~SecretString();

    // Overwrites the whole buffer now and empties the string, for a secret
    // that is dropped while the object lives on.
    void Wipe() noexcept;
};

// Comparisons with a std::string (those with another secret string or a C
// string are the standard ones).
inline bool operator==(const ZeroingString& a, const std::string& b) noexcept {
    return std::string_view(a) == std::string_view(b);
}
inline bool operator==(const std::string& a, const ZeroingString& b) noexcept {
    return b == a;
}
inline bool operator!=(const ZeroingString& a, const std::string& b) noexcept {
    return !(a == b);
}
inline bool operator!=(const std::string& a, const ZeroingString& b) noexcept {
    return !(b == a);
}
