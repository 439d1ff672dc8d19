// The records of the reader interface as the CSP lays them out on its 32-bit
// targets: byte offsets and sizes counted in 32-bit words. A record is an
// array of machine words, so a 32-bit build must match those bytes exactly and
// a 64-bit build widens every word to sizeof(uintptr_t): byte offset k of the
// 32-bit layout is word k / 4 here.
#include <gtest/gtest.h>
#include <nimbex/reader.h>

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace {

constexpr size_t kWord32 = 4;

// A byte offset or size of the 32-bit layout in this build's bytes.
constexpr size_t Native(size_t bytes32) {
    return bytes32 / kWord32 * sizeof(uintptr_t);
}

struct Field {
    const char* name;
    size_t offset;    // this build
    size_t size;      // this build
    size_t offset32;  // the 32-bit layout
    size_t size32;
};

struct Record {
    const char* name;
    size_t size;
    size_t size32;
    std::vector<Field> fields;  // in order, covering the whole record
};

// name, offset and size in this build, offset and size on the 32-bit layout
#define FIELD(type, member, offset32, size32) \
    { #member, offsetof(type, member), sizeof(type::member), offset32, size32 }

// One row per declared record: its size and every field at its byte offset.
const Record kRecords[] = {
    {"CloudReaderFunction",
     sizeof(CloudReaderFunction),
     8,
     {FIELD(CloudReaderFunction, id, 0, 4), FIELD(CloudReaderFunction, handler, 4, 4)}},
    {"CloudReaderTable",
     sizeof(CloudReaderTable),
     32,
     {FIELD(CloudReaderTable, count, 0, 4), FIELD(CloudReaderTable, functions, 4, 4),
      FIELD(CloudReaderTable, firstName, 8, 4), FIELD(CloudReaderTable, secondName, 12, 4),
      FIELD(CloudReaderTable, reserved, 16, 16)}},
    {"CloudSizeBufferRecord",
     sizeof(CloudSizeBufferRecord),
     8,
     {FIELD(CloudSizeBufferRecord, size, 0, 4), FIELD(CloudSizeBufferRecord, buffer, 4, 4)}},
    {"CloudFeatureBitsRecord",
     sizeof(CloudFeatureBitsRecord),
     12,
     {FIELD(CloudFeatureBitsRecord, selector, 0, 4), FIELD(CloudFeatureBitsRecord, bits, 4, 4),
      FIELD(CloudFeatureBitsRecord, buffer, 8, 4)}},
    {"CloudInterfaceVersionRecord",
     sizeof(CloudInterfaceVersionRecord),
     16,
     {FIELD(CloudInterfaceVersionRecord, version, 0, 4),
      FIELD(CloudInterfaceVersionRecord, reserved, 4, 12)}},
    {"CloudMediaLimitsRecord",
     sizeof(CloudMediaLimitsRecord),
     244,
     {FIELD(CloudMediaLimitsRecord, version, 0, 4), FIELD(CloudMediaLimitsRecord, unused, 4, 224),
      FIELD(CloudMediaLimitsRecord, maxNameLength, 228, 4),
      FIELD(CloudMediaLimitsRecord, maxPinLength, 232, 4),
      FIELD(CloudMediaLimitsRecord, minPinLength, 236, 4),
      FIELD(CloudMediaLimitsRecord, pinRequired, 240, 4)}},
    {"CloudNegotiateRecord",
     sizeof(CloudNegotiateRecord),
     4,
     {FIELD(CloudNegotiateRecord, version, 0, 4)}},
    {"CloudMaxValueRecord",
     sizeof(CloudMaxValueRecord),
     4,
     {FIELD(CloudMaxValueRecord, value, 0, 4)}},
};

#undef FIELD

void PrintTo(const Record& r, std::ostream* os) {
    *os << r.name;
}

class RecordLayout : public testing::TestWithParam<Record> {};

TEST_P(RecordLayout, FieldsSitAtTheirWords) {
    const Record& r = GetParam();
    EXPECT_EQ(r.size, Native(r.size32));
    size_t next32 = 0;
    for (const Field& f : r.fields) {
        EXPECT_EQ(f.offset32, next32) << f.name << ": the table leaves a gap or an overlap";
        EXPECT_EQ(f.offset, Native(f.offset32)) << f.name;
        EXPECT_EQ(f.size, Native(f.size32)) << f.name;
        next32 = f.offset32 + f.size32;
    }
    EXPECT_EQ(next32, r.size32) << "fields do not cover the record";
}

INSTANTIATE_TEST_SUITE_P(Reader, RecordLayout, testing::ValuesIn(kRecords),
                         [](const testing::TestParamInfo<Record>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
