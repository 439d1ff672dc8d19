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
constexpr uintptr_t kKeyAlgorithm = 0xAA24;
constexpr uintptr_t kKeyType = 2;

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

uintptr_t delete_container(void* context, void*) {
    CloudReaderContext* ctx = AsContext(context);
    if (!ctx) return codes::kInvalidParameter;
    return Boundary([&]() -> uint32_t {
        boost::shared_ptr<CloudContainerBase> container = ctx->container;
        if (!container) return codes::kSuccess;
        const bool realDelete = ctx->options.realDelete;
        if (realDelete) {
            const uint32_t id = ctx->CertificateId();
            boost::shared_ptr<ContainerConnectorBase> connector = ctx->Connector();
            connector->DeleteCertificate(id);
            connector->DropTokens();
        }
        container->remove(realDelete);
        ctx->CloseContainer();
        // The store cache still lists the removed link; the next lookup
        // reads the store again.
        ctx->storeCache.Reset();
        return codes::kSuccess;
    });
}

uintptr_t get_key_info(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* info = static_cast<CloudKeyInfoRecord*>(record);
    if (!ctx || !info) return codes::kInvalidParameter;
    return Boundary([&]() -> uint32_t {
        boost::shared_ptr<CloudContainerBase> container = ctx->container;
        if (!container) return codes::kNoContainer;
        const uint32_t keySpec = container->key_spec();
        if (info->keySpec != keySpec) return codes::kNoKey;
        if (info->mustBeZero != 0) return codes::kFail;
        if (info->flags & CLOUD_KEY_INFO_PERMISSIONS) {
            const uint32_t permissions = container->key_permissions();
            if (permissions != 0) info->permissions = permissions;
        }
        info->algorithm = kKeyAlgorithm;
        info->keySpec = keySpec;
        info->keyType = kKeyType;
        return codes::kSuccess;
    });
}

}  // namespace cloud_reader
