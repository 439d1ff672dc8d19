#include "TestPki.h"

#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <cstdio>
#include <stdexcept>

namespace transport_test {
namespace {

std::atomic<long> g_serial{1};

void Check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(what);
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    Check(ext != nullptr, "extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

X509* MakeCert(EVP_PKEY* key, const char* commonName, X509* issuer) {
    X509* cert = X509_new();
    Check(cert != nullptr, "X509_new");
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), g_serial++);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    X509_set_issuer_name(cert, issuer != nullptr ? X509_get_subject_name(issuer) : name);
    return cert;
}

}  // namespace

Identity::Identity(Identity&& other) noexcept : key(other.key), cert(other.cert) {
    other.key = nullptr;
    other.cert = nullptr;
}

Identity::~Identity() {
    X509_free(cert);
    EVP_PKEY_free(key);
}

TestPki::TestPki(const char* caName) {
    ca_.key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    Check(ca_.key != nullptr, "CA key");
    ca_.cert = MakeCert(ca_.key, caName, nullptr);
    AddExtension(ca_.cert, ca_.cert, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(ca_.cert, ca_.cert, NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(ca_.cert, ca_.cert, NID_subject_key_identifier, "hash");
    Check(X509_sign(ca_.cert, ca_.key, EVP_sha256()) > 0, "sign CA");
}

Identity TestPki::IssueServer(const char* commonName, const char* altNames) const {
    Identity id;
    id.key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    Check(id.key != nullptr, "server key");
    id.cert = MakeCert(id.key, commonName, ca_.cert);
    AddExtension(id.cert, ca_.cert, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(id.cert, ca_.cert, NID_ext_key_usage, "serverAuth");
    AddExtension(id.cert, ca_.cert, NID_authority_key_identifier, "keyid");
    AddExtension(id.cert, ca_.cert, NID_subject_alt_name, altNames);
    Check(X509_sign(id.cert, ca_.key, EVP_sha256()) > 0, "sign server");
    return id;
}

void TestPki::WriteCaPem(const std::string& path) const {
    FILE* f = std::fopen(path.c_str(), "w");
    Check(f != nullptr, "open CA file");
    bool ok = PEM_write_X509(f, ca_.cert) == 1;
    std::fclose(f);
    Check(ok, "write CA file");
}

}  // namespace transport_test
