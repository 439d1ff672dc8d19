#include "HostCrypto.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <climits>

#include "GostEngine.h"

namespace csphost {

namespace {

const uint32_t kInvalidParameter = 87;
const uint32_t kMoreData = 234;
const uint32_t kBadAlgId = 0x80090008;
const uint32_t kFail = 0x80090020;
const uintptr_t kHmacSha256 = 0x8021;

// The size rule shared by both: length query, too small, or room.
uint32_t CheckRoom(const unsigned char* out, uint32_t* outLength, uint32_t needed) {
    const uint32_t capacity = *outLength;
    *outLength = needed;
    if (!out) return 0;
    return capacity < needed ? kMoreData : 0;
}

}  // namespace

const EVP_MD* HostDigest(uintptr_t algId) {
    switch (algId) {
        case 0x8021:  // GOST R 34.11-2012, 256 bits (through the GOST engine, when installed)
            return gost::Engine::Get().streebog256();
        case 0x8022:  // GOST R 34.11-2012, 512 bits
            return gost::Engine::Get().streebog512();
        case 0x8004:
            return EVP_sha1();
        case 0x800C:
            return EVP_sha256();
        case 0x800D:
            return EVP_sha384();
        case 0x800E:
            return EVP_sha512();
        default:
            return nullptr;
    }
}

uint32_t ComputeDigest(uintptr_t algId, const unsigned char* data, size_t length,
                       unsigned char* out, uint32_t* outLength) {
    const EVP_MD* md = HostDigest(algId);
    if (!md) return kBadAlgId;
    if (!outLength || (!data && length)) return kInvalidParameter;
    const uint32_t rc = CheckRoom(out, outLength, static_cast<uint32_t>(EVP_MD_size(md)));
    if (rc || !out) return rc;
    unsigned int written = 0;
    if (EVP_Digest(data, length, out, &written, md, nullptr) != 1) return kFail;
    *outLength = written;
    return 0;
}

uint32_t ComputeHmac(uintptr_t algId, const unsigned char* key, size_t keyLength,
                     const unsigned char* data, size_t length, unsigned char* out,
                     uint32_t* outLength) {
    if (algId != kHmacSha256) return kBadAlgId;
    if (!outLength || (!key && keyLength) || (!data && length) || keyLength > INT_MAX)
        return kInvalidParameter;
    const uint32_t rc = CheckRoom(out, outLength, 32);
    if (rc || !out) return rc;
    static const unsigned char kEmpty = 0;
    unsigned int written = 0;
    if (!HMAC(EVP_sha256(), key ? key : &kEmpty, static_cast<int>(keyLength), data ? data : &kEmpty,
              length, out, &written))
        return kFail;
    *outLength = written;
    return 0;
}

uint32_t FillRandom(unsigned char* out, size_t length) {
    if (length == 0) return 0;
    if (!out || length > INT_MAX) return kInvalidParameter;
    return RAND_bytes(out, static_cast<int>(length)) == 1 ? 0 : kFail;
}

}  // namespace csphost
