// Records of the document-hash store: ids, eviction, data limits, hash values.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "reader/DocumentHashStorage.h"

using HashStorage::DocumentHashStorage;
using Bytes = std::vector<unsigned char>;

namespace {

constexpr uint32_t kSha256 = 0x800C;

// A stand-in hash: the data's bytes summed into a 4-byte value.
uint32_t SumHash(uint32_t, const unsigned char* data, size_t size, unsigned char* out,
                 uint32_t* length) {
    uint32_t sum = 0;
    for (size_t i = 0; i < size; ++i) sum += data[i];
    const uint32_t capacity = *length;
    *length = 4;
    if (!out) return 0;
    if (capacity < 4) return 234;
    memcpy(out, &sum, 4);
    return 0;
}

}  // namespace

TEST(DocumentHashStorage, IdsAreProcessWideAndTheOldestIsEvicted) {
    DocumentHashStorage a(100, 5), b(100, 5);
    const uint32_t first = a.CreateRecord(kSha256);
    const uint32_t other = b.CreateRecord(kSha256);
    EXPECT_EQ(first + 1, other);
    std::vector<uint32_t> ids{first};
    for (int i = 0; i < 4; ++i) ids.push_back(a.CreateRecord(kSha256));
    EXPECT_EQ(5u, a.size());
    const uint32_t sixth = a.CreateRecord(kSha256);
    EXPECT_EQ(5u, a.size());
    EXPECT_FALSE(a.HasRecord(first));
    EXPECT_TRUE(a.HasRecord(ids[1]));
    EXPECT_TRUE(a.HasRecord(sixth));
    EXPECT_EQ(2u, a.AddData(first, reinterpret_cast<const unsigned char*>("x"), 1));
    EXPECT_FALSE(a.HasRecord(DocumentHashStorage::kNoRecord));
    a.RemoveRecord(ids[2]);
    a.RemoveRecord(ids[2]);
    EXPECT_FALSE(a.HasRecord(ids[2]));
    EXPECT_THROW(a.GetRecord(ids[2]), std::runtime_error);
}

TEST(DocumentHashStorage, DataLimit) {
    DocumentHashStorage s(10, 5);
    const uint32_t id = s.CreateRecord(kSha256);
    const Bytes six(6, 'a'), four(4, 'b');
    ASSERT_EQ(0u, s.AddData(id, six.data(), six.size()));
    EXPECT_EQ(4336u, s.AddData(id, Bytes(5, 'c').data(), 5));
    EXPECT_EQ(six, s.GetRecord(id).data);
    EXPECT_EQ(0u, s.AddData(id, four.data(), four.size()));  // exactly the maximum
    EXPECT_EQ(10u, s.GetRecord(id).data.size());
    EXPECT_EQ(4336u, s.AddData(id, four.data(), 1));
    EXPECT_EQ(0u, s.AddData(id, nullptr, 0));
    EXPECT_EQ(87u, s.AddData(id, nullptr, 1));
    EXPECT_LE(s.GetRecord(id).data.capacity(), 10u);
    const uint32_t big = s.CreateRecord(kSha256);
    EXPECT_EQ(4336u, s.AddData(big, Bytes(11, 'x').data(), 11));
    EXPECT_EQ(4336u, s.AddData(big, four.data(), SIZE_MAX));
}

TEST(DocumentHashStorage, SetHashValueRules) {
    DocumentHashStorage s(100, 5);
    const uint32_t id = s.CreateRecord(kSha256);
    const Bytes h1{1, 2, 3}, h2{1, 2, 4};
    EXPECT_EQ(0x80090002u, s.SetHashValue(id, nullptr, 3));
    EXPECT_EQ(0x80090002u, s.SetHashValue(id, h1.data(), 0));
    EXPECT_EQ(0u, s.SetHashValue(id, h1.data(), h1.size()));
    EXPECT_EQ(0u, s.SetHashValue(id, h1.data(), h1.size()));
    EXPECT_EQ(0x80090002u, s.SetHashValue(id, h2.data(), h2.size()));
    EXPECT_EQ(h1, s.GetRecord(id).hashValue);
    EXPECT_EQ(2u, s.SetHashValue(DocumentHashStorage::kNoRecord, h1.data(), h1.size()));
    // A record that is its own value accepts only its data.
    const uint32_t raw = s.CreateRecord(DocumentHashStorage::kDataIsValue);
    ASSERT_EQ(0u, s.AddData(raw, h2.data(), h2.size()));
    EXPECT_EQ(0x80090002u, s.SetHashValue(raw, h1.data(), h1.size()));
    EXPECT_EQ(0u, s.SetHashValue(raw, h2.data(), h2.size()));
    EXPECT_TRUE(s.GetRecord(raw).hashValue.empty());
}

TEST(DocumentHashStorage, GetHashValueSizeRuleAndComputation) {
    DocumentHashStorage s(100, 5);
    uint32_t length = 64;
    unsigned char out[64];
    // A record that is its own value.
    const uint32_t raw = s.CreateRecord(DocumentHashStorage::kDataIsValue);
    const Bytes data{9, 8, 7, 6, 5};
    ASSERT_EQ(0u, s.AddData(raw, data.data(), data.size()));
    EXPECT_EQ(87u, s.GetHashValue(raw, SumHash, out, nullptr));
    length = 4;
    EXPECT_EQ(234u, s.GetHashValue(raw, SumHash, out, &length));
    EXPECT_EQ(5u, length);
    EXPECT_EQ(0u, s.GetHashValue(raw, SumHash, out, &length));
    EXPECT_EQ(data, Bytes(out, out + 5));

    // Computed through the function, kept only when a buffer was given.
    const uint32_t id = s.CreateRecord(kSha256);
    length = 64;
    EXPECT_EQ(2u, s.GetHashValue(id, SumHash, out, &length));  // nothing to hash
    ASSERT_EQ(0u, s.AddData(id, data.data(), data.size()));
    EXPECT_EQ(87u, s.GetHashValue(id, DocumentHashStorage::HashFunction(), out, &length));
    length = 64;
    EXPECT_EQ(0u, s.GetHashValue(id, SumHash, nullptr, &length));
    EXPECT_EQ(4u, length);
    EXPECT_TRUE(s.GetRecord(id).hashValue.empty());
    length = 2;
    EXPECT_EQ(234u, s.GetHashValue(id, SumHash, out, &length));  // the function's answer
    EXPECT_TRUE(s.GetRecord(id).hashValue.empty());
    length = 64;
    EXPECT_EQ(0u, s.GetHashValue(id, SumHash, out, &length));
    const Bytes sum{35, 0, 0, 0};
    EXPECT_EQ(sum, s.GetRecord(id).hashValue);
    // Now stored: the function is not called again.
    int calls = 0;
    auto counting = [&](uint32_t a, const unsigned char* d, size_t n, unsigned char* o,
                        uint32_t* l) {
        ++calls;
        return SumHash(a, d, n, o, l);
    };
    length = 64;
    EXPECT_EQ(0u, s.GetHashValue(id, counting, out, &length));
    EXPECT_EQ(0, calls);
    EXPECT_EQ(sum, Bytes(out, out + length));
    length = 3;
    EXPECT_EQ(234u, s.GetHashValue(id, counting, out, &length));
    EXPECT_EQ(4u, length);
    EXPECT_EQ(2u, s.GetHashValue(12345678, counting, out, &length));
}

namespace {

uintptr_t g_seenWord7 = 0;
uintptr_t g_seenAlgorithm = 0;

uint32_t HostHash(uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t w7,
                  uintptr_t algorithm, const unsigned char* data, uintptr_t size,
                  unsigned char* out, uint32_t* length) {
    g_seenWord7 = w7;
    g_seenAlgorithm = algorithm;
    if (!out) {
        *length = 1;
        return 0;
    }
    if (*length < 1) return 234;
    out[0] = static_cast<unsigned char>(size ? data[0] ^ 0xFF : 0);
    *length = 1;
    return 0;
}

uint32_t FailingHostHash(uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t,
                         uintptr_t, uintptr_t, const unsigned char*, uintptr_t, unsigned char*,
                         uint32_t*) {
    return 0x80090008u;
}

}  // namespace

TEST(DocumentHashStorage, HostCallbackReceivesTheCallerContext) {
    DocumentHashStorage s(100, 5);
    const uint32_t id = s.CreateRecord(kSha256);
    const unsigned char byte = 0x0F;
    ASSERT_EQ(0u, s.AddData(id, &byte, 1));
    CallerContext context{{1, 2, 3, 4, 5, 6, 77}};
    unsigned char out[64];
    uint32_t length = 64;
    EXPECT_EQ(0x80090008u, s.GetHashValue(id, FailingHostHash, context, out, &length));
    EXPECT_EQ(87u, s.GetHashValue(id, nullptr, context, out, &length));
    ASSERT_EQ(0u, s.GetHashValue(id, HostHash, context, out, &length));
    EXPECT_EQ(77u, g_seenWord7);
    EXPECT_EQ(kSha256, g_seenAlgorithm);
    EXPECT_EQ(1u, length);
    EXPECT_EQ(Bytes{0xF0}, s.GetRecord(id).hashValue);
}
