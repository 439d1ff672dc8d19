#pragma once
#include <openssl/evp.h>

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

// The digest of the bytes with `md`.
std::vector<unsigned char> DigestOf(const EVP_MD* md, const std::vector<unsigned char>& data);

// The public key of a DER certificate (null when it does not decode); the caller frees it.
EVP_PKEY* PublicKeyOf(const std::vector<unsigned char>& certificate);

// Whether `signature` is the certificate's key's SHA-256 signature of `hash`; an ECDSA
// signature may come as r and s of 32 bytes each.
bool VerifiesSha256(const std::vector<unsigned char>& certificate,
                    const std::vector<unsigned char>& hash, std::vector<unsigned char> signature);

}  // namespace nimbex_test
