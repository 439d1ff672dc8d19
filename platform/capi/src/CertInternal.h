// Internal to the CryptoAPI-style library: certificate contexts, their
// properties and the stores that hold them.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "capi/wincrypt.h"

namespace capi {

using Bytes = std::vector<uint8_t>;

// Sets the thread's last error and returns `result`.
template <class T>
T Fail(DWORD error, T result) {
    SetLastError(error);
    return result;
}

// ---- Key-provider information --------------------------------------------

struct KeyProvParam {
    DWORD id = 0;
    DWORD flags = 0;
    Bytes data;
};

// CRYPT_KEY_PROV_INFO in owned form. A null name pointer is kept apart from
// an empty name.
struct KeyProvInfo {
    bool hasContainer = false;
    std::wstring container;
    bool hasProvider = false;
    std::wstring provider;
    DWORD provType = 0;
    DWORD flags = 0;
    DWORD keySpec = 0;
    std::vector<KeyProvParam> params;
};

KeyProvInfo KeyProvInfoFromStruct(const CRYPT_KEY_PROV_INFO& info);
// The serialised form kept in the store (see docs/certstore.md).
Bytes SerializeKeyProvInfo(const KeyProvInfo& info);
// False for anything malformed (truncated, lengths past the end, trailing
// bytes, characters outside Unicode).
bool DeserializeKeyProvInfo(const uint8_t* data, size_t size, KeyProvInfo* out);
// The caller's block: a CRYPT_KEY_PROV_INFO followed by what it points to.
size_t KeyProvInfoBlockSize(const KeyProvInfo& info);
void WriteKeyProvInfoBlock(const KeyProvInfo& info, void* block);

// ---- Certificate fields ----------------------------------------------------

// What a context exposes about its certificate. Kept with the stored
// certificate, so that a context made from the store needs no parsing.
struct CertFields {
    Bytes der;
    Bytes sha1;
    Bytes subject;
    Bytes issuer;
    Bytes serial;  // least significant byte first
    std::string keyAlg;
    Bytes keyParams;
    Bytes publicKey;
    DWORD publicKeyUnusedBits = 0;
    std::string sigAlg;
    Bytes sigParams;
    DWORD version = 0;
    int64_t notBefore = 0;  // FILETIME ticks
    int64_t notAfter = 0;
};

// Parses X.509 DER (the whole input must be one certificate).
bool ParseCertificate(const uint8_t* der, size_t size, CertFields* out);

// Properties other than the computed ones; property 2 is held serialised.
using PropertyMap = std::map<DWORD, Bytes>;
Bytes SerializeProperties(const PropertyMap& props);
bool DeserializeProperties(const uint8_t* data, size_t size, PropertyMap* out);

struct Store;

// A certificate context. `pub` comes first: PCCERT_CONTEXT points at it.
struct CertContextImpl {
    CERT_CONTEXT pub;
    uint32_t magic;
    std::atomic<long> refs;
    CertFields fields;
    CERT_INFO info;
    std::mutex lock;  // guards props
    PropertyMap props;
    Store* store;  // holds a reference; null outside a store
    int64_t row;   // the store's row id
};

// A new context with one reference; takes a store reference when `store`.
CertContextImpl* NewContext(CertFields&& fields, PropertyMap&& props, Store* store, int64_t row);
// The context behind a handle, or null for null or a foreign pointer.
CertContextImpl* ContextFromHandle(PCCERT_CONTEXT handle);
void AddRefContext(CertContextImpl* context);
void ReleaseContext(CertContextImpl* context);

// ---- Stores ----------------------------------------------------------------

// A row read ahead by an enumeration.
struct StoredRow {
    int64_t row = 0;
    CertFields fields;
    PropertyMap props;
};

struct Store {
    uint32_t magic;
    std::atomic<long> refs;
    std::mutex lock;  // one connection, used by one thread at a time
    sqlite3* db = nullptr;
    std::string name;  // upper-case store name
    bool readOnly = false;
    std::map<std::string, sqlite3_stmt*> statements;
    // Rows that follow row `prefetchAfter`, read in one query by a walk and
    // handed out one by one; dropped by every write through this handle.
    std::deque<StoredRow> prefetch;
    int64_t prefetchAfter = -1;
};

Store* StoreFromHandle(HCERTSTORE handle);
void AddRefStore(Store* store);
void ReleaseStore(Store* store);
// Rewrites one property of a stored certificate inside a transaction and
// hands back the stored property set. `value` null removes it. Returns 0
// or the error code.
DWORD StoreUpdateProperty(Store* store, int64_t row, DWORD propId, const Bytes* value,
                          PropertyMap* stored);

// UTF-8 conversions; characters outside Unicode become U+FFFD, malformed
// UTF-8 answers false.
std::string WideToUtf8(const std::wstring& text);
bool Utf8ToWide(const std::string& text, std::wstring* out);

// Directories of the two scopes.
std::string UserDirectory();
std::string MachineDirectory();

}  // namespace capi
