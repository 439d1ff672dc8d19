#include "CspCallbacks.h"

#include <openssl/crypto.h>

#include <cstring>
#include <vector>

#include "HostCrypto.h"

namespace csphost {

namespace {

const uint32_t kNotFound = 2;
const uint32_t kInvalidHandle = 6;
const uint32_t kInvalidParameter = 87;
const uint32_t kMoreData = 234;
const uint32_t kFail = 0x80090020;

#define CALLER_PARAMS                                                                     \
    uintptr_t w1, uintptr_t /*w2*/, uintptr_t /*w3*/, uintptr_t /*w4*/, uintptr_t /*w5*/, \
        uintptr_t /*w6*/, uintptr_t /*w7*/

uint32_t PinRequest(CALLER_PARAMS, uintptr_t kind, CloudPinRequest* request) {
    CspCallbacks* host = CspCallbacks::From(w1);
    if (!host || kind != CLOUD_PIN_REQUEST_KIND || !request) return kInvalidParameter;
    return host->AnswerPinRequest(request);
}

uint32_t Hash(CALLER_PARAMS, uintptr_t algId, const unsigned char* data, uintptr_t length,
              unsigned char* out, uint32_t* outLength) {
    (void)w1;
    return ComputeDigest(algId, data, length, out, outLength);
}

uint32_t Hmac(CALLER_PARAMS, uintptr_t algId, const unsigned char* key, uintptr_t keyLength,
              const unsigned char* data, uintptr_t length, unsigned char* out,
              uint32_t* outLength) {
    (void)w1;
    return ComputeHmac(algId, key, keyLength, data, length, out, outLength);
}

uint32_t Random(CALLER_PARAMS, unsigned char* out, uintptr_t length) {
    (void)w1;
    return FillRandom(out, length);
}

// The one store handle: the store itself is the one of the host in word 1,
// so a handle obtained through an earlier host of the process stays good.
const uintptr_t kStoreHandle = 1;

FileProtectedStore* StoreOf(uintptr_t w1, uintptr_t handle) {
    CspCallbacks* host = CspCallbacks::From(w1);
    if (!host || handle != kStoreHandle) return nullptr;
    return &host->store();
}

uintptr_t StoreCreate(CALLER_PARAMS) {
    return CspCallbacks::From(w1) ? kStoreHandle : 0;
}

uint32_t StoreRelease(CALLER_PARAMS, uintptr_t handle) {
    return StoreOf(w1, handle) ? 0 : kInvalidHandle;
}

uint32_t StoreSet(CALLER_PARAMS, uintptr_t handle, uintptr_t machine, const char* name,
                  const unsigned char* value, uintptr_t length) {
    FileProtectedStore* store = StoreOf(w1, handle);
    if (!store) return kInvalidHandle;
    if (!name || (!value && length)) return kInvalidParameter;
    return store->Set(machine != 0, name, value, length) ? 0 : kFail;
}

uint32_t StoreGet(CALLER_PARAMS, uintptr_t handle, uintptr_t machine, const char* name,
                  unsigned char* buffer, uint32_t* length) {
    FileProtectedStore* store = StoreOf(w1, handle);
    if (!store) return kInvalidHandle;
    if (!name || !length) return kInvalidParameter;
    std::vector<unsigned char> value;
    if (!store->Get(machine != 0, name, value)) return kNotFound;
    const uint32_t capacity = *length;
    *length = static_cast<uint32_t>(value.size());
    uint32_t rc = 0;
    if (buffer && capacity < value.size())
        rc = kMoreData;
    else if (buffer && !value.empty())
        std::memcpy(buffer, value.data(), value.size());
    OPENSSL_cleanse(value.data(), value.size());
    return rc;
}

uint32_t StoreDelete(CALLER_PARAMS, uintptr_t handle, uintptr_t machine, const char* name) {
    FileProtectedStore* store = StoreOf(w1, handle);
    if (!store) return kInvalidHandle;
    if (!name) return kInvalidParameter;
    return store->Remove(machine != 0, name) ? 0 : kNotFound;
}

#undef CALLER_PARAMS

}  // namespace

CspCallbacks::CspCallbacks(PinSource pin, FileProtectedStore store)
    : pin_(std::move(pin)), store_(std::move(store)) {}

CspCallbacks::~CspCallbacks() {
    Wipe(pendingPin_);
}

CspCallbacks* CspCallbacks::From(uintptr_t word) {
    return reinterpret_cast<CspCallbacks*>(word);
}

CloudCallbackTable CspCallbacks::Table() const {
    CloudCallbackTable table{};
    table.pinRequest = PinRequest;
    table.hash = Hash;
    table.hmac = Hmac;
    table.random = Random;
    table.storeCreate = StoreCreate;
    table.storeRelease = StoreRelease;
    table.storeSet = StoreSet;
    table.storeGet = StoreGet;
    table.storeDelete = StoreDelete;
    return table;
}

CloudCallerContext CspCallbacks::Caller(bool silent, bool localContext) const {
    CloudCallerContext caller{};
    caller.words[0] = reinterpret_cast<uintptr_t>(this);
    if (silent) caller.words[CLOUD_CALLER_SILENT_WORD] = CLOUD_CALLER_SILENT_BIT;
    if (localContext) caller.words[CLOUD_CALLER_LOCAL_WORD] = 1;
    return caller;
}

uint32_t CspCallbacks::AnswerPinRequest(CloudPinRequest* request) {
    std::lock_guard<std::mutex> guard(pinGuard_);
    // A hand-over without a length query first reads the PIN now.
    if (!request->buffer || !pinPending_) {
        Wipe(pendingPin_);
        pinPending_ = pin_.Read(pendingPin_);
        if (!pinPending_) return CLOUD_PIN_NOT_AVAILABLE;
    }
    if (!request->buffer) {
        request->length = pendingPin_.size();
        return 0;
    }
    const size_t n = pendingPin_.size() < request->length ? pendingPin_.size() : request->length;
    if (n) std::memcpy(request->buffer, pendingPin_.data(), n);
    request->length = n;
    Wipe(pendingPin_);
    pinPending_ = false;
    return 0;
}

}  // namespace csphost
