#include "container/CloudCertStoreContainerEnumerator.h"

#include "base/ErrorCodes.h"
#include "base/KelException.h"

CloudCertStoreContainerEnumerator::CloudCertStoreContainerEnumerator(CloudStoreLink* link,
                                                                     const ServerSettings& service,
                                                                     bool machine)
    : machine_(machine ? 1 : 0) {
    if (!link)
        throw KelException("You did not set the certificate cache", codes::kInvalidParameter);
    link->Open(machine);
    auto range = link->items().equal_range(service.name);
    current_ = range.first;
    end_ = range.second;
    ended_ = current_ == end_ ? 1 : 0;
}

boost::shared_ptr<TCloudCertEnumItem> CloudCertStoreContainerEnumerator::NextCertItem() {
    if (current_ == end_)
        throw KelException("No more certificates to enumerate", codes::kNoMoreItems);
    boost::shared_ptr<TCloudCertEnumItem> item = current_->second;
    ++current_;
    ended_ = current_ == end_ ? 1 : 0;
    return item;
}

boost::shared_ptr<CloudEnumItemBase> CloudCertStoreContainerEnumerator::next() {
    return NextCertItem();
}
