#pragma once
#include <capi/wincrypt.h>

#include <string>

#include "container/CloudEnumItemBase.h"

// A container backed by a certificate of the store. Holds its own reference
// to the certificate context (a duplicate of the one given).
class TCloudCertEnumItem : public CloudEnumItemBase {
  public:
    TCloudCertEnumItem(const std::string& name, const std::string& service,
                       PCCERT_CONTEXT certificate);
    ~TCloudCertEnumItem() override;

    PCCERT_CONTEXT certificate() const { return certificate_; }

  private:
    PCCERT_CONTEXT certificate_;
};
