// The records of the reader interface as the CSP lays them out on its 32-bit
// targets: byte offsets and sizes counted in 32-bit words. A record is an
// array of machine words, so a 32-bit build must match those bytes exactly and
// a 64-bit build widens every word to sizeof(uintptr_t): byte offset k of the
// 32-bit layout is word k / 4 here. A byte buffer (BYTES) keeps its bytes and
// is rounded up to whole words on either build.
#include <gtest/gtest.h>
#include <nimbex/reader.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// A byte offset or size of the 32-bit layout in this build's bytes.
constexpr size_t Native(size_t bytes32) {
    return bytes32 / 4 * sizeof(uintptr_t);
}

constexpr size_t WholeWords(size_t bytes, size_t word) {
    return (bytes + word - 1) / word * word;
}

struct Field {
    const char* name;
    size_t offset, size;      // this build
    size_t offset32, size32;  // the 32-bit layout
    bool bytes;               // a byte buffer, not words
};

struct Record {
    const char* name;
    size_t size, size32;
    std::vector<Field> fields;  // in order, covering the whole record
};

// RECORD(type, size in bytes on 32-bit, FIELD(member, byte offset, size)...)
#define RECORD(type, size32, ...)                               \
    [] {                                                        \
        using T = type;                                         \
        return Record{#type, sizeof(T), size32, {__VA_ARGS__}}; \
    }()
#define FIELD(member, offset32, size32) \
    { #member, offsetof(T, member), sizeof(T::member), offset32, size32, false }
#define BYTES(member, offset32, size) \
    { #member, offsetof(T, member), sizeof(T::member), offset32, size, true }

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
    RECORD(CloudReaderNameRecord, 8, BYTES(name, 0, 6)),
    RECORD(CloudContextRecord, 4, FIELD(context, 0, 4)),
    RECORD(CloudCallerContext, 28, FIELD(words, 0, 28)),
    RECORD(CloudPinRequest, 8, FIELD(length, 0, 4), FIELD(buffer, 4, 4)),
    RECORD(CloudCallbackTable, 56, FIELD(reserved1, 0, 4), FIELD(reserved2, 4, 4),
           FIELD(reserved3, 8, 4), FIELD(pinRequest, 12, 4), FIELD(reserved5, 16, 4),
           FIELD(hash, 20, 4), FIELD(hmac, 24, 4), FIELD(random, 28, 4), FIELD(storeCreate, 32, 4),
           FIELD(storeRelease, 36, 4), FIELD(storeSet, 40, 4), FIELD(storeGet, 44, 4),
           FIELD(storeDelete, 48, 4), FIELD(reserved14, 52, 4)),
    RECORD(CloudCallbacksRecord, 84, FIELD(caller, 0, 28), FIELD(callbacks, 28, 56)),
    RECORD(CloudMachineFlagRecord, 4, FIELD(flags, 0, 4)),
    RECORD(CloudCountServicesRecord, 12, FIELD(reserved, 0, 8), FIELD(count, 8, 4)),
    RECORD(CloudSelectServiceRecord, 4, FIELD(index, 0, 4)),
    RECORD(CloudDefaultContainerRecord, 8, FIELD(length, 0, 4), FIELD(name, 4, 4)),
    RECORD(CloudMediaInfoRecord, 8, FIELD(subCode, 0, 4), FIELD(value, 4, 4)),
    RECORD(CloudMediaParamRecord, 12, FIELD(subCode, 0, 4), FIELD(value, 4, 4), FIELD(data, 8, 4)),
    RECORD(CloudContainerEnumRecord, 20, FIELD(unused1, 0, 4), FIELD(size, 4, 4),
           FIELD(buffer, 8, 4), FIELD(open, 12, 4), FIELD(enumerator, 16, 4)),
    RECORD(CloudOpenContainerRecord, 16, FIELD(nameLength, 0, 4), FIELD(name, 4, 4),
           FIELD(unused3, 8, 4), FIELD(flags, 12, 4)),
    RECORD(CloudOpenFileRecord, 20, FIELD(size, 0, 4), FIELD(flags, 4, 4), FIELD(required3, 8, 4),
           FIELD(required4, 12, 4), FIELD(kind, 16, 4)),
    RECORD(CloudReadFileRecord, 12, FIELD(offset, 0, 4), FIELD(length, 4, 4), FIELD(buffer, 8, 4)),
    RECORD(CloudWriteFileRecord, 12, FIELD(unused1, 0, 4), FIELD(length, 4, 4), FIELD(data, 8, 4)),
    RECORD(CloudFileSizeRecord, 4, FIELD(size, 0, 4)),
    RECORD(CloudKeyInfoRecord, 32, FIELD(keySpec, 0, 4), FIELD(flags, 4, 4),
           FIELD(mustBeZero, 8, 4), FIELD(keyType, 12, 4), FIELD(algorithm, 16, 4),
           FIELD(unused6, 20, 4), FIELD(unused7, 24, 4), FIELD(permissions, 28, 4)),
    RECORD(CloudVerifyPinRecord, 16, FIELD(unused1, 0, 4), FIELD(pinLength, 4, 4), FIELD(pin, 8, 4),
           FIELD(triesLeft, 12, 4)),
    RECORD(CloudChangePinRecord, 12, FIELD(version, 0, 4), FIELD(pinLength, 4, 4),
           FIELD(pin, 8, 4)),
    RECORD(CloudCreateHashRecord, 8, FIELD(algorithm, 0, 4), FIELD(handle, 4, 4)),
    RECORD(CloudHashDataRecord, 16, FIELD(handle, 0, 4), FIELD(length, 4, 4), FIELD(data, 8, 4),
           FIELD(written, 12, 4)),
    RECORD(CloudHashValueRecord, 72, FIELD(handle, 0, 4), FIELD(value, 4, 64),
           FIELD(valueLength, 68, 4)),
    RECORD(CloudSignHashRecord, 36, FIELD(unused1, 0, 4), FIELD(hash, 4, 4),
           FIELD(hashLength, 8, 4), FIELD(lengthOverride, 12, 4), FIELD(signature, 16, 4),
           FIELD(signatureLength, 20, 4), FIELD(hashHandle, 24, 4), FIELD(unused8, 28, 4),
           FIELD(algorithm, 32, 4)),
    RECORD(CloudSignHashSplitRecord, 32, FIELD(unused1, 0, 4), FIELD(hash, 4, 4),
           FIELD(hashLength, 8, 4), FIELD(firstHalf, 12, 4), FIELD(firstLength, 16, 4),
           FIELD(secondHalf, 20, 4), FIELD(secondLength, 24, 4), FIELD(hashHandle, 28, 4)),
    RECORD(CloudAgreeKeyRecord, 36, FIELD(unused1, 0, 4), FIELD(peerKey, 4, 4),
           FIELD(coordinateLength, 8, 4), FIELD(ukm, 12, 4), FIELD(ukmLength, 16, 4),
           FIELD(mask, 20, 4), FIELD(maskLength, 24, 4), FIELD(result, 28, 4),
           FIELD(resultLength, 32, 4)),
    RECORD(CloudGenerateKeyRecord, 44, FIELD(unused1, 0, 4), FIELD(unused2, 4, 4),
           FIELD(unused3, 8, 4), FIELD(unused4, 12, 4), FIELD(keySpec, 16, 4),
           FIELD(algorithm, 20, 4), FIELD(unused7, 24, 4), FIELD(paramSet, 28, 4),
           FIELD(unused9, 32, 4), FIELD(unused10, 36, 4), FIELD(permissions, 40, 4)),
    RECORD(CloudGenerateRsaKeyRecord, 40, FIELD(keyLength, 0, 4), FIELD(unused2, 4, 4),
           FIELD(unused3, 8, 4), FIELD(unused4, 12, 4), FIELD(keySpec, 16, 4),
           FIELD(algorithm, 20, 4), FIELD(unused7, 24, 4), FIELD(unused8, 28, 4),
           FIELD(unused9, 32, 4), FIELD(permissions, 36, 4)),
    RECORD(CloudMultiStringRecord, 8, FIELD(size, 0, 4), FIELD(buffer, 4, 4)),
    RECORD(CloudRsaKeyRangeRecord, 12, FIELD(minimum, 0, 4), FIELD(maximum, 4, 4),
           FIELD(reserved, 8, 4)),
};

#undef BYTES
#undef FIELD
#undef RECORD

class RecordLayout : public testing::TestWithParam<Record> {};

TEST_P(RecordLayout, FieldsSitAtTheirWords) {
    const Record& r = GetParam();
    size_t next32 = 0, next = 0;
    for (const Field& f : r.fields) {
        EXPECT_EQ(f.offset32, next32) << f.name << ": the table leaves a gap or an overlap";
        const size_t size32 = f.bytes ? WholeWords(f.size32, 4) : f.size32;
        const size_t size = f.bytes ? WholeWords(f.size32, sizeof(uintptr_t)) : Native(f.size32);
        EXPECT_EQ(f.offset, next) << f.name;
        EXPECT_EQ(f.size, size) << f.name;
        next32 += size32;
        next += size;
    }
    EXPECT_EQ(next32, r.size32) << "fields do not cover the record";
    EXPECT_EQ(r.size, next);
}

INSTANTIATE_TEST_SUITE_P(Reader, RecordLayout, testing::ValuesIn(kRecords),
                         [](const testing::TestParamInfo<Record>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
