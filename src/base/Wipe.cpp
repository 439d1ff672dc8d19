#include "base/Wipe.h"

#include <openssl/crypto.h>

void WipeBytes(void* p, std::size_t n) noexcept {
    if (p && n) OPENSSL_cleanse(p, n);
}

void WipeString(std::string& s) noexcept {
    // resize() keeps the allocation, so the whole buffer, SSO or heap, is wiped.
    s.resize(s.capacity());
    WipeBytes(s.data(), s.size());
    s.clear();
}

void WipeVector(std::vector<unsigned char>& v) noexcept {
    WipeBytes(v.data(), v.size());
    v.clear();
}
