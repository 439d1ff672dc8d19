// Opening (or preparing the creation of), closing and deleting a container,
// and the information on its key.
#include <nimbex/reader.h>

#include <cstring>
#include <string>

#include "base/ErrorBoundary.h"
#include "base/ErrorCodes.h"
#include "reader/CloudReaderContext.h"
#include "reader/ReaderHandlers.h"

namespace {

constexpr uintptr_t kMaxNameLength = 4096;

CloudReaderContext* AsContext(void* context) {
    return static_cast<CloudReaderContext*>(context);
}

}  // namespace

namespace cloud_reader {

uintptr_t open_container(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* open = static_cast<const CloudOpenContainerRecord*>(record);
    if (!ctx || !open || open->nameLength > kMaxNameLength) return codes::kInvalidParameter;
    return Boundary([&]() -> uint32_t {
        if (!open->name) {
            ctx->CloseContainer();
            return codes::kSuccess;
        }
        const std::string name(open->name, strnlen(open->name, open->nameLength));
        return ctx->OpenContainer(name, (open->flags & CLOUD_OPEN_CONTAINER_CREATE) != 0);
    });
}

uintptr_t close_container(void* context, void*) {
    CloudReaderContext* ctx = AsContext(context);
    if (!ctx) return codes::kInvalidParameter;
    return Boundary([&]() -> uint32_t {
        ctx->CloseContainer();
        return codes::kSuccess;
    });
}

}  // namespace cloud_reader
