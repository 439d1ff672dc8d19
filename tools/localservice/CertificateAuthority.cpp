#include "CertificateAuthority.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace localservice {

namespace {

bool fileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext) throw std::runtime_error("cannot build a certificate extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

void setSerial(X509* cert) {
    Bytes serial = randomBytes(16);
    serial[0] &= 0x7F;
    serial[0] |= 0x01;
    BIGNUM* bn = BN_bin2bn(serial.data(), static_cast<int>(serial.size()), nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert));
    BN_free(bn);
}

}  // namespace

PkeyPtr generateKey(const std::string& type, unsigned rsaBits) {
    EVP_PKEY* key = nullptr;
    if (type == "ec")
        key = EVP_EC_gen("P-256");
    else
        key = EVP_RSA_gen(rsaBits);
    if (!key) throw std::runtime_error("key generation failed");
    return PkeyPtr(key);
}

bool writePrivateKeyPem(const std::string& path, EVP_PKEY* key) {
    FILE* f = fopen(path.c_str(), "w");
    if (!f) return false;
    chmod(path.c_str(), 0600);
    bool ok = PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    fclose(f);
    return ok;
}

PkeyPtr readPrivateKeyPem(const std::string& path) {
    FILE* f = fopen(path.c_str(), "r");
    if (!f) return nullptr;
    EVP_PKEY* key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
    fclose(f);
    return PkeyPtr(key);
}

bool writeFile(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out);
}

bool readFile(const std::string& path, Bytes& data) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

Bytes certificateToDer(X509* cert) {
    int len = i2d_X509(cert, nullptr);
    if (len <= 0) return {};
    Bytes out(static_cast<size_t>(len));
    unsigned char* p = out.data();
    i2d_X509(cert, &p);
    return out;
}

CertificateAuthority::CertificateAuthority(const std::string& dir) {
    caFile_ = dir + "/ca.pem";
    std::string keyFile = dir + "/ca-key.pem";
    if (fileExists(caFile_) && fileExists(keyFile)) {
        caKey_ = readPrivateKeyPem(keyFile);
        FILE* f = fopen(caFile_.c_str(), "r");
        if (f) {
            caCert_.reset(PEM_read_X509(f, nullptr, nullptr, nullptr));
            fclose(f);
        }
        if (!caKey_ || !caCert_) throw std::runtime_error("cannot read the CA in " + dir);
        return;
    }
    caKey_ = generateKey("ec", 0);
    caCert_.reset(X509_new());
    X509* c = caCert_.get();
    X509_set_version(c, 2);
    setSerial(c);
    X509_gmtime_adj(X509_getm_notBefore(c), -86400);
    X509_gmtime_adj(X509_getm_notAfter(c), 20L * 365 * 86400);
    X509_NAME* name = X509_get_subject_name(c);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("nimbex"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("nimbex local service CA"),
                               -1, -1, 0);
    X509_set_issuer_name(c, name);
    X509_set_pubkey(c, caKey_.get());
    addExtension(c, c, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(c, c, NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(c, c, NID_subject_key_identifier, "hash");
    if (!X509_sign(c, caKey_.get(), EVP_sha256())) throw std::runtime_error("cannot sign the CA");
    if (!writePrivateKeyPem(keyFile, caKey_.get()))
        throw std::runtime_error("cannot write " + keyFile);
    FILE* f = fopen(caFile_.c_str(), "w");
    if (!f) throw std::runtime_error("cannot write " + caFile_);
    PEM_write_X509(f, c);
    fclose(f);
}

X509Ptr CertificateAuthority::issue(EVP_PKEY* key, const std::string& commonName,
                                    bool server) const {
    X509Ptr cert(X509_new());
    X509* c = cert.get();
    X509_set_version(c, 2);
    setSerial(c);
    X509_gmtime_adj(X509_getm_notBefore(c), -86400);
    X509_gmtime_adj(X509_getm_notAfter(c), 5L * 365 * 86400);
    X509_NAME* name = X509_get_subject_name(c);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(c, X509_get_subject_name(caCert_.get()));
    X509_set_pubkey(c, key);
    addExtension(c, caCert_.get(), NID_basic_constraints, "critical,CA:FALSE");
    addExtension(c, caCert_.get(), NID_authority_key_identifier, "keyid");
    if (server) {
        addExtension(c, caCert_.get(), NID_key_usage, "critical,digitalSignature,keyEncipherment");
        addExtension(c, caCert_.get(), NID_ext_key_usage, "serverAuth");
        addExtension(c, caCert_.get(), NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
    } else {
        addExtension(c, caCert_.get(), NID_key_usage,
                     EVP_PKEY_is_a(key, "RSA") ? "critical,digitalSignature,keyEncipherment"
                                               : "critical,digitalSignature,keyAgreement");
        addExtension(c, caCert_.get(), NID_ext_key_usage, "clientAuth,emailProtection");
    }
    if (!X509_sign(c, caKey_.get(), EVP_sha256()))
        throw std::runtime_error("cannot sign a certificate");
    return cert;
}

Bytes CertificateAuthority::issueUserCertificate(EVP_PKEY* key,
                                                 const std::string& commonName) const {
    X509Ptr cert = issue(key, commonName, false);
    return certificateToDer(cert.get());
}

void CertificateAuthority::ensureServerCertificate(const std::string& dir, std::string& certPath,
                                                   std::string& keyPath) const {
    certPath = dir + "/server.pem";
    keyPath = dir + "/server-key.pem";
    if (fileExists(certPath) && fileExists(keyPath)) return;
    PkeyPtr key = generateKey("ec", 0);
    X509Ptr cert = issue(key.get(), "127.0.0.1", true);
    if (!writePrivateKeyPem(keyPath, key.get()))
        throw std::runtime_error("cannot write " + keyPath);
    FILE* f = fopen(certPath.c_str(), "w");
    if (!f) throw std::runtime_error("cannot write " + certPath);
    PEM_write_X509(f, cert.get());
    fclose(f);
}

}  // namespace localservice
