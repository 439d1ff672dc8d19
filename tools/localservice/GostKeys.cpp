// The engine's keys are legacy keys; their curve is reached through the deprecated EC_KEY calls.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "GostKeys.h"

#include <openssl/ec.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <algorithm>
#include <iostream>

#include "GostEngine.h"
#include "ServiceError.h"

namespace localservice {
namespace gostkeys {

namespace {

struct ParamSet {
    const char* oid;
    unsigned bits;
    const char* name;  // the engine's "paramset" value
};
// The first of each size is the default of the configured keys.
const ParamSet kParamSets[] = {
    {"1.2.643.2.2.35.1", 256, "A"},      {"1.2.643.2.2.35.2", 256, "B"},
    {"1.2.643.2.2.35.3", 256, "C"},      {"1.2.643.2.2.36.0", 256, "XA"},
    {"1.2.643.2.2.36.1", 256, "XB"},     {"1.2.643.7.1.2.1.1.1", 256, "TCA"},
    {"1.2.643.7.1.2.1.1.2", 256, "TCB"}, {"1.2.643.7.1.2.1.1.3", 256, "TCC"},
    {"1.2.643.7.1.2.1.1.4", 256, "TCD"}, {"1.2.643.7.1.2.1.2.1", 512, "A"},
    {"1.2.643.7.1.2.1.2.2", 512, "B"},   {"1.2.643.7.1.2.1.2.3", 512, "C"},
};

PkeyPtr GenerateParamSet(const ParamSet& set) {
    if (!Available()) return nullptr;
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_id(
        set.bits == 256 ? NID_id_GostR3410_2012_256 : NID_id_GostR3410_2012_512, nullptr));
    EVP_PKEY* key = nullptr;
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_ctrl_str(ctx.get(), "paramset", set.name) <= 0 ||
        EVP_PKEY_keygen(ctx.get(), &key) != 1)
        throw ServiceError("internal_error", "GOST key generation failed");
    return PkeyPtr(key);
}

Bytes Reversed(const Bytes& b) {
    return Bytes(b.rbegin(), b.rend());
}

}  // namespace

bool Available() {
    static const bool available = [] {
        const gost::Engine& engine = gost::Engine::Get();
        if (!engine.available())
            std::cerr << "nimbex-localservice: " << engine.problem()
                      << "; GOST keys are not offered, only RSA and ECDSA" << std::endl;
        return engine.available();
    }();
    return available;
}

std::vector<std::string> ParamSetOids(unsigned bits) {
    std::vector<std::string> out;
    for (const ParamSet& set : kParamSets)
        if (set.bits == bits) out.push_back(set.oid);
    return out;
}

PkeyPtr Generate(const std::string& oid) {
    for (const ParamSet& set : kParamSets)
        if (oid == set.oid) return GenerateParamSet(set);
    return nullptr;
}

PkeyPtr GenerateOfType(const std::string& type) {
    const unsigned bits = type == "gost512" ? 512 : 256;
    for (const ParamSet& set : kParamSets)
        if (set.bits == bits) return GenerateParamSet(set);
    return nullptr;
}

Bytes SignDigest(EVP_PKEY* key, const Bytes& digest) {
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
    size_t length = 0;
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 ||
        EVP_PKEY_sign(ctx.get(), nullptr, &length, digest.data(), digest.size()) != 1)
        throw ServiceError("internal_error", "Cannot start GOST signing");
    Bytes signature(length);
    if (EVP_PKEY_sign(ctx.get(), signature.data(), &length, digest.data(), digest.size()) != 1)
        throw ServiceError("internal_error", "Cannot sign with the GOST key");
    signature.resize(length);
    return signature;
}

PkeyPtr PeerKey(EVP_PKEY* own, const Bytes& info) {
    const unsigned char* p = info.data();
    PkeyPtr der(d2i_PUBKEY(nullptr, &p, static_cast<long>(info.size())));
    if (der) return EVP_PKEY_parameters_eq(der.get(), own) == 1 ? std::move(der) : nullptr;
    const EC_KEY* ownCurve = static_cast<const EC_KEY*>(EVP_PKEY_get0(own));
    const size_t half = gost::KeyBits(own) / 8;
    if (!ownCurve || half == 0 || info.size() != 2 * half) return nullptr;
    EC_KEY* ec = EC_KEY_new();
    BIGNUM* x = BN_bin2bn(info.data(), static_cast<int>(half), nullptr);
    BIGNUM* y = BN_bin2bn(info.data() + half, static_cast<int>(half), nullptr);
    // Refuses points that are not on the curve.
    const bool ok = ec && x && y && EC_KEY_set_group(ec, EC_KEY_get0_group(ownCurve)) == 1 &&
                    EC_KEY_set_public_key_affine_coordinates(ec, x, y) == 1;
    BN_free(x);
    BN_free(y);
    PkeyPtr peer(ok ? EVP_PKEY_new() : nullptr);
    if (!peer || EVP_PKEY_assign(peer.get(), EVP_PKEY_get_base_id(own), ec) != 1) {
        EC_KEY_free(ec);
        return nullptr;
    }
    return peer;
}

Bytes Agree(EVP_PKEY* own, EVP_PKEY* peer, const Bytes& ukm, bool longForm) {
    const size_t maxUkm = longForm ? 16 : 8;
    if (ukm.empty() || ukm.size() > maxUkm ||
        std::all_of(ukm.begin(), ukm.end(), [](uint8_t b) { return b == 0; }))
        throw ServiceError("invalid_request", "The UKM must be a non-zero number of 1 to " +
                                                  std::to_string(maxUkm) + " bytes");
    if (longForm && gost::KeyBits(own) != 512)
        throw ServiceError("invalid_request", "The long form needs a 512-bit GOST key");
    // The engine reads the UKM least significant byte first: 8 bytes select VKO with the
    // 256-bit hash, 32 bytes (the UKM in the first 16) VKO with the 512-bit hash.
    Bytes engineUkm = Reversed(ukm);
    engineUkm.resize(longForm ? 32 : 8, 0);
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(own, nullptr));
    size_t length = 0;
    if (!ctx || EVP_PKEY_derive_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_ctrl(ctx.get(), -1, -1, EVP_PKEY_CTRL_SET_IV,
                          static_cast<int>(engineUkm.size()), engineUkm.data()) <= 0 ||
        EVP_PKEY_derive_set_peer(ctx.get(), peer) != 1 ||
        EVP_PKEY_derive(ctx.get(), nullptr, &length) != 1)
        throw ServiceError("internal_error", "Cannot start the GOST key agreement");
    Bytes key(length);
    if (EVP_PKEY_derive(ctx.get(), key.data(), &length) != 1)
        throw ServiceError("internal_error", "The GOST key agreement failed");
    key.resize(length);
    return key;
}

}  // namespace gostkeys
}  // namespace localservice
