#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "base/HostCallbacks.h"

namespace HashStorage {

// What was hashed under one hash handle, and its value.
struct DocumentHashRecord {
    uint32_t algorithm = 0;
    std::vector<unsigned char> data;
    std::vector<unsigned char> hashValue;  // empty until set or computed
};

// The data kept for the hash objects of one open container, so that a hash
// presented for signing can be traced back to its document. Record ids come
// from one process-wide counter. Not locked: callers serialise.
class DocumentHashStorage {
  public:
    static constexpr uint32_t kNoRecord = 0xFFFFFFFFu;
    // A record of this algorithm is its own value: its data is the hash.
    static constexpr uint32_t kDataIsValue = 0x8054;

    static constexpr uint32_t kOk = 0;
    static constexpr uint32_t kNoSuchRecord = 2;
    static constexpr uint32_t kMissingPointer = 87;
    static constexpr uint32_t kMoreData = 234;
    static constexpr uint32_t kTooLarge = 4336;
    static constexpr uint32_t kBadHash = 0x80090002u;

    // (algorithm, data, size, out or null, in/out length) -> status; a null
    // `out` asks for the length only.
    using HashFunction = std::function<uint32_t(uint32_t algorithm, const unsigned char* data,
                                                size_t size, unsigned char* out, uint32_t* length)>;

    DocumentHashStorage(uint32_t maxDataSize, uint32_t capacity);

    // Evicts the oldest records while the store is full.
    uint32_t CreateRecord(uint32_t algorithm);
    bool HasRecord(uint32_t id) const;
    void RemoveRecord(uint32_t id);
    // std::runtime_error("Wrong ID came to the function") for an absent id.
    const DocumentHashRecord& GetRecord(uint32_t id) const;
    uint32_t AddData(uint32_t id, const unsigned char* data, size_t size);
    uint32_t SetHashValue(uint32_t id, const unsigned char* value, size_t size);
    // The record's value with the size rule; computed through `hash` (and then
    // kept) when the record has none. An empty `hash` answers 87 when needed.
    uint32_t GetHashValue(uint32_t id, const HashFunction& hash, unsigned char* out,
                          uint32_t* length);
    // The same through the host's hash callback (word 6 of its table).
    uint32_t GetHashValue(uint32_t id, HostHashFn hash, const CallerContext& context,
                          unsigned char* out, uint32_t* length);
    // The record whose value is `hash` (first) and the record of the
    // document it was computed over (second), linked through a TLS 1.3
    // CertificateVerify content or the message digest of CMS signed
    // attributes. *second is written only when it is non-zero on entry and a
    // document record was found.
    void FindLinkedRecords(const unsigned char* hash, size_t size, uint32_t* first,
                           uint32_t* second) const;

    uint32_t maxDataSize() const { return maxDataSize_; }
    uint32_t capacity() const { return capacity_; }
    size_t size() const { return records_.size(); }

  private:
    uint32_t maxDataSize_;
    uint32_t capacity_;
    std::map<uint32_t, DocumentHashRecord> records_;
};

}  // namespace HashStorage
