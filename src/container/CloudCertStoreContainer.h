#pragma once
#include <string>
#include <vector>

#include "config/ServerSettings.h"
#include "container/CloudContainerBase.h"
#include "container/CloudStoreLink.h"

// A cloud container whose data lives in the key-provider link of a
// certificate in the store "My". Found through the context's store link by
// container name; found again in the store by its SHA-1 thumbprint.
class CloudCertStoreContainer : public CloudContainerBase {
  public:
    // Looks the container up; the outcome is status(). A null link throws
    // KelException("You did not set the certificate cache", 87).
    CloudCertStoreContainer(const std::string& name, CloudStoreLink* link,
                            const ServerSettings& service, bool machine);

    void remove(bool real_delete) override;
    void save() override;

    const std::vector<unsigned char>& thumbprint() const { return thumbprint_; }
    bool placeholder() const { return placeholder_ != 0; }

  private:
    std::vector<unsigned char> thumbprint_;
    unsigned char placeholder_ = 0;
};
