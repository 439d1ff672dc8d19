#pragma once
#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>

// The host's cryptography for the reader's callbacks, over OpenSSL. Answers
// are reader codes: 0, 87 (a missing pointer), 234 (the output is too small,
// the needed length is written back), 0x80090008 (unknown algorithm id),
// 0x80090020 (OpenSSL failed).
namespace csphost {

// The digest of a CryptoAPI hash algorithm id (SHA-1, SHA-2, and GOST R
// 34.11-2012 through the GOST engine); null for another id or a GOST id
// without the engine.
const EVP_MD* HostDigest(uintptr_t algId);

// CryptoAPI ids: 0x8004 SHA-1, 0x800C SHA-256, 0x800D SHA-384, 0x800E SHA-512,
// 0x8021 and 0x8022 GOST R 34.11-2012 with 256 and 512 bits (only where the GOST
// engine is installed; 0x80090008 otherwise). The digest is written in the byte
// order its function writes it. A null `out` asks for the length.
uint32_t ComputeDigest(uintptr_t algId, const unsigned char* data, size_t length,
                       unsigned char* out, uint32_t* outLength);

// 0x8021: HMAC-SHA-256 (32 bytes).
uint32_t ComputeHmac(uintptr_t algId, const unsigned char* key, size_t keyLength,
                     const unsigned char* data, size_t length, unsigned char* out,
                     uint32_t* outLength);

uint32_t FillRandom(unsigned char* out, size_t length);

}  // namespace csphost
