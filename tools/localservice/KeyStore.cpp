#include "KeyStore.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/pkcs12.h>
#include <openssl/rsa.h>
#include <sys/stat.h>

#include <algorithm>

#include "GostEngine.h"
#include "GostKeys.h"
#include "ServiceError.h"

namespace localservice {

namespace {

const char kEcOid[] = "1.2.840.10045.3.1.7";
const char kRsaOid1[] = "1.3.14.3.2.11";
const char kRsaOid2[] = "1.3.14.3.2.22";

bool isEc(EVP_PKEY* k) {
    return EVP_PKEY_is_a(k, "EC") == 1;
}

bool isGost(EVP_PKEY* k) {
    return gost::KeyBits(k) != 0;
}

// The configuration's name of a key's type: "rsa", "ec", "gost256" or "gost512".
std::string typeOf(EVP_PKEY* k) {
    if (isGost(k)) return "gost" + std::to_string(gost::KeyBits(k));
    return isEc(k) ? "ec" : "rsa";
}

PkeyPtr newKeyOfType(const std::string& type, unsigned rsaBits) {
    if (type.rfind("gost", 0) == 0) return gostkeys::GenerateOfType(type);
    return generateKey(type, rsaBits);
}

bool isP256(EVP_PKEY* k) {
    char group[64] = {0};
    size_t len = 0;
    return isEc(k) && EVP_PKEY_get_group_name(k, group, sizeof(group), &len) == 1 &&
           (std::string(group) == "prime256v1" || std::string(group) == "P-256");
}

PkeyPtr peerKeyFrom(const Bytes& peer) {
    if (peer.empty()) return nullptr;
    const unsigned char* p = peer.data();
    PkeyPtr key(d2i_PUBKEY(nullptr, &p, static_cast<long>(peer.size())));
    if (key) return isP256(key.get()) ? std::move(key) : nullptr;
    Bytes point;
    if (peer.size() == 65 && peer[0] == 0x04)
        point = peer;
    else if (peer.size() == 64) {
        point.push_back(0x04);
        point.insert(point.end(), peer.begin(), peer.end());
    } else
        return nullptr;
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1) return nullptr;
    char group[] = "prime256v1";
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()),
        OSSL_PARAM_construct_end()};
    EVP_PKEY* out = nullptr;
    if (EVP_PKEY_fromdata(ctx.get(), &out, EVP_PKEY_PUBLIC_KEY, params) != 1) return nullptr;
    PkeyPtr result(out);
    // Reject points that are not on the curve.
    PkeyCtxPtr check(EVP_PKEY_CTX_new_from_pkey(nullptr, result.get(), nullptr));
    if (!check || EVP_PKEY_public_check(check.get()) != 1) return nullptr;
    return result;
}

std::string commonNameOf(X509* cert) {
    char buf[256] = {0};
    X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, buf, sizeof(buf));
    return buf;
}

}  // namespace

const EVP_MD* hashAlgorithmFor(uint32_t algId, size_t hashLength, bool gostKey) {
    if (gostKey) {
        const gost::Engine& engine = gost::Engine::Get();
        if (algId == kCalgStreebog256 || (algId == 0 && hashLength == 32))
            return engine.streebog256();
        if (algId == kCalgStreebog512 || (algId == 0 && hashLength == 64))
            return engine.streebog512();
        return nullptr;
    }
    switch (algId) {
        case kCalgSha1:
            return EVP_sha1();
        case kCalgSha256:
            return EVP_sha256();
        case kCalgSha384:
            return EVP_sha384();
        case kCalgSha512:
            return EVP_sha512();
        case 0:
            break;
        default:
            return nullptr;
    }
    switch (hashLength) {
        case 20:
            return EVP_sha1();
        case 32:
            return EVP_sha256();
        case 48:
            return EVP_sha384();
        case 64:
            return EVP_sha512();
        default:
            return nullptr;
    }
}

KeyStore::KeyStore(std::string stateDir, const CertificateAuthority& ca)
    : stateDir_(std::move(stateDir)), ca_(ca) {}

void KeyStore::loadConfigured(const std::vector<UserConfig>& users, uint32_t pinAttempts) {
    std::string dir = stateDir_ + "/keys";
    mkdir(dir.c_str(), 0700);
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& u : users) {
        for (const auto& k : u.keys) {
            // Without the GOST engine GOST keys are left out (the engine check says so once).
            if (k.type.rfind("gost", 0) == 0 && !gostkeys::Available()) continue;
            std::string base = dir + "/" + std::to_string(k.id) + "-" + k.type;
            PkeyPtr key = readPrivateKeyPem(base + ".key.pem");
            bool fresh = false;
            if (!key || typeOf(key.get()) != k.type) {
                key = newKeyOfType(k.type, k.rsaBits);
                writePrivateKeyPem(base + ".key.pem", key.get());
                fresh = true;
            }
            Entry e;
            e.id = k.id;
            e.owner = u.login;
            e.friendlyName = k.friendlyName;
            std::string cn =
                k.friendlyName.empty() ? u.login + " key " + std::to_string(k.id) : k.friendlyName;
            if (fresh || !readFile(base + ".cert.der", e.certDer) || e.certDer.empty()) {
                e.certDer = ca_.issueUserCertificate(key.get(), cn);
                writeFile(base + ".cert.der", e.certDer);
            }
            e.key = shareKey(std::move(key));
            e.pin = e.configuredPin = k.pin;
            e.hasPin = !k.pin.empty();
            e.attemptsLeft = e.maxAttempts = pinAttempts;
            keys_[e.id] = e;
            nextId_ = std::max(nextId_, e.id + 1);
        }
    }
}

Json::Value KeyStore::toRecord(const Entry& e) {
    Json::Value v;
    v["ID"] = e.id;
    v["CertificateBase64"] = base64Encode(e.certDer);
    v["FriendlyName"] = e.friendlyName;
    v["HasPin"] = e.hasPin;
    return v;
}

KeyStore::Entry& KeyStore::find(const std::string& owner, uint32_t id) {
    auto it = keys_.find(id);
    if (it == keys_.end() || it->second.owner != owner)
        throw ServiceError("invalid_certificate", "No certificate with this id");
    return it->second;
}

const KeyStore::Entry& KeyStore::find(const std::string& owner, uint32_t id) const {
    auto it = keys_.find(id);
    if (it == keys_.end() || it->second.owner != owner)
        throw ServiceError("invalid_certificate", "No certificate with this id");
    return it->second;
}

Json::Value KeyStore::list(const std::string& owner) const {
    std::lock_guard<std::mutex> lock(mutex_);
    Json::Value out(Json::arrayValue);
    for (const auto& k : keys_)
        if (k.second.owner == owner) out.append(toRecord(k.second));
    return out;
}

Json::Value KeyStore::listByThumbprint(const std::string& owner, const Bytes& thumb) const {
    std::lock_guard<std::mutex> lock(mutex_);
    Json::Value out(Json::arrayValue);
    for (const auto& k : keys_) {
        if (k.second.owner != owner) continue;
        if (sha1(k.second.certDer.data(), k.second.certDer.size()) == thumb)
            out.append(toRecord(k.second));
    }
    return out;
}

Json::Value KeyStore::record(const std::string& owner, uint32_t id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return toRecord(find(owner, id));
}

KeyStore::PinCheck KeyStore::checkPin(Entry& e, const std::string& pin) {
    if (!e.hasPin) return {true, e.maxAttempts, ""};
    if (e.attemptsLeft == 0) return {false, 0, "key_blocked"};
    if (pin == e.pin) {
        e.attemptsLeft = e.maxAttempts;
        return {true, e.attemptsLeft, ""};
    }
    --e.attemptsLeft;
    return {false, e.attemptsLeft, e.attemptsLeft == 0 ? "key_blocked" : "invalid_pin"};
}

void KeyStore::requirePin(Entry& e, const std::string& pin) {
    PinCheck c = checkPin(e, pin);
    if (!c.valid)
        throw ServiceError(c.error,
                           c.error == "key_blocked"
                               ? "The key is blocked after too many wrong PINs"
                               : "Wrong PIN, " + std::to_string(c.remaining) + " attempts left");
}

Bytes KeyStore::signHash(const std::string& owner, uint32_t id, const std::string& pin,
                         const Bytes& hash, uint32_t algId) {
    bool gostKey = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        gostKey = isGost(find(owner, id).key.get());
    }
    // A GOST hash arrives most significant byte first, the reverse of how its function writes it.
    return signDigest(owner, id, pin, gostKey ? Bytes(hash.rbegin(), hash.rend()) : hash, algId);
}

Bytes KeyStore::signDigest(const std::string& owner, uint32_t id, const std::string& pin,
                           const Bytes& hash, uint32_t algId) {
    std::lock_guard<std::mutex> lock(mutex_);
    Entry& e = find(owner, id);
    if (hash.empty()) throw ServiceError("content_required", "No hash to sign");
    const bool gostKey = isGost(e.key.get());
    const EVP_MD* md = hashAlgorithmFor(algId, hash.size(), gostKey);
    if (!md) throw ServiceError("invalid_hash_alg", "Unknown hash algorithm");
    if (static_cast<size_t>(EVP_MD_get_size(md)) != hash.size())
        throw ServiceError("invalid_signature_params",
                           "The hash length does not fit the hash algorithm");
    requirePin(e, pin);
    if (gostKey) return gostkeys::SignDigest(e.key.get(), hash);
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(e.key.get(), nullptr));
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1)
        throw ServiceError("internal_error", "Cannot start signing");
    bool ec = isEc(e.key.get());
    if (!ec) {
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING);
        EVP_PKEY_CTX_set_signature_md(ctx.get(), md);
    }
    size_t len = 0;
    if (EVP_PKEY_sign(ctx.get(), nullptr, &len, hash.data(), hash.size()) != 1)
        throw ServiceError("internal_error", "Cannot sign");
    Bytes sig(len);
    if (EVP_PKEY_sign(ctx.get(), sig.data(), &len, hash.data(), hash.size()) != 1)
        throw ServiceError("internal_error", "Cannot sign");
    sig.resize(len);
    if (!ec) return sig;
    const unsigned char* p = sig.data();
    ECDSA_SIG* es = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(sig.size()));
    if (!es) throw ServiceError("internal_error", "Cannot decode the ECDSA signature");
    Bytes raw(64);
    BN_bn2binpad(ECDSA_SIG_get0_r(es), raw.data(), 32);
    BN_bn2binpad(ECDSA_SIG_get0_s(es), raw.data() + 32, 32);
    ECDSA_SIG_free(es);
    return raw;
}

const EVP_MD* KeyStore::documentHash(const std::string& owner, uint32_t id, uint32_t algId,
                                     uint32_t& usedAlgId) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const unsigned bits = gost::KeyBits(find(owner, id).key.get());
    usedAlgId = algId         ? algId
                : bits == 512 ? kCalgStreebog512
                : bits == 256 ? kCalgStreebog256
                              : kCalgSha256;
    return hashAlgorithmFor(usedAlgId, 0, bits != 0);
}

Bytes KeyStore::signDocument(const std::string& owner, uint32_t id, const std::string& pin,
                             const Bytes& document, uint32_t algId) {
    uint32_t used = 0;
    const EVP_MD* md = documentHash(owner, id, algId, used);
    if (!md) throw ServiceError("invalid_hash_alg", "Unknown hash algorithm");
    Bytes hash(static_cast<size_t>(EVP_MD_get_size(md)));
    unsigned int len = 0;
    EVP_Digest(document.data(), document.size(), hash.data(), &len, md, nullptr);
    return signDigest(owner, id, pin, hash, used);
}

Bytes KeyStore::agree(const std::string& owner, uint32_t id, const std::string& pin,
                      const Bytes& peer, const Bytes& ukm, const Bytes& mask, uint32_t vkoAlgId) {
    std::lock_guard<std::mutex> lock(mutex_);
    Entry& e = find(owner, id);
    if (!isEc(e.key.get()) && !isGost(e.key.get()))
        throw ServiceError("invalid_certificate", "Key agreement needs an EC or a GOST key");
    if (vkoAlgId != 0 && vkoAlgId != kVkoLongForm)
        throw ServiceError("invalid_request", "Unknown key agreement algorithm");
    if (isGost(e.key.get())) {
        PkeyPtr peerKey = gostkeys::PeerKey(e.key.get(), peer);
        if (!peerKey)
            throw ServiceError("invalid_request",
                               "The peer public key is not a key of this key's parameter set");
        const size_t outLen = vkoAlgId == kVkoLongForm ? 64 : 32;
        if (!mask.empty() && mask.size() != outLen)
            throw ServiceError("invalid_request", "The mask must be empty or as long as the key");
        requirePin(e, pin);
        Bytes k = gostkeys::Agree(e.key.get(), peerKey.get(), ukm, vkoAlgId == kVkoLongForm);
        for (size_t i = 0; i < mask.size(); ++i) k[i] ^= mask[i];
        return k;
    }
    PkeyPtr peerKey = peerKeyFrom(peer);
    if (!peerKey) throw ServiceError("invalid_request", "The peer public key is not a P-256 key");
    size_t outLen = vkoAlgId == kVkoLongForm ? 64 : 32;
    if (!mask.empty() && mask.size() != outLen)
        throw ServiceError("invalid_request", "The mask must be empty or as long as the key");
    requirePin(e, pin);
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(e.key.get(), nullptr));
    size_t zlen = 0;
    if (!ctx || EVP_PKEY_derive_init(ctx.get()) != 1 ||
        EVP_PKEY_derive_set_peer(ctx.get(), peerKey.get()) != 1 ||
        EVP_PKEY_derive(ctx.get(), nullptr, &zlen) != 1)
        throw ServiceError("internal_error", "Cannot derive the shared secret");
    Bytes z(zlen);
    if (EVP_PKEY_derive(ctx.get(), z.data(), &zlen) != 1)
        throw ServiceError("internal_error", "Cannot derive the shared secret");
    z.resize(zlen);
    Bytes data = z;
    data.insert(data.end(), ukm.begin(), ukm.end());
    Bytes k(outLen);
    unsigned int len = 0;
    EVP_Digest(data.data(), data.size(), k.data(), &len,
               vkoAlgId == kVkoLongForm ? EVP_sha512() : EVP_sha256(), nullptr);
    for (size_t i = 0; i < mask.size(); ++i) k[i] ^= mask[i];
    return k;
}

uint32_t KeyStore::addEntry(Entry e) {
    e.id = nextId_++;
    keys_[e.id] = e;
    return e.id;
}

Json::Value KeyStore::generate(const std::string& owner, const std::string& oid, uint32_t keyLength,
                               const std::string& pin, uint32_t pinAttempts) {
    bool rsa = oid == kRsaOid1 || oid == kRsaOid2;
    if (oid.rfind("1.2.643.", 0) == 0) return generateGost(owner, oid, keyLength, pin, pinAttempts);
    if (!rsa && oid != kEcOid)
        throw ServiceError("invalid_request", "The service cannot generate keys for " + oid);
    if (rsa && keyLength == 0) keyLength = 2048;
    if (rsa && (keyLength < 1024 || keyLength > 4096 || keyLength % 8 != 0))
        throw ServiceError("invalid_request", "Unsupported RSA key length");
    if (!rsa && keyLength != 0 && keyLength != 256)
        throw ServiceError("invalid_request", "EC keys are 256 bits long");
    return addGenerated(owner, generateKey(rsa ? "rsa" : "ec", keyLength),
                        rsa ? " generated RSA key" : " generated EC key", pin, pinAttempts);
}

Json::Value KeyStore::generateGost(const std::string& owner, const std::string& oid,
                                   uint32_t keyLength, const std::string& pin,
                                   uint32_t pinAttempts) {
    PkeyPtr key = gostkeys::Generate(oid);
    if (!key) throw ServiceError("invalid_request", "The service cannot generate keys for " + oid);
    if (keyLength != 0 && keyLength != gost::KeyBits(key.get()))
        throw ServiceError("invalid_request", "The parameter set fixes the key length");
    return addGenerated(owner, std::move(key), " generated GOST key", pin, pinAttempts);
}

Json::Value KeyStore::addGenerated(const std::string& owner, PkeyPtr key, const char* what,
                                   const std::string& pin, uint32_t pinAttempts) {
    std::lock_guard<std::mutex> lock(mutex_);
    Entry e;
    e.owner = owner;
    e.friendlyName = owner + what;
    e.certDer = ca_.issueUserCertificate(key.get(), e.friendlyName);
    e.key = shareKey(std::move(key));
    e.pin = e.configuredPin = pin;
    e.hasPin = !pin.empty();
    e.attemptsLeft = e.maxAttempts = pinAttempts;
    uint32_t id = addEntry(e);
    return toRecord(keys_[id]);
}

Json::Value KeyStore::importPfx(const std::string& owner, const Bytes& pfx,
                                const std::string& password, uint32_t pinAttempts) {
    const unsigned char* p = pfx.data();
    PKCS12* p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(pfx.size()));
    if (!p12) throw ServiceError("invalid_request", "The PFX data is not a PKCS #12 file");
    EVP_PKEY* rawKey = nullptr;
    X509* rawCert = nullptr;
    STACK_OF(X509)* chain = nullptr;
    int ok = PKCS12_parse(p12, password.c_str(), &rawKey, &rawCert, &chain);
    PKCS12_free(p12);
    sk_X509_pop_free(chain, X509_free);
    PkeyPtr key(rawKey);
    X509Ptr cert(rawCert);
    if (ok != 1)
        throw ServiceError("invalid_password", "Cannot open the PFX file with this password");
    if (!key || !cert)
        throw ServiceError("invalid_request", "The PFX file holds no key and certificate");
    if (!EVP_PKEY_is_a(key.get(), "RSA") && !isP256(key.get()))
        throw ServiceError("invalid_request", "Only RSA and P-256 keys can be imported");
    if (X509_check_private_key(cert.get(), key.get()) != 1)
        throw ServiceError("invalid_certificate", "The certificate does not match the key");
    std::lock_guard<std::mutex> lock(mutex_);
    Entry e;
    e.owner = owner;
    int aliasLen = 0;
    unsigned char* alias = X509_alias_get0(cert.get(), &aliasLen);
    e.friendlyName =
        alias ? std::string(reinterpret_cast<char*>(alias), static_cast<size_t>(aliasLen))
              : commonNameOf(cert.get());
    e.certDer = certificateToDer(cert.get());
    e.key = shareKey(std::move(key));
    e.hasPin = false;
    e.attemptsLeft = e.maxAttempts = pinAttempts;
    uint32_t id = addEntry(e);
    return toRecord(keys_[id]);
}

Json::Value KeyStore::installCertificate(const std::string& owner, const Bytes& der) {
    const unsigned char* p = der.data();
    X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    if (!cert || p != der.data() + der.size())
        throw ServiceError("invalid_certificate", "The data is not a DER certificate");
    EVP_PKEY* pub = X509_get0_pubkey(cert.get());
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& k : keys_) {
        if (k.second.owner == owner && pub && EVP_PKEY_eq(k.second.key.get(), pub) == 1) {
            k.second.certDer = der;
            return toRecord(k.second);
        }
    }
    throw ServiceError("invalid_certificate", "No key of this user matches the certificate");
}

void KeyStore::remove(const std::string& owner, uint32_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    find(owner, id);
    keys_.erase(id);
}

void KeyStore::changePin(const std::string& owner, uint32_t id, const std::string& oldPin,
                         const std::string& newPin) {
    std::lock_guard<std::mutex> lock(mutex_);
    Entry& e = find(owner, id);
    requirePin(e, oldPin);
    e.pin = newPin;
    e.hasPin = !newPin.empty();
}

KeyStore::PinCheck KeyStore::validatePin(const std::string& owner, uint32_t id,
                                         const std::string& pin) {
    std::lock_guard<std::mutex> lock(mutex_);
    return checkPin(find(owner, id), pin);
}

void KeyStore::setParam(const std::string& owner, uint32_t id, const std::string& name,
                        const std::string& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    find(owner, id).params[name] = value;
}

std::string KeyStore::getParam(const std::string& owner, uint32_t id,
                               const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const Entry& e = find(owner, id);
    auto it = e.params.find(name);
    return it == e.params.end() ? std::string() : it->second;
}

void KeyStore::resetPins(uint32_t pinAttempts) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& k : keys_) {
        k.second.pin = k.second.configuredPin;
        k.second.hasPin = !k.second.pin.empty();
        k.second.attemptsLeft = k.second.maxAttempts = pinAttempts;
    }
}

}  // namespace localservice
