#include "container/CloudCertStoreContainer.h"

#include "base/ErrorCodes.h"
#include "base/KelException.h"
#include "container/CertificateHandles.h"
#include "container/CloudCertStoreContainerEnumerator.h"
#include "container/CloudCertificateLink.h"

namespace {

constexpr DWORD kSubjectStringType = 0x20000003;  // X.500 form, no '+' joins

HCERTSTORE OpenStore(bool machine) {
    const DWORD scope = machine ? CERT_SYSTEM_STORE_LOCAL_MACHINE : CERT_SYSTEM_STORE_CURRENT_USER;
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, scope | CERT_STORE_OPEN_EXISTING_FLAG, L"My");
    if (!store) throw KelException("Cannot open the store", GetLastError());
    return store;
}

PCCERT_CONTEXT FindByThumbprint(HCERTSTORE store, const std::vector<unsigned char>& thumbprint) {
    CRYPT_HASH_BLOB blob{static_cast<DWORD>(thumbprint.size()),
                         const_cast<BYTE*>(thumbprint.data())};
    return CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                      CERT_FIND_SHA1_HASH, &blob, nullptr);
}

}  // namespace

CloudCertStoreContainer::CloudCertStoreContainer(const std::string& name, CloudStoreLink* link,
                                                 const ServerSettings& service, bool machine) {
    if (name.empty()) {
        status_ = codes::kInvalidParameter;
        return;
    }
    CloudCertStoreContainerEnumerator items(link, service, machine);
    boost::shared_ptr<TCloudCertEnumItem> chosen;
    PropertyBuffer provInfo;
    PropertyBuffer hash;
    while (!items.ended()) {
        boost::shared_ptr<TCloudCertEnumItem> item = items.NextCertItem();
        if (item->name() != name) continue;
        if (!provInfo.Read(item->certificate(), CERT_KEY_PROV_INFO_PROP_ID) ||
            !provInfo.KeyProvInfo())
            continue;
        if (!item->service().empty() &&
            !FindServerSettings(item->service(), kServerParamName).isValid)
            continue;
        if (!hash.Read(item->certificate(), CERT_SHA1_HASH_PROP_ID) || hash.size() == 0) continue;
        chosen = item;
        break;
    }
    if (!chosen) {
        status_ = codes::kNotFound;
        return;
    }

    PCCERT_CONTEXT certificate = chosen->certificate();
    placeholder_ = !certificate->pCertInfo ||
                   CertNameToStrA(X509_ASN_ENCODING, &certificate->pCertInfo->Subject,
                                  kSubjectStringType, nullptr, 0) == 1;
    certificate_.assign(certificate->pbCertEncoded,
                        certificate->pbCertEncoded + certificate->cbCertEncoded);
    thumbprint_ = hash.Bytes();
    const CRYPT_KEY_PROV_INFO* info = provInfo.KeyProvInfo();
    keySpec_ = info->dwKeySpec;
    for (const CloudLinkParam& p : ReadCloudLinkParams(*info)) {
        uint32_t number = 0;
        switch (p.id) {
            case kLinkAuthUrl:
                service_.authUrl = p.Text();
                break;
            case kLinkRestUrl:
                service_.restUrl = p.Text();
                break;
            case kLinkCertificateId:
                if (p.Number(&number)) certificateId_ = number;
                break;
            case kLinkExtensions:
                extensions_.insert(extensions_.end(), p.payload.begin(), p.payload.end());
                break;
            case kLinkKeyPermissions:
                if (p.Number(&number)) keyPermissions_ = number;
                break;
            default:
                break;
        }
    }
    // The entry the container is opened with is its service: it replaces
    // the servers an old link carries.
    name_ = name;
    service_ = service;
    machine_ = machine ? 1 : 0;
    status_ = 0;
}

void CloudCertStoreContainer::save() {
    StoreHandle store(OpenStore(machine_ != 0));
    CertContextHandle certificate(FindByThumbprint(store.get(), thumbprint_));
    if (!certificate) throw KelException("The container was deleted", codes::kFail);
    PropertyBuffer provInfo;
    if (!provInfo.Read(certificate.get(), CERT_KEY_PROV_INFO_PROP_ID) || !provInfo.KeyProvInfo())
        throw KelException("Wrong certificate context came to update", codes::kFail);
    const CRYPT_KEY_PROV_INFO* info = provInfo.KeyProvInfo();
    const uint32_t result = InstallCloudCertificateWithSettings(
        certificate.get(), name_, service_, certificateId_, keyPermissions_, extensions_,
        machine_ != 0, info->pwszProvName, info->dwProvType, info->dwKeySpec);
    if (result != 0) throw KelException("Cannot install the certificate to the store", result);
}

void CloudCertStoreContainer::remove(bool real_delete) {
    if (deleted_) return;
    StoreHandle store(OpenStore(machine_ != 0));
    CertContextHandle certificate(FindByThumbprint(store.get(), thumbprint_));
    if (!certificate) {
        deleted_ = 1;
        status_ = codes::kNotFound;
        return;
    }
    if (!real_delete && !placeholder_) {
        if (!CertSetCertificateContextProperty(certificate.get(), CERT_KEY_PROV_INFO_PROP_ID, 0,
                                               nullptr))
            throw KelException("Cannot delete the private key link from the store", GetLastError());
    } else if (!CertDeleteCertificateFromStore(certificate.release())) {
        throw KelException("Cannot delete the certificate from the store", GetLastError());
    }
    deleted_ = 1;
    status_ = codes::kNotFound;
}
