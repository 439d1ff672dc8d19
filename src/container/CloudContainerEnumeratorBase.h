#pragma once
#include <boost/shared_ptr.hpp>

#include "container/CloudEnumItemBase.h"

// A walk over containers.
class CloudContainerEnumeratorBase {
  public:
    // The next item; KelException("No more certificates to enumerate", 259)
    // past the last one.
    virtual boost::shared_ptr<CloudEnumItemBase> next() = 0;
    virtual ~CloudContainerEnumeratorBase() = default;
};
