// Creating, copying and freeing reader contexts, the caller's callbacks, the
// machine flag and the cloud lock.
#include <nimbex/reader.h>

#include <cstddef>
#include <cstring>

#include "base/ErrorBoundary.h"
#include "base/ErrorCodes.h"
#include "reader/CloudReaderContext.h"
#include "reader/ReaderHandlers.h"
#include "reader/TokenSaverChoice.h"

// The records the caller hands in are the module's host layout word for word.
static_assert(sizeof(CloudCallbacksRecord) == sizeof(HostContext), "set_callbacks record");
static_assert(offsetof(CloudCallbacksRecord, callbacks) == offsetof(HostContext, callbacks),
              "callback table after the caller context");
static_assert(offsetof(CloudCallbackTable, pinRequest) == offsetof(CallbackTable, pinRequest) &&
                  offsetof(CloudCallbackTable, hash) == offsetof(CallbackTable, hash) &&
                  offsetof(CloudCallbackTable, hmac) == offsetof(CallbackTable, hmac) &&
                  offsetof(CloudCallbackTable, random) == offsetof(CallbackTable, random) &&
                  offsetof(CloudCallbackTable, storeCreate) ==
                      offsetof(CallbackTable, storeCreate) &&
                  offsetof(CloudCallbackTable, storeDelete) == offsetof(CallbackTable, storeDelete),
              "callback words");
static_assert(sizeof(CloudPinRequest) == sizeof(HostPinRequest), "PIN request record");
static_assert(sizeof(CloudLockRecord) == sizeof(CallerContext), "lock record");

namespace {

CloudReaderContext* AsContext(void* context) {
    return static_cast<CloudReaderContext*>(context);
}

}  // namespace

namespace cloud_reader {

uintptr_t create_context(void*, void* record) {
    auto* out = static_cast<CloudContextRecord*>(record);
    if (!out) return codes::kInvalidParameter;
    return CatchAll(
        [&]() -> uint32_t {
            out->context = CloudReaderContext::Create();
            return codes::kSuccess;
        },
        codes::kNoMemory);
}

uintptr_t clone_context(void* context, void* record) {
    CloudReaderContext* from = AsContext(context);
    auto* out = static_cast<CloudContextRecord*>(record);
    if (!from || !out) return codes::kInvalidParameter;
    return CatchAll([&]() -> uint32_t {
        out->context = CloudReaderContext::Clone(*from);
        return codes::kSuccess;
    });
}

uintptr_t free_context(void* context, void*) {
    CatchAll([&]() -> uint32_t {
        delete AsContext(context);
        return codes::kSuccess;
    });
    return codes::kSuccess;
}

uintptr_t set_callbacks(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    if (!ctx || !record) return codes::kInvalidParameter;
    std::memcpy(&ctx->host, record, sizeof(HostContext));
    return codes::kSuccess;
}

uintptr_t set_machine_flag(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* flags = static_cast<const CloudMachineFlagRecord*>(record);
    if (!ctx || !flags) return codes::kInvalidParameter;
    ctx->machine = (flags->flags & 1) != 0;
    return codes::kSuccess;
}

uintptr_t lock_reader(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    if (!ctx) return codes::kInvalidParameter;
    auto* caller = static_cast<const CloudLockRecord*>(record);
    if (!caller) return codes::kSuccess;
    return Boundary([&]() -> uint32_t {
        boost::shared_ptr<CloudLocker> lock = ctx->lock;
        lock->lock();
        try {
            std::memcpy(ctx->host.caller.words, caller->words, sizeof(caller->words));
            ctx->silent = (caller->words[CLOUD_CALLER_SILENT_WORD] & CLOUD_CALLER_SILENT_BIT) != 0;
            ctx->callerHasLocalContext = caller->words[CLOUD_CALLER_LOCAL_WORD] != 0;
            boost::shared_ptr<ContainerConnectorBase> connector = ctx->connector;
            if (connector) {
                connector->SetSilent(ctx->silent);
                if (ctx->options.shouldSaveAuthToken)
                    connector->SetAuthTokenSaver(MakeTokenSaver(*ctx, ctx->selectedService));
            }
        } catch (...) {
            // A failed lock_reader leaves the lock free: the caller does not
            // unlock after a failure.
            try {
                lock->unlock();
            } catch (...) {
            }
            throw;
        }
        return codes::kSuccess;
    });
}

uintptr_t unlock_reader(void* context, void*) {
    CloudReaderContext* ctx = AsContext(context);
    if (!ctx) return codes::kInvalidParameter;
    return Boundary([&]() -> uint32_t {
        boost::shared_ptr<CloudLocker> lock = ctx->lock;
        lock->unlock();
        return codes::kSuccess;
    });
}

}  // namespace cloud_reader
