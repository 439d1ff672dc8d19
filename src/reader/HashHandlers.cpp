// The document-hash handlers: the data the CSP hashes through the reader is
// kept in the open container's hash storage, so that a signature over its
// hash can be traced back to the document.
#include <nimbex/reader.h>

#include <algorithm>

#include "base/ErrorBoundary.h"
#include "base/ErrorCodes.h"
#include "reader/CloudReaderContext.h"
#include "reader/ReaderHandlers.h"

namespace {

CloudReaderContext* AsContext(void* context) {
    return static_cast<CloudReaderContext*>(context);
}

// The storage lives with the open container; without one there is nothing
// to keep the data in, so the answer is that of every container operation.
template <class Body>
uint32_t WithStorage(CloudReaderContext& ctx, Body&& body) {
    return CatchAll([&]() -> uint32_t {
        boost::shared_ptr<HashStorage::DocumentHashStorage> storage = ctx.hashStorage;
        if (!storage) return codes::kNoContainer;
        return body(*storage);
    });
}

}  // namespace

namespace cloud_reader {

uintptr_t create_hash(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* create = static_cast<CloudCreateHashRecord*>(record);
    if (!ctx || !create) return codes::kInvalidParameter;
    return WithStorage(*ctx, [&](HashStorage::DocumentHashStorage& storage) -> uint32_t {
        create->handle = storage.CreateRecord(static_cast<uint32_t>(create->algorithm));
        return codes::kSuccess;
    });
}

uintptr_t hash_data(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* data = static_cast<CloudHashDataRecord*>(record);
    if (!ctx || !data) return codes::kInvalidParameter;
    return WithStorage(*ctx, [&](HashStorage::DocumentHashStorage& storage) -> uint32_t {
        const uint32_t rc =
            storage.AddData(static_cast<uint32_t>(data->handle), data->data, data->length);
        if (rc == codes::kSuccess) data->written = data->length;
        return rc;
    });
}

uintptr_t get_hash_value(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* value = static_cast<CloudHashValueRecord*>(record);
    if (!ctx || !value) return codes::kInvalidParameter;
    return WithStorage(*ctx, [&](HashStorage::DocumentHashStorage& storage) -> uint32_t {
        // The value words hold at most 64 bytes, whatever capacity is claimed.
        uint32_t length =
            static_cast<uint32_t>(std::min<uintptr_t>(value->valueLength, CLOUD_HASH_VALUE_SIZE));
        const uint32_t rc =
            storage.GetHashValue(static_cast<uint32_t>(value->handle), ctx->host.callbacks.hash,
                                 ctx->host.caller, value->value.bytes, &length);
        value->valueLength = length;
        return rc;
    });
}

}  // namespace cloud_reader
