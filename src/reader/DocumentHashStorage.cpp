#include "reader/DocumentHashStorage.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "asn1/SignedAttributes.h"

namespace HashStorage {

namespace {

// Shared by every store of the process; 0xFFFFFFFF (no record) is skipped.
uint32_t g_nextRecordId = 1;

uint32_t TakeRecordId() {
    if (g_nextRecordId == DocumentHashStorage::kNoRecord) g_nextRecordId = 1;
    return g_nextRecordId++;
}

// The signed content of a TLS 1.3 client CertificateVerify: 64 spaces, the
// context string and a zero byte, then the transcript hash.
constexpr size_t kTlsPadding = 64;
const char kTlsContext[] = "TLS 1.3, client CertificateVerify";  // 33 characters + NUL
constexpr size_t kTlsPrefix = kTlsPadding + sizeof kTlsContext;  // 98

std::vector<unsigned char> TlsCandidate(const std::vector<unsigned char>& data) {
    if (data.size() <= kTlsPrefix) return {};
    for (size_t i = 0; i < kTlsPadding; ++i)
        if (data[i] != 0x20) return {};
    if (memcmp(data.data() + kTlsPadding, kTlsContext, sizeof kTlsContext) != 0) return {};
    return std::vector<unsigned char>(data.begin() + kTlsPrefix, data.end());
}

const std::vector<unsigned char>& ValueOf(const DocumentHashRecord& r) {
    return r.algorithm == DocumentHashStorage::kDataIsValue ? r.data : r.hashValue;
}

uint32_t CopyOut(const std::vector<unsigned char>& value, unsigned char* out, uint32_t* length) {
    const uint32_t capacity = *length;
    *length = static_cast<uint32_t>(value.size());
    if (!out) return DocumentHashStorage::kOk;
    if (capacity < value.size()) return DocumentHashStorage::kMoreData;
    if (!value.empty()) memcpy(out, value.data(), value.size());
    return DocumentHashStorage::kOk;
}

}  // namespace

DocumentHashStorage::DocumentHashStorage(uint32_t maxDataSize, uint32_t capacity)
    : maxDataSize_(maxDataSize), capacity_(capacity) {}

uint32_t DocumentHashStorage::CreateRecord(uint32_t algorithm) {
    while (!records_.empty() && records_.size() >= capacity_) records_.erase(records_.begin());
    const uint32_t id = TakeRecordId();
    DocumentHashRecord& record = records_[id];
    record.algorithm = algorithm;
    return id;
}

bool DocumentHashStorage::HasRecord(uint32_t id) const {
    return id != kNoRecord && records_.count(id) != 0;
}

void DocumentHashStorage::RemoveRecord(uint32_t id) {
    records_.erase(id);
}

const DocumentHashRecord& DocumentHashStorage::GetRecord(uint32_t id) const {
    auto it = records_.find(id);
    if (it == records_.end()) throw std::runtime_error("Wrong ID came to the function");
    return it->second;
}

uint32_t DocumentHashStorage::AddData(uint32_t id, const unsigned char* data, size_t size) {
    auto it = records_.find(id);
    if (it == records_.end()) return kNoSuchRecord;
    if (size == 0) return kOk;
    if (!data) return kMissingPointer;
    std::vector<unsigned char>& buffer = it->second.data;
    if (size > maxDataSize_ || buffer.size() > maxDataSize_ - size) return kTooLarge;
    const size_t newSize = buffer.size() + size;
    if (newSize > buffer.capacity()) buffer.reserve(std::min<size_t>(maxDataSize_, 2 * newSize));
    buffer.insert(buffer.end(), data, data + size);
    return kOk;
}

uint32_t DocumentHashStorage::SetHashValue(uint32_t id, const unsigned char* value, size_t size) {
    auto it = records_.find(id);
    if (it == records_.end()) return kNoSuchRecord;
    if (!value || size == 0) return kBadHash;
    DocumentHashRecord& record = it->second;
    const std::vector<unsigned char> given(value, value + size);
    if (record.algorithm == kDataIsValue) return given == record.data ? kOk : kBadHash;
    if (record.hashValue.empty()) {
        record.hashValue = given;
        return kOk;
    }
    return given == record.hashValue ? kOk : kBadHash;
}

uint32_t DocumentHashStorage::GetHashValue(uint32_t id, const HashFunction& hash,
                                           unsigned char* out, uint32_t* length) {
    auto it = records_.find(id);
    if (it == records_.end()) return kNoSuchRecord;
    if (!length) return kMissingPointer;
    DocumentHashRecord& record = it->second;
    if (record.algorithm == kDataIsValue) return CopyOut(record.data, out, length);
    if (!record.hashValue.empty()) return CopyOut(record.hashValue, out, length);
    if (record.data.empty()) return kNoSuchRecord;
    if (!hash) return kMissingPointer;
    const uint32_t capacity = *length;
    const uint32_t result =
        hash(record.algorithm, record.data.data(), record.data.size(), out, length);
    if (result != kOk || !out) return result;
    // A hash function that reports more than the buffer held is not trusted.
    if (*length > capacity) return kMoreData;
    record.hashValue.assign(out, out + *length);
    return result;
}

uint32_t DocumentHashStorage::GetHashValue(uint32_t id, HostHashFn hash,
                                           const CallerContext& context, unsigned char* out,
                                           uint32_t* length) {
    HashFunction function;
    if (hash) {
        function = [hash, &context](uint32_t algorithm, const unsigned char* data, size_t size,
                                    unsigned char* buffer, uint32_t* bufferLength) {
            const uintptr_t* w = context.words;
            return hash(w[0], w[1], w[2], w[3], w[4], w[5], w[6], algorithm, data, size, buffer,
                        bufferLength);
        };
    }
    return GetHashValue(id, function, out, length);
}

void DocumentHashStorage::FindLinkedRecords(const unsigned char* hash, size_t size, uint32_t* first,
                                            uint32_t* second) const {
    const std::vector<unsigned char> wanted =
        hash && size ? std::vector<unsigned char>(hash, hash + size) : std::vector<unsigned char>();
    uint32_t firstId = kNoRecord;
    uint32_t secondId = kNoRecord;
    const DocumentHashRecord* match = nullptr;
    for (const auto& [id, record] : records_) {
        const bool matches = record.algorithm == kDataIsValue
                                 ? record.data == wanted
                                 : !record.hashValue.empty() && record.hashValue == wanted;
        if (matches) {
            firstId = id;
            match = &record;
            break;
        }
    }
    if (match) {
        const std::vector<unsigned char> tls = TlsCandidate(match->data);
        std::vector<unsigned char> cms;
        asn1::FindMessageDigest(match->data.data(), match->data.size(), &cms);
        for (const auto& [id, record] : records_) {
            const std::vector<unsigned char>& value = ValueOf(record);
            if (value.empty()) continue;
            if ((!tls.empty() && value == tls) || (!cms.empty() && value == cms)) {
                secondId = id;
                break;
            }
        }
    }
    if (first) *first = firstId;
    if (second && *second != 0 && secondId != kNoRecord) *second = secondId;
}

}  // namespace HashStorage
