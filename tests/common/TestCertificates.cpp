#include "TestCertificates.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <mutex>
#include <stdexcept>

namespace nimbex_test {

namespace {

EVP_PKEY* Key(KeyKind kind) {
    static std::mutex lock;
    static EVP_PKEY* keys[3] = {};
    std::lock_guard<std::mutex> guard(lock);
    EVP_PKEY*& key = keys[static_cast<int>(kind)];
    if (!key) {
        key = kind == KeyKind::Rsa  ? EVP_RSA_gen(2048)
              : kind == KeyKind::Ec ? EVP_EC_gen("P-256")
                                    : EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
        if (!key) throw std::runtime_error("key generation failed");
    }
    return key;
}

}  // namespace

std::vector<unsigned char> MakeCertificate(KeyKind kind, const std::string& commonName,
                                           uint64_t serial) {
    EVP_PKEY* key = Key(kind);
    X509* x = X509_new();
    X509_set_version(x, 2);
    ASN1_INTEGER_set_uint64(X509_get_serialNumber(x), serial);
    X509_gmtime_adj(X509_getm_notBefore(x), 0);
    X509_gmtime_adj(X509_getm_notAfter(x), 3600L * 24 * 365);
    X509_NAME* name = X509_get_subject_name(x);
    if (!commonName.empty())
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(commonName.c_str()), -1,
                                   -1, 0);
    X509_NAME_add_entry_by_txt(X509_get_issuer_name(x), "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("Test CA"), -1, -1, 0);
    X509_set_pubkey(x, key);
    if (X509_sign(x, key, kind == KeyKind::Ed25519 ? nullptr : EVP_sha256()) <= 0) {
        X509_free(x);
        throw std::runtime_error("signing failed");
    }
    unsigned char* der = nullptr;
    int n = i2d_X509(x, &der);
    X509_free(x);
    if (n <= 0) throw std::runtime_error("encoding failed");
    std::vector<unsigned char> out(der, der + n);
    OPENSSL_free(der);
    return out;
}

std::vector<unsigned char> DigestOf(const EVP_MD* md, const std::vector<unsigned char>& data) {
    std::vector<unsigned char> out(EVP_MD_get_size(md));
    EVP_Digest(data.data(), data.size(), out.data(), nullptr, md, nullptr);
    return out;
}

std::vector<unsigned char> Sha1(const std::vector<unsigned char>& data) {
    return DigestOf(EVP_sha1(), data);
}

EVP_PKEY* PublicKeyOf(const std::vector<unsigned char>& certificate) {
    const unsigned char* p = certificate.data();
    X509* cert = d2i_X509(nullptr, &p, long(certificate.size()));
    EVP_PKEY* key = cert ? X509_get_pubkey(cert) : nullptr;
    X509_free(cert);
    return key;
}

bool VerifiesSha256(const std::vector<unsigned char>& certificate,
                    const std::vector<unsigned char>& hash, std::vector<unsigned char> signature) {
    EVP_PKEY* key = PublicKeyOf(certificate);
    if (EVP_PKEY_get_base_id(key) == EVP_PKEY_EC && signature.size() == 64) {  // r and s to DER
        ECDSA_SIG* rs = ECDSA_SIG_new();
        ECDSA_SIG_set0(rs, BN_bin2bn(&signature[0], 32, nullptr),
                       BN_bin2bn(&signature[32], 32, nullptr));
        unsigned char* der = nullptr;
        const int n = i2d_ECDSA_SIG(rs, &der);
        signature.assign(der, der + n);
        OPENSSL_free(der);
        ECDSA_SIG_free(rs);
    }
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    const bool ok =
        EVP_PKEY_verify_init(ctx) == 1 && EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha256()) == 1 &&
        EVP_PKEY_verify(ctx, signature.data(), signature.size(), hash.data(), hash.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(key);
    return ok;
}

}  // namespace nimbex_test
