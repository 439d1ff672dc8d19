// Certificate contexts: parsing and the hash and key-provider properties (kept
// in the store and rendered names: the container tests).
#include <capi/wincrypt.h>
#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <cstdint>
#include <string>
#include <vector>

#include "TestCertificates.h"

using nimbex_test::KeyKind;
using nimbex_test::MakeCertificate;
using Bytes = std::vector<unsigned char>;

namespace {

PCCERT_CONTEXT Create(const Bytes& der) {
    return CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                        static_cast<DWORD>(der.size()));
}

}  // namespace

TEST(CertContext, RejectsWhatIsNotOneCertificate) {
    Bytes der = MakeCertificate(KeyKind::Rsa, "x", 1);
    Bytes trailing = der;
    trailing.push_back(0);
    Bytes truncated(der.begin(), der.end() - 1);
    for (const Bytes& bad : {trailing, truncated, Bytes{0x30, 0x00}, Bytes{1, 2, 3}}) {
        SetLastError(0);
        EXPECT_EQ(nullptr, Create(bad));
        EXPECT_EQ(CRYPT_E_ASN1_BADTAG, GetLastError());
    }
    EXPECT_EQ(nullptr, CertCreateCertificateContext(X509_ASN_ENCODING, nullptr, 0));
    EXPECT_EQ(E_INVALIDARG, GetLastError());
    EXPECT_EQ(nullptr, CertCreateCertificateContext(PKCS_7_ASN_ENCODING, der.data(),
                                                    static_cast<DWORD>(der.size())));
}

// Validity dates are counted without time_t, which ends in 2038 on 32-bit
// targets: a notBefore before 1970 and a notAfter in 2050, to the second.
TEST(CertContext, ValidityHoldsBefore1970AndPast2038) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* x = X509_new();
    ASSERT_TRUE(key && x);
    ASSERT_TRUE(X509_set_version(x, 2) && ASN1_INTEGER_set(X509_get_serialNumber(x), 7) &&
                ASN1_TIME_set_string(X509_getm_notBefore(x), "500101000000Z") &&
                ASN1_TIME_set_string(X509_getm_notAfter(x), "20500701123456Z") &&
                X509_set_pubkey(x, key) && X509_sign(x, key, EVP_sha256()));
    unsigned char* der = nullptr;
    const int size = i2d_X509(x, &der);
    ASSERT_GT(size, 0);
    PCCERT_CONTEXT c = Create(Bytes(der, der + size));
    OPENSSL_free(der);
    X509_free(x);
    EVP_PKEY_free(key);
    ASSERT_NE(nullptr, c);
    auto ticks = [](const FILETIME& t) {
        return uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime;
    };
    // 100-ns ticks since 1601-01-01: 1950-01-01T00:00:00Z and 2050-07-01T12:34:56Z.
    EXPECT_EQ(ticks(c->pCertInfo->NotBefore), 110133216000000000u);
    EXPECT_EQ(ticks(c->pCertInfo->NotAfter), 141847652960000000u);
    CertFreeCertificateContext(c);
}

// The fields of the key-provider property read back: CloudCertificateLinkTest.
TEST(CertContext, PropertiesFollowTheSizeRule) {
    Bytes der = MakeCertificate(KeyKind::Ec, "linked", 2);
    PCCERT_CONTEXT c = Create(der);
    ASSERT_NE(nullptr, c);
    DWORD size = 0;
    EXPECT_FALSE(CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
    EXPECT_EQ(CRYPT_E_NOT_FOUND, GetLastError());
    std::wstring container = L"CLOUD\\svc\\KEL-1", provider = L"Some Provider";
    Bytes data{9, 0, 0, 0, 2, 0, 0, 0, 0xAA, 0xBB};
    CRYPT_KEY_PROV_PARAM param = {222, data.data(), static_cast<DWORD>(data.size()), 5};
    CRYPT_KEY_PROV_INFO info = {container.data(), provider.data(), 24, 0, 1, &param, AT_SIGNATURE};
    ASSERT_TRUE(CertSetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
    // The SHA-1 is computed, read-only; a too small buffer reports the size.
    for (DWORD id : {DWORD(CERT_SHA1_HASH_PROP_ID), DWORD(CERT_KEY_PROV_INFO_PROP_ID)}) {
        ASSERT_TRUE(CertGetCertificateContextProperty(c, id, nullptr, &size));
        Bytes value(size);
        DWORD small = size - 1;
        EXPECT_FALSE(CertGetCertificateContextProperty(c, id, value.data(), &small));
        EXPECT_EQ(ERROR_MORE_DATA, GetLastError());
        EXPECT_EQ(size, small);
        ASSERT_TRUE(CertGetCertificateContextProperty(c, id, value.data(), &size));
        if (id == CERT_SHA1_HASH_PROP_ID) {
            EXPECT_EQ(nimbex_test::Sha1(der), value);
            continue;
        }
        // The key-provider block holds everything it points to.
        const auto* got = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(value.data());
        auto inside = [&](const void* p, size_t n) {
            const auto* b = static_cast<const unsigned char*>(p);
            return b >= value.data() && b + n <= value.data() + value.size();
        };
        EXPECT_TRUE(inside(got->pwszContainerName, (container.size() + 1) * sizeof(WCHAR)));
        EXPECT_TRUE(inside(got->pwszProvName, (provider.size() + 1) * sizeof(WCHAR)));
        ASSERT_EQ(1u, got->cProvParam);
        EXPECT_TRUE(inside(got->rgProvParam, sizeof(CRYPT_KEY_PROV_PARAM)));
        EXPECT_TRUE(inside(got->rgProvParam[0].pbData, data.size()));
    }
    CRYPT_DATA_BLOB blob{20, der.data()};
    EXPECT_FALSE(CertSetCertificateContextProperty(c, CERT_SHA1_HASH_PROP_ID, 0, &blob));
    CertFreeCertificateContext(c);
}
