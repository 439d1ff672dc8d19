// Certificate contexts: parsing, reference counts and properties.
#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>

#include "CertInternal.h"

namespace capi {

namespace {

constexpr uint32_t kContextMagic = 0x43455254;  // "CERT"

// Skips the tag and length of one DER element; false when malformed.
bool SkipHeader(const uint8_t* p, size_t size, size_t* header, size_t* length) {
    if (size < 2) return false;
    size_t pos = 1;
    size_t len = p[pos++];
    if (len & 0x80) {
        size_t n = len & 0x7F;
        if (n == 0 || n > 4 || size < pos + n) return false;
        len = 0;
        for (size_t i = 0; i < n; ++i) len = (len << 8) | p[pos++];
    }
    if (len > size - pos) return false;
    *header = pos;
    *length = len;
    return true;
}

// The OID text and the DER parameters of an AlgorithmIdentifier.
bool AlgorithmParts(const X509_ALGOR* alg, std::string* oid, Bytes* params) {
    const ASN1_OBJECT* obj = nullptr;
    X509_ALGOR_get0(&obj, nullptr, nullptr, alg);
    char text[256];
    int n = OBJ_obj2txt(text, sizeof text, obj, 1);
    if (n <= 0 || n >= static_cast<int>(sizeof text)) return false;
    oid->assign(text, static_cast<size_t>(n));
    unsigned char* der = nullptr;
    int derLen = i2d_X509_ALGOR(alg, &der);
    if (derLen <= 0) return false;
    // SEQUENCE { OID, parameters }: the parameters are what follows the OID.
    size_t h, l, oh, ol;
    bool ok =
        SkipHeader(der, static_cast<size_t>(derLen), &h, &l) && SkipHeader(der + h, l, &oh, &ol);
    if (ok) params->assign(der + h + oh + ol, der + h + l);
    OPENSSL_free(der);
    return ok;
}

bool NameDer(const X509_NAME* name, Bytes* out) {
    const unsigned char* der = nullptr;
    size_t len = 0;
    if (!X509_NAME_get0_der(const_cast<X509_NAME*>(name), &der, &len)) return false;
    out->assign(der, der + len);
    return true;
}

// Counted as days and seconds from the Unix epoch rather than through time_t,
// which is 32 bits wide on 32-bit targets and ends in 2038.
bool FileTimeOf(const ASN1_TIME* t, int64_t* out) {
    if (!t) return false;
    ASN1_TIME* epoch = ASN1_TIME_set(nullptr, 0);
    int days = 0, secs = 0;
    const bool ok = epoch && ASN1_TIME_diff(&days, &secs, epoch, t);
    ASN1_TIME_free(epoch);
    if (!ok) return false;
    *out = (int64_t(days) * 86400 + secs + 11644473600LL) * 10000000LL;
    return true;
}

void SetBlob(CRYPT_INTEGER_BLOB* blob, Bytes& bytes) {
    blob->cbData = static_cast<DWORD>(bytes.size());
    blob->pbData = bytes.empty() ? nullptr : bytes.data();
}

void SetFileTime(FILETIME* ft, int64_t ticks) {
    ft->dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks));
    ft->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
}

}  // namespace

bool ParseCertificate(const uint8_t* der, size_t size, CertFields* out) {
    if (!der || size == 0 || size > 0x7FFFFFFF) return false;
    const unsigned char* p = der;
    X509* x = d2i_X509(nullptr, &p, static_cast<long>(size));
    if (!x) return false;
    CertFields f;
    bool ok = p == der + size;
    ok = ok && NameDer(X509_get_subject_name(x), &f.subject) &&
         NameDer(X509_get_issuer_name(x), &f.issuer);
    if (ok) {
        unsigned char* serial = nullptr;
        int n = i2d_ASN1_INTEGER(X509_get_serialNumber(x), &serial);
        size_t h, l;
        ok = n > 0 && SkipHeader(serial, static_cast<size_t>(n), &h, &l);
        if (ok) f.serial.assign(serial + h, serial + h + l);
        std::reverse(f.serial.begin(), f.serial.end());
        OPENSSL_free(serial);
    }
    if (ok) {
        X509_ALGOR* keyAlg = nullptr;
        const unsigned char* key = nullptr;
        int keyLen = 0;
        ok = X509_PUBKEY_get0_param(nullptr, &key, &keyLen, &keyAlg, X509_get_X509_PUBKEY(x)) &&
             AlgorithmParts(keyAlg, &f.keyAlg, &f.keyParams);
        if (ok && key && keyLen > 0) f.publicKey.assign(key, key + keyLen);
    }
    if (ok) {
        const X509_ALGOR* sigAlg = nullptr;
        X509_get0_signature(nullptr, &sigAlg, x);
        ok = sigAlg && AlgorithmParts(sigAlg, &f.sigAlg, &f.sigParams);
    }
    ok = ok && FileTimeOf(X509_get0_notBefore(x), &f.notBefore) &&
         FileTimeOf(X509_get0_notAfter(x), &f.notAfter);
    if (ok) {
        long version = X509_get_version(x);
        f.version = version >= 0 && version <= 2 ? static_cast<DWORD>(version) : 0;
        f.der.assign(der, der + size);
        f.sha1.resize(SHA_DIGEST_LENGTH);
        SHA1(der, size, f.sha1.data());
        *out = std::move(f);
    }
    X509_free(x);
    return ok;
}

CertContextImpl* NewContext(CertFields&& fields, PropertyMap&& props, Store* store, int64_t row) {
    auto* c = new CertContextImpl();
    c->magic = kContextMagic;
    c->refs = 1;
    c->fields = std::move(fields);
    c->props = std::move(props);
    c->store = store;
    c->row = row;
    if (store) AddRefStore(store);
    CertFields& f = c->fields;
    CERT_INFO& i = c->info;
    memset(&i, 0, sizeof i);
    i.dwVersion = f.version;
    SetBlob(&i.SerialNumber, f.serial);
    i.SignatureAlgorithm.pszObjId = f.sigAlg.data();
    SetBlob(&i.SignatureAlgorithm.Parameters, f.sigParams);
    SetBlob(&i.Issuer, f.issuer);
    SetFileTime(&i.NotBefore, f.notBefore);
    SetFileTime(&i.NotAfter, f.notAfter);
    SetBlob(&i.Subject, f.subject);
    i.SubjectPublicKeyInfo.Algorithm.pszObjId = f.keyAlg.data();
    SetBlob(&i.SubjectPublicKeyInfo.Algorithm.Parameters, f.keyParams);
    i.SubjectPublicKeyInfo.PublicKey.cbData = static_cast<DWORD>(f.publicKey.size());
    i.SubjectPublicKeyInfo.PublicKey.pbData = f.publicKey.empty() ? nullptr : f.publicKey.data();
    i.SubjectPublicKeyInfo.PublicKey.cUnusedBits = f.publicKeyUnusedBits;
    c->pub.dwCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    c->pub.pbCertEncoded = f.der.data();
    c->pub.cbCertEncoded = static_cast<DWORD>(f.der.size());
    c->pub.pCertInfo = &c->info;
    c->pub.hCertStore = store;
    return c;
}

CertContextImpl* ContextFromHandle(PCCERT_CONTEXT handle) {
    if (!handle) return nullptr;
    // The public record is the first member of the implementation.
    auto* c = reinterpret_cast<CertContextImpl*>(const_cast<CERT_CONTEXT*>(handle));
    return c->magic == kContextMagic ? c : nullptr;
}

void AddRefContext(CertContextImpl* context) {
    context->refs.fetch_add(1);
}

void ReleaseContext(CertContextImpl* context) {
    if (context->refs.fetch_sub(1) != 1) return;
    Store* store = context->store;
    context->magic = 0;
    delete context;
    if (store) ReleaseStore(store);
}

}  // namespace capi

using namespace capi;

extern "C" PCCERT_CONTEXT CertCreateCertificateContext(DWORD encodingType, const BYTE* encoded,
                                                       DWORD encodedLength) {
    if (!(encodingType & X509_ASN_ENCODING)) return Fail<PCCERT_CONTEXT>(E_INVALIDARG, nullptr);
    if (!encoded || encodedLength == 0) return Fail<PCCERT_CONTEXT>(E_INVALIDARG, nullptr);
    CertFields fields;
    if (!ParseCertificate(encoded, encodedLength, &fields))
        return Fail<PCCERT_CONTEXT>(CRYPT_E_ASN1_BADTAG, nullptr);
    return &NewContext(std::move(fields), PropertyMap(), nullptr, 0)->pub;
}

extern "C" PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT context) {
    CertContextImpl* c = ContextFromHandle(context);
    if (!c) return Fail<PCCERT_CONTEXT>(E_INVALIDARG, nullptr);
    AddRefContext(c);
    return context;
}

extern "C" BOOL CertFreeCertificateContext(PCCERT_CONTEXT context) {
    if (!context) return TRUE;
    CertContextImpl* c = ContextFromHandle(context);
    if (!c) return Fail<BOOL>(E_INVALIDARG, FALSE);
    ReleaseContext(c);
    return TRUE;
}

extern "C" BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT context, DWORD propId, void* data,
                                                  DWORD* dataLength) {
    CertContextImpl* c = ContextFromHandle(context);
    if (!c || !dataLength) return Fail<BOOL>(E_INVALIDARG, FALSE);
    Bytes value;
    KeyProvInfo keyProv;
    bool isKeyProv = false;
    if (propId == CERT_SHA1_HASH_PROP_ID) {
        value = c->fields.sha1;
    } else {
        std::lock_guard<std::mutex> guard(c->lock);
        auto it = c->props.find(propId);
        if (it == c->props.end()) return Fail<BOOL>(CRYPT_E_NOT_FOUND, FALSE);
        if (propId == CERT_KEY_PROV_INFO_PROP_ID) {
            if (!DeserializeKeyProvInfo(it->second.data(), it->second.size(), &keyProv))
                return Fail<BOOL>(CRYPT_E_ASN1_CORRUPT, FALSE);
            isKeyProv = true;
        } else {
            value = it->second;
        }
    }
    size_t needed = isKeyProv ? KeyProvInfoBlockSize(keyProv) : value.size();
    if (needed > 0xFFFFFFFFu) return Fail<BOOL>(ERROR_NOT_ENOUGH_MEMORY, FALSE);
    DWORD capacity = *dataLength;
    *dataLength = static_cast<DWORD>(needed);
    if (!data) return TRUE;
    if (capacity < needed) return Fail<BOOL>(ERROR_MORE_DATA, FALSE);
    if (isKeyProv)
        WriteKeyProvInfoBlock(keyProv, data);
    else if (!value.empty())
        memcpy(data, value.data(), value.size());
    return TRUE;
}

extern "C" BOOL CertSetCertificateContextProperty(PCCERT_CONTEXT context, DWORD propId,
                                                  DWORD /*flags*/, const void* data) {
    CertContextImpl* c = ContextFromHandle(context);
    if (!c || propId == 0 || propId == CERT_SHA1_HASH_PROP_ID)
        return Fail<BOOL>(E_INVALIDARG, FALSE);
    Bytes value;
    if (data) {
        if (propId == CERT_KEY_PROV_INFO_PROP_ID) {
            value = SerializeKeyProvInfo(
                KeyProvInfoFromStruct(*static_cast<const CRYPT_KEY_PROV_INFO*>(data)));
        } else {
            const auto* blob = static_cast<const CRYPT_DATA_BLOB*>(data);
            if (blob->cbData && !blob->pbData) return Fail<BOOL>(E_INVALIDARG, FALSE);
            if (blob->cbData) value.assign(blob->pbData, blob->pbData + blob->cbData);
        }
    }
    if (c->store) {
        PropertyMap stored;
        DWORD error =
            StoreUpdateProperty(c->store, c->row, propId, data ? &value : nullptr, &stored);
        if (error) return Fail<BOOL>(error, FALSE);
        std::lock_guard<std::mutex> guard(c->lock);
        c->props = std::move(stored);
        return TRUE;
    }
    std::lock_guard<std::mutex> guard(c->lock);
    if (data)
        c->props[propId] = std::move(value);
    else
        c->props.erase(propId);
    return TRUE;
}
