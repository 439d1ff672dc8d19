#include "container/CloudStoreLink.h"

#include <boost/make_shared.hpp>

#include "config/ServerSettings.h"
#include "container/CloudCertificateLink.h"

CloudStoreLink::~CloudStoreLink() {
    Reset();
}

bool CloudStoreLink::Open(bool machine) {
    if (store_) return true;
    const DWORD scope = machine ? CERT_SYSTEM_STORE_LOCAL_MACHINE : CERT_SYSTEM_STORE_CURRENT_USER;
    store_ =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, scope | CERT_STORE_OPEN_EXISTING_FLAG, L"My");
    if (!store_) return false;
    machine_ = machine ? 1 : 0;
    try {
        Fill();
    } catch (...) {
        Reset();
        throw;
    }
    return true;
}

void CloudStoreLink::Reset() {
    items_.clear();
    if (store_) CertCloseStore(store_, 0);
    store_ = nullptr;
    ++generation_;
}

void CloudStoreLink::Fill() {
    items_.clear();
    PCCERT_CONTEXT certificate = nullptr;
    try {
        while ((certificate = CertEnumCertificatesInStore(store_, certificate)) != nullptr) {
            const CloudContainerLink link = ReadCloudContainerLink(certificate);
            if (!link.isCloud) continue;
            std::string service = link.serviceName;
            if (service.empty() && !link.restUrl.empty())
                service = GetServerNameByRestUrl(link.restUrl);
            if (service.empty()) continue;
            items_.emplace(service, boost::make_shared<TCloudCertEnumItem>(link.containerName,
                                                                           service, certificate));
        }
    } catch (...) {
        if (certificate) CertFreeCertificateContext(certificate);
        throw;
    }
}
