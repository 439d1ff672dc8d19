#include "container/TCloudCertEnumItem.h"

TCloudCertEnumItem::TCloudCertEnumItem(const std::string& name, const std::string& service,
                                       PCCERT_CONTEXT certificate)
    : CloudEnumItemBase(name, service),
      certificate_(certificate ? CertDuplicateCertificateContext(certificate) : nullptr) {}

TCloudCertEnumItem::~TCloudCertEnumItem() {
    if (certificate_) CertFreeCertificateContext(certificate_);
}
