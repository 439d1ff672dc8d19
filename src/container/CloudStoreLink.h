#pragma once
#include <capi/wincrypt.h>

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <map>
#include <string>

#include "container/TCloudCertEnumItem.h"

// The per-context cache of the store "My": the open store and every
// certificate linked to the "CLOUD" reader, by service name in store order.
// Filled on first use and kept until Reset, so later lookups do not read the
// store again.
class CloudStoreLink {
  public:
    using Items = std::multimap<std::string, boost::shared_ptr<TCloudCertEnumItem>>;

    CloudStoreLink() = default;
    ~CloudStoreLink();
    CloudStoreLink(const CloudStoreLink&) = delete;
    CloudStoreLink& operator=(const CloudStoreLink&) = delete;

    // Opens the store of the scope (machine or current user, existing only)
    // when it is not open yet and, when that succeeds, fills the items.
    // True when the store is open afterwards.
    bool Open(bool machine);
    // Clears the items and closes the store, so the next use reads it again.
    void Reset();
    // Counts the resets: a walk begun before a reset must not go on (its
    // positions were in the items that were cleared).
    uint64_t generation() const { return generation_; }

    bool IsOpen() const { return store_ != nullptr; }
    HCERTSTORE store() const { return store_; }
    bool machine() const { return machine_ != 0; }
    const Items& items() const { return items_; }

  private:
    void Fill();

    HCERTSTORE store_ = nullptr;
    uint32_t machine_ = 0;
    Items items_;
    uint64_t generation_ = 0;
};
