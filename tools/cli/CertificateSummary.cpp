#include "CertificateSummary.h"

#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

namespace nimbex_cli {

namespace {

std::string NameText(const X509_NAME* name) {
    char* text = X509_NAME_oneline(name, nullptr, 0);
    std::string out = text ? text : "";
    OPENSSL_free(text);
    return out;
}

std::string TimeText(const ASN1_TIME* time) {
    struct tm t {};
    if (!time || ASN1_TIME_to_tm(time, &t) != 1) return "";
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &t);
    return text;
}

}  // namespace

Json::Value SummariseCertificate(const std::vector<uint8_t>& der) {
    Json::Value out;
    const unsigned char* p = der.data();
    std::unique_ptr<X509, decltype(&X509_free)> cert(
        d2i_X509(nullptr, &p, static_cast<long>(der.size())), X509_free);
    if (!cert) {
        out["subject"] = "(unreadable certificate)";
        return out;
    }
    out["subject"] = NameText(X509_get_subject_name(cert.get()));
    out["issuer"] = NameText(X509_get_issuer_name(cert.get()));
    out["not_after"] = TimeText(X509_get0_notAfter(cert.get()));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(cert.get(), EVP_sha1(), digest, &length);
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    out["sha1"] = hex;
    return out;
}

}  // namespace nimbex_cli
