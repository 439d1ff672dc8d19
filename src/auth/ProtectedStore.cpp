#include "auth/ProtectedStore.h"

#include <cstring>
#include <vector>

#include "base/Wipe.h"

void ProtectedStoreSet(const ProtectedStore& store, uint8_t machineFlag, const std::string& name,
                       const void* bytes, uint32_t length) {
    HostStoreSetFn set = store.host.callbacks.storeSet;
    if (!set) return;
    const uintptr_t* c = store.host.caller.words;
    set(c[0], c[1], c[2], c[3], c[4], c[5], c[6], store.handle, machineFlag, name.c_str(),
        static_cast<const unsigned char*>(bytes), length);
}

bool ProtectedStoreGet(const ProtectedStore& store, uint8_t machineFlag, const std::string& name,
                       std::string& value) {
    HostStoreGetFn get = store.host.callbacks.storeGet;
    if (!get) return false;
    const uintptr_t* c = store.host.caller.words;
    uint32_t length = 0;
    if (get(c[0], c[1], c[2], c[3], c[4], c[5], c[6], store.handle, machineFlag, name.c_str(),
            nullptr, &length) != 0)
        return false;
    std::vector<unsigned char> buffer(length);
    bool ok = get(c[0], c[1], c[2], c[3], c[4], c[5], c[6], store.handle, machineFlag, name.c_str(),
                  buffer.data(), &length) == 0;
    if (ok) {
        const size_t n = length < buffer.size() ? length : buffer.size();
        const unsigned char* end =
            static_cast<const unsigned char*>(std::memchr(buffer.data(), 0, n));
        value.assign(reinterpret_cast<const char*>(buffer.data()),
                     end ? static_cast<size_t>(end - buffer.data()) : n);
    }
    WipeVector(buffer);
    return ok;
}

void ProtectedStoreDelete(const ProtectedStore& store, uint8_t machineFlag,
                          const std::string& name) {
    HostStoreDeleteFn del = store.host.callbacks.storeDelete;
    if (!del) return;
    const uintptr_t* c = store.host.caller.words;
    del(c[0], c[1], c[2], c[3], c[4], c[5], c[6], store.handle, machineFlag, name.c_str());
}
