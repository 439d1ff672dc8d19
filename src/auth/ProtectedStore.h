#pragma once
#include <cstdint>
#include <string>

#include "base/HostCallbacks.h"
#include "base/SecretString.h"

// The host's protected store as the reader sets it up once per process: the
// caller context and callback table it was created with, and the handle that
// the creation callback (word 9) answered: 22 words. The token savers reach
// it through words 11 (set), 12 (get) and 13 (delete) of the table.
struct ProtectedStore {
    HostContext host;
    uintptr_t handle = 0;
};
static_assert(sizeof(ProtectedStore) == 22 * sizeof(uintptr_t), "protected store is 22 words");

// Thin wrappers over the three store callbacks. A missing callback makes
// ProtectedStoreSet/Delete do nothing and ProtectedStoreGet fail.
void ProtectedStoreSet(const ProtectedStore& store, uint8_t machineFlag, const std::string& name,
                       const void* bytes, uint32_t length);
// Reads a value; false when the store has none or the callback fails.
bool ProtectedStoreGet(const ProtectedStore& store, uint8_t machineFlag, const std::string& name,
                       SecretString& value);
void ProtectedStoreDelete(const ProtectedStore& store, uint8_t machineFlag,
                          const std::string& name);
