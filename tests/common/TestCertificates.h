#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace nimbex_test {

enum class KeyKind { Rsa, Ec, Ed25519 };

// A self-signed X.509 certificate (DER) made with OpenSSL. An empty common
// name gives a certificate with an empty subject. Keys are generated once per
// kind and reused, so making many certificates is cheap.
std::vector<unsigned char> MakeCertificate(KeyKind kind, const std::string& commonName,
                                           uint64_t serial);

// The SHA-1 of the bytes.
std::vector<unsigned char> Sha1(const std::vector<unsigned char>& data);

}  // namespace nimbex_test
