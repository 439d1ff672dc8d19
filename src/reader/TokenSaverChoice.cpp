#include "reader/TokenSaverChoice.h"

#include <boost/make_shared.hpp>
#include <mutex>

#include "auth/AuthTokenRegistrySaver.h"
#include "auth/AuthTokenSaverLocalCtx.h"
#include "base/ErrorCodes.h"
#include "base/KelException.h"

namespace {

std::mutex g_storeGuard;
// Never released: savers of every context keep pointing at it.
ProtectedStore g_store;
bool g_storeCreated = false;

bool HasStoreCallbacks(const CallbackTable& table) {
    return table.storeCreate && table.storeRelease && table.storeSet && table.storeGet &&
           table.storeDelete;
}

}  // namespace

const ProtectedStore* ProcessProtectedStore(const HostContext& host) {
    if (!HasStoreCallbacks(host.callbacks)) return nullptr;
    std::lock_guard<std::mutex> guard(g_storeGuard);
    if (!g_storeCreated) {
        const uintptr_t* c = host.caller.words;
        const uintptr_t handle =
            host.callbacks.storeCreate(c[0], c[1], c[2], c[3], c[4], c[5], c[6]);
        if (!handle) throw KelException("Cannot create protected store", codes::kFail);
        g_store.handle = handle;
        g_storeCreated = true;
    }
    g_store.host = host;
    return &g_store;
}

boost::shared_ptr<AuthTokenSaver> MakeTokenSaver(const CloudReaderContext& context,
                                                 const ServerSettings& service) {
    const ProtectedStore* store = ProcessProtectedStore(context.host);
    const uint8_t machine = context.machine ? 1 : 0;
    if (context.callerHasLocalContext)
        return boost::make_shared<AuthTokenSaverLocalCtx>(service.authUrl, store, machine);
    return boost::make_shared<AuthTokenRegistrySaver>(service.name, store, machine);
}
