#pragma once
#include <capi/wincrypt.h>

#include <string>
#include <vector>

#include "KelAssertions.h"
#include "TestCertificates.h"
#include "config/ServerSettings.h"
#include "container/CertificateHandles.h"
#include "container/CloudCertificateLink.h"

namespace nimbex_test {

using Bytes = std::vector<unsigned char>;

inline ServerSettings StoredService(const std::string& name, bool machine = false) {
    ServerSettings s(name, "https://auth." + name + "/", "https://sign." + name + "/api");
    SaveServerSettings(s, machine);
    return s;
}

// Installs a new certificate linked to (service, container); returns its DER.
inline Bytes InstallLinked(const ServerSettings& service, const std::string& container,
                           uint64_t serial, uint32_t id = 1, const std::string& subject = "cn",
                           bool machine = false) {
    Bytes der = MakeCertificate(KeyKind::Ec, subject, serial);
    uint32_t rc = InstallCloudCertificateFromBytes(der, container, service, id, 0, {}, machine,
                                                   nullptr, 0, AT_KEYEXCHANGE);
    if (rc != 0) throw std::runtime_error("install failed");
    return der;
}

inline CertContextHandle CreateContext(const Bytes& der) {
    return CertContextHandle(CertCreateCertificateContext(
        X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
}

inline bool AddToUserStore(PCCERT_CONTEXT c) {
    StoreHandle store(
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"My"));
    return CertAddCertificateContextToStore(store.get(), c, CERT_STORE_ADD_REPLACE_EXISTING,
                                            nullptr);
}

inline CertContextHandle FindStored(const Bytes& der, bool machine = false) {
    StoreHandle store(CertOpenStore(
        CERT_STORE_PROV_SYSTEM_W, 0, 0,
        machine ? CERT_SYSTEM_STORE_LOCAL_MACHINE : CERT_SYSTEM_STORE_CURRENT_USER, L"My"));
    Bytes hash = Sha1(der);
    CRYPT_HASH_BLOB blob{20, hash.data()};
    return CertContextHandle(CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0,
                                                        CERT_FIND_SHA1_HASH, &blob, nullptr));
}

}  // namespace nimbex_test
