#include "auth/ProtectedStore.h"

#include <algorithm>

void ProtectedStoreSet(const ProtectedStore& store, uint8_t machineFlag, const std::string& name,
                       const void* bytes, uint32_t length) {
    HostStoreSetFn set = store.host.callbacks.storeSet;
    if (!set) return;
    const uintptr_t* c = store.host.caller.words;
    set(c[0], c[1], c[2], c[3], c[4], c[5], c[6], store.handle, machineFlag, name.c_str(),
        static_cast<const unsigned char*>(bytes), length);
}

bool ProtectedStoreGet(const ProtectedStore& store, uint8_t machineFlag, const std::string& name,
                       SecretString& value) {
    HostStoreGetFn get = store.host.callbacks.storeGet;
    if (!get) return false;
    const uintptr_t* c = store.host.caller.words;
    uint32_t length = 0;
    if (get(c[0], c[1], c[2], c[3], c[4], c[5], c[6], store.handle, machineFlag, name.c_str(),
            nullptr, &length) != 0)
        return false;
    SecretString buffer(length, '\0');
    if (get(c[0], c[1], c[2], c[3], c[4], c[5], c[6], store.handle, machineFlag, name.c_str(),
            reinterpret_cast<unsigned char*>(&buffer[0]), &length) != 0)
        return false;
    // The value ends at the reported length or its first NUL.
    if (length < buffer.size()) buffer.resize(length);
    buffer.resize(std::min(buffer.find('\0'), buffer.size()));
    value = std::move(buffer);
    return true;
}

void ProtectedStoreDelete(const ProtectedStore& store, uint8_t machineFlag,
                          const std::string& name) {
    HostStoreDeleteFn del = store.host.callbacks.storeDelete;
    if (!del) return;
    const uintptr_t* c = store.host.caller.words;
    del(c[0], c[1], c[2], c[3], c[4], c[5], c[6], store.handle, machineFlag, name.c_str());
}
