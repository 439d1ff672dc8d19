// Certificate contexts: parsing, the hash and key-provider properties, and
// rendering of names.
#include <capi/wincrypt.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TempEnv.h"
#include "TestCertificates.h"

using nimbex_test::KeyKind;
using nimbex_test::MakeCertificate;
using Bytes = std::vector<unsigned char>;

namespace {

PCCERT_CONTEXT Create(const Bytes& der) {
    return CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                        static_cast<DWORD>(der.size()));
}

struct ProvInfoFixture {
    std::wstring container = L"CLOUD\\svc\\KEL-1";
    std::wstring provider = L"Some Provider";
    Bytes first{8, 0, 0, 0, 4, 0, 0, 0, 7, 0, 0, 0};
    Bytes second{9, 0, 0, 0, 2, 0, 0, 0, 0xAA, 0xBB};
    CRYPT_KEY_PROV_PARAM params[2];
    CRYPT_KEY_PROV_INFO info;
    ProvInfoFixture() {
        params[0] = {222, first.data(), static_cast<DWORD>(first.size()), 0};
        params[1] = {222, second.data(), static_cast<DWORD>(second.size()), 5};
        info = {container.data(), provider.data(), 24, 0x20, 2, params, AT_SIGNATURE};
    }
};

// Reads property 2 with the size protocol; empty when absent.
Bytes ReadProvInfo(PCCERT_CONTEXT c) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size))
        return {};
    Bytes block(size);
    EXPECT_TRUE(
        CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, block.data(), &size));
    return block;
}

void ExpectSameProvInfo(const CRYPT_KEY_PROV_INFO& want, const Bytes& block) {
    ASSERT_GE(block.size(), sizeof(CRYPT_KEY_PROV_INFO));
    const auto* got = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(block.data());
    EXPECT_STREQ(want.pwszContainerName, got->pwszContainerName);
    EXPECT_STREQ(want.pwszProvName, got->pwszProvName);
    EXPECT_EQ(want.dwProvType, got->dwProvType);
    EXPECT_EQ(want.dwFlags, got->dwFlags);
    EXPECT_EQ(want.dwKeySpec, got->dwKeySpec);
    ASSERT_EQ(want.cProvParam, got->cProvParam);
    for (DWORD i = 0; i < want.cProvParam; ++i) {
        EXPECT_EQ(want.rgProvParam[i].dwParam, got->rgProvParam[i].dwParam);
        EXPECT_EQ(want.rgProvParam[i].dwFlags, got->rgProvParam[i].dwFlags);
        EXPECT_EQ(Bytes(want.rgProvParam[i].pbData,
                        want.rgProvParam[i].pbData + want.rgProvParam[i].cbData),
                  Bytes(got->rgProvParam[i].pbData,
                        got->rgProvParam[i].pbData + got->rgProvParam[i].cbData));
        // Everything lives inside the block.
        EXPECT_GE(got->rgProvParam[i].pbData, block.data());
        EXPECT_LE(got->rgProvParam[i].pbData + got->rgProvParam[i].cbData,
                  block.data() + block.size());
    }
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

TEST(CertContext, PropertiesFollowTheSizeRule) {
    nimbex_test::TempEnv env;
    Bytes der = MakeCertificate(KeyKind::Ec, "linked", 2);
    PCCERT_CONTEXT c = Create(der);
    ASSERT_NE(nullptr, c);
    DWORD size = 0;
    EXPECT_FALSE(CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
    EXPECT_EQ(CRYPT_E_NOT_FOUND, GetLastError());
    ProvInfoFixture f;
    ASSERT_TRUE(CertSetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, 0, &f.info));
    ExpectSameProvInfo(f.info, ReadProvInfo(c));
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
        }
    }
    CRYPT_DATA_BLOB blob{20, der.data()};
    EXPECT_FALSE(CertSetCertificateContextProperty(c, CERT_SHA1_HASH_PROP_ID, 0, &blob));
    CertFreeCertificateContext(c);
}

// The key-provider record of a store's certificate: written through, removed,
// and refused for a certificate someone else deleted.
TEST(CertContext, KeyProviderInfoPersistsWithTheStore) {
    nimbex_test::TempEnv env;
    ProvInfoFixture f;
    Bytes der = MakeCertificate(KeyKind::Rsa, "linked", 3);
    auto open = [] {
        return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"My");
    };
    auto reopenFirst = [&](HCERTSTORE* store, PCCERT_CONTEXT* c) {
        CertFreeCertificateContext(*c);
        CertCloseStore(*store, 0);
        *store = open();
        *c = CertEnumCertificatesInStore(*store, nullptr);
        ASSERT_NE(nullptr, *c);
    };
    PCCERT_CONTEXT c = Create(der);
    ASSERT_TRUE(CertSetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, 0, &f.info));
    HCERTSTORE store = open();
    ASSERT_TRUE(
        CertAddCertificateContextToStore(store, c, CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    reopenFirst(&store, &c);
    ExpectSameProvInfo(f.info, ReadProvInfo(c));

    CRYPT_KEY_PROV_INFO changed = f.info;
    changed.cProvParam = 1;
    changed.pwszProvName = nullptr;
    ASSERT_TRUE(CertSetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, 0, &changed));
    reopenFirst(&store, &c);
    ExpectSameProvInfo(changed, ReadProvInfo(c));

    ASSERT_TRUE(CertSetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, 0, nullptr));
    reopenFirst(&store, &c);
    EXPECT_TRUE(ReadProvInfo(c).empty());

    PCCERT_CONTEXT other = CertEnumCertificatesInStore(store, nullptr);
    ASSERT_TRUE(CertDeleteCertificateFromStore(other));
    EXPECT_FALSE(CertSetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, 0, &f.info));
    EXPECT_EQ(CRYPT_E_NOT_FOUND, GetLastError());
    CertFreeCertificateContext(c);
    CertCloseStore(store, 0);
}

TEST(CertContext, NameToStrRendersSubjects) {
    PCCERT_CONTEXT named = Create(MakeCertificate(KeyKind::Rsa, "Alice, Ltd", 4));
    PCCERT_CONTEXT empty = Create(MakeCertificate(KeyKind::Rsa, "", 5));
    ASSERT_TRUE(named && empty);
    const DWORD type = 0x20000003;
    DWORD size = CertNameToStrA(X509_ASN_ENCODING, &named->pCertInfo->Subject, type, nullptr, 0);
    std::string text(size, '\0');
    EXPECT_EQ(size, CertNameToStrA(X509_ASN_ENCODING, &named->pCertInfo->Subject, type, text.data(),
                                   size));
    EXPECT_EQ(std::string("CN=\"Alice, Ltd\"") + '\0', text);
    char small[4];
    EXPECT_EQ(4u, CertNameToStrA(X509_ASN_ENCODING, &named->pCertInfo->Subject, type, small, 4));
    EXPECT_STREQ("CN=", small);
    char buffer[16] = "junk";
    EXPECT_EQ(1u, CertNameToStrA(X509_ASN_ENCODING, &empty->pCertInfo->Subject, type, buffer, 16));
    EXPECT_STREQ("", buffer);
    size = CertNameToStrA(X509_ASN_ENCODING, &empty->pCertInfo->Issuer, CERT_SIMPLE_NAME_STR,
                          buffer, 16);
    EXPECT_STREQ("Test CA", buffer);
    EXPECT_EQ(8u, size);
    CertFreeCertificateContext(named);
    CertFreeCertificateContext(empty);
}
