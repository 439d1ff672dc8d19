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

// A byte offset or size of the 32-bit layout in this build's bytes.
constexpr size_t Native(size_t bytes32) {
    return bytes32 / 4 * sizeof(uintptr_t);
}

struct Field {
    const char* name;
    size_t offset, size;      // this build
    size_t offset32, size32;  // the 32-bit layout
};

struct Record {
    const char* name;
    size_t size, size32;
    std::vector<Field> fields;  // in order, covering the whole record
};

void PrintTo(const Record& r, std::ostream* os) {
    *os << r.name;
}

// RECORD(type, size in bytes on 32-bit, FIELD(member, byte offset, size)...)
#define RECORD(type, size32, ...)                               \
    [] {                                                        \
        using T = type;                                         \
        return Record{#type, sizeof(T), size32, {__VA_ARGS__}}; \
    }()
#define FIELD(member, offset32, size32) \
    { #member, offsetof(T, member), sizeof(T::member), offset32, size32 }

const Record kRecords[] = {
    RECORD(CloudReaderFunction, 8, FIELD(id, 0, 4), FIELD(handler, 4, 4)),
    RECORD(CloudReaderTable, 32, FIELD(count, 0, 4), FIELD(functions, 4, 4), FIELD(firstName, 8, 4),
           FIELD(secondName, 12, 4), FIELD(reserved, 16, 16)),
    RECORD(CloudSizeBufferRecord, 8, FIELD(size, 0, 4), FIELD(buffer, 4, 4)),
    RECORD(CloudFeatureBitsRecord, 12, FIELD(selector, 0, 4), FIELD(bits, 4, 4),
           FIELD(buffer, 8, 4)),
    RECORD(CloudInterfaceVersionRecord, 16, FIELD(version, 0, 4), FIELD(reserved, 4, 12)),
    RECORD(CloudMediaLimitsRecord, 244, FIELD(version, 0, 4), FIELD(unused, 4, 224),
           FIELD(maxNameLength, 228, 4), FIELD(maxPinLength, 232, 4), FIELD(minPinLength, 236, 4),
           FIELD(pinRequired, 240, 4)),
    RECORD(CloudNegotiateRecord, 4, FIELD(version, 0, 4)),
    RECORD(CloudMaxValueRecord, 4, FIELD(value, 0, 4)),
};

#undef FIELD
#undef RECORD

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
