#pragma once
#include <boost/shared_ptr.hpp>

#include "config/ServerSettings.h"
#include "container/CloudContainerEnumeratorBase.h"
#include "container/CloudStoreLink.h"
#include "container/TCloudCertEnumItem.h"

// The containers of one service in a store link, in store order. Must not
// outlive the link (nor a Reset of it).
class CloudCertStoreContainerEnumerator : public CloudContainerEnumeratorBase {
  public:
    // Opens and fills the link on first use. A null link throws
    // KelException("You did not set the certificate cache", 87); a store that
    // cannot be opened gives an empty walk.
    CloudCertStoreContainerEnumerator(CloudStoreLink* link, const ServerSettings& service,
                                      bool machine);

    boost::shared_ptr<CloudEnumItemBase> next() override;
    // The same item with its certificate.
    boost::shared_ptr<TCloudCertEnumItem> NextCertItem();
    bool ended() const { return ended_ != 0; }
    bool machine() const { return machine_ != 0; }

  private:
    unsigned char ended_ = 1;
    CloudStoreLink::Items::const_iterator current_;
    CloudStoreLink::Items::const_iterator end_;
    unsigned char machine_ = 0;
};
