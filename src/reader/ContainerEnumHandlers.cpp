// Enumerating the containers of the selected service: the certificates of
// the store "My" linked to this reader under that service's name.
#include <nimbex/reader.h>

#include <memory>

#include "base/ErrorBoundary.h"
#include "base/ErrorCodes.h"
#include "container/CloudCertStoreContainerEnumerator.h"
#include "reader/CloudReaderContext.h"
#include "reader/ReaderHandlers.h"
#include "reader/SizeBufferRecord.h"

namespace {

constexpr uintptr_t kLongestName = 4096;
constexpr uintptr_t kEnumOpen = 4;

CloudReaderContext* AsContext(void* context) {
    return static_cast<CloudReaderContext*>(context);
}

// What the caller holds between the calls: the walk over the context's store
// link and the link's generation when it began. A walk whose link was reset
// since (a certificate was written) has ended: its positions are gone.
struct ContainerWalk {
    ContainerWalk(CloudStoreLink& link, const ServerSettings& service, bool machine)
        : items(&link, service, machine), generation(link.generation()) {}

    CloudCertStoreContainerEnumerator items;
    uint64_t generation;
};

}  // namespace

namespace cloud_reader {

uintptr_t open_container_enum(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* walk = static_cast<CloudContainerEnumRecord*>(record);
    if (!ctx || !walk) return codes::kInvalidParameter;
    return Boundary([&]() -> uint32_t {
        walk->enumerator = new ContainerWalk(ctx->storeCache, ctx->selectedService, ctx->machine);
        walk->size = kLongestName;
        walk->open = kEnumOpen;
        return codes::kSuccess;
    });
}

uintptr_t next_container(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* walk = static_cast<CloudContainerEnumRecord*>(record);
    if (!ctx || !walk || !walk->enumerator || walk->size == 0 || !walk->buffer)
        return codes::kInvalidParameter;
    auto* state = static_cast<ContainerWalk*>(walk->enumerator);
    if (state->items.ended() || state->generation != ctx->storeCache.generation())
        return codes::kNotFound;
    return Boundary([&]() -> uint32_t {
        const boost::shared_ptr<CloudEnumItemBase> item = state->items.next();
        CloudSizeBufferRecord text{walk->size, walk->buffer};
        const uint32_t rc = ReturnText(&text, item->name());
        walk->size = text.size;
        return rc;
    });
}

uintptr_t close_container_enum(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* walk = static_cast<CloudContainerEnumRecord*>(record);
    if (!ctx || !walk || !walk->enumerator) return codes::kInvalidParameter;
    if (walk->open != 0) {
        delete static_cast<ContainerWalk*>(walk->enumerator);
        walk->open = 0;
        walk->enumerator = nullptr;
    }
    return codes::kSuccess;
}

}  // namespace cloud_reader
