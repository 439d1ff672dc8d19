#include <stdlib.h>

#include <cstring>
#include <vector>

#include "ModuleLoader.h"
#include "TempEnv.h"

namespace {

using ConstantHandlers = nimbex_test::ModuleTest;
using nimbex_test::ChildChecks;

const uintptr_t kMoreData = 234;
const uintptr_t kBadParameter = 87;

}  // namespace

TEST_F(ConstantHandlers, ReaderNameAndTypeFillTheDeclaredRecord) {
    for (uintptr_t id : {CLOUD_GET_READER_NAME, CLOUD_GET_READER_TYPE}) {
        CloudReaderNameRecord record;
        std::memset(&record, 0xAA, sizeof(record));
        EXPECT_EQ(Call(id, &record), 0u);
        EXPECT_STREQ(record.name, "CLOUD");
        // Exactly the 6 bytes: the rest of the record is left alone.
        for (size_t i = CLOUD_READER_NAME_SIZE; i < sizeof(record.name); ++i)
            EXPECT_EQ(static_cast<unsigned char>(record.name[i]), 0xAA) << i;
    }
}

TEST_F(ConstantHandlers, NullRecordIsABadParameter) {
    for (uintptr_t id : {CLOUD_GET_READER_NAME, CLOUD_GET_READER_TYPE, CLOUD_GET_MEDIA_NAME,
                         CLOUD_GET_DESCRIPTION, CLOUD_GET_FEATURE_BITS, CLOUD_GET_INTERFACE_VERSION,
                         CLOUD_GET_MAX_VALUE, CLOUD_GET_MEDIA_LIMITS, CLOUD_NEGOTIATE_VERSION})
        EXPECT_EQ(Call(id, nullptr), kBadParameter) << std::hex << id;
}

TEST_F(ConstantHandlers, TextsFallBackWithoutACatalog) {
    nimbex_test::TempDir emptyLibDir;
    setenv("NIMBEX_LIB_DIR", emptyLibDir.path().c_str(), 1);
    unsetenv("NLSPATH");
    nimbex_test::RunInChild([this](ChildChecks& check) {
        for (const auto& [id, text] :
             {std::pair{CLOUD_GET_MEDIA_NAME, "Cloud Token"},
              std::pair{CLOUD_GET_DESCRIPTION, "Use CSP as client for Veltra KEL."}}) {
            const uintptr_t length = std::strlen(text);
            char buffer[64];
            CloudSizeBufferRecord r{0, buffer};
            check.Equal(Call(id, &r), 0u, "size 0: result");
            check.Equal(r.size, length, "size 0: length");
            r = {100, nullptr};
            check.Equal(Call(id, &r), 0u, "null buffer: result");
            check.Equal(r.size, length, "null buffer: length");
            for (uintptr_t small : {uintptr_t(5), length}) {
                std::memset(buffer, 'z', sizeof(buffer));
                r = {small, buffer};
                check.Equal(Call(id, &r), kMoreData, "too small: result");
                check.Equal(r.size, length, "too small: length");
                check.Equal(buffer[0], 'z', "too small: buffer untouched");
            }
            std::memset(buffer, 'z', sizeof(buffer));
            r = {length + 1, buffer};
            check.Equal(Call(id, &r), 0u, "exact: result");
            check.Equal(r.size, length, "exact: length");
            check.Equal(std::string(buffer), std::string(text), "exact: text");
        }
    });
}

TEST_F(ConstantHandlers, FeatureBits) {
    const struct {
        uintptr_t selector, capacity;
        bool buffer;
        uintptr_t result, bits;
        unsigned char first;  // buffer[0] afterwards (0xFF: untouched)
    } cases[] = {
        {0x3000, 64, true, 0, 5, 0x48},         {0, 8, true, 0, 1, 0x00}, {1, 8, true, 0, 6, 0x00},
        {0x3000, 0, false, 0, 5, 0xFF},  // only the count
        {0x3000, 0, true, 0, 5, 0xFF},   // no capacity: nothing copied
        {2, 64, true, kBadParameter, 64, 0xFF},
    };
    for (const auto& c : cases) {
        unsigned char buffer[2] = {0xFF, 0xEE};
        CloudFeatureBitsRecord r{c.selector, c.capacity, c.buffer ? buffer : nullptr};
        EXPECT_EQ(Call(CLOUD_GET_FEATURE_BITS, &r), c.result) << std::hex << c.selector;
        EXPECT_EQ(r.bits, c.bits) << std::hex << c.selector;
        EXPECT_EQ(buffer[0], c.first) << std::hex << c.selector;
        EXPECT_EQ(buffer[1], 0xEE);
    }
}

TEST_F(ConstantHandlers, InterfaceVersionAndMaxValue) {
    CloudInterfaceVersionRecord v{99, {7, 7, 7}};
    EXPECT_EQ(Call(CLOUD_GET_INTERFACE_VERSION, &v), 0u);
    EXPECT_EQ(v.version, 3u);
    for (uintptr_t word : v.reserved) EXPECT_EQ(word, 0u);
    CloudMaxValueRecord m{0};
    EXPECT_EQ(Call(CLOUD_GET_MAX_VALUE, &m), 0u);
    EXPECT_EQ(m.value, 0xFFFFu);
}

TEST_F(ConstantHandlers, MediaLimitsNeedExactly0x30) {
    uintptr_t words[61];
    for (uintptr_t i = 0; i < 61; ++i) words[i] = 0x1000 + i;
    words[0] = 0x30;
    EXPECT_EQ(Call(CLOUD_GET_MEDIA_LIMITS, words), 0u);
    // From byte offset 228 of the record: name and PIN lengths, PIN required.
    EXPECT_EQ(std::vector<uintptr_t>(words + 57, words + 61),
              (std::vector<uintptr_t>{255, 64, 0, 1}));
    EXPECT_EQ(words[0], 0x30u);
    for (uintptr_t i = 1; i < 57; ++i) EXPECT_EQ(words[i], 0x1000 + i) << i;

    for (uintptr_t version : {0x31, 0x3F, 0x20, 0x130}) {
        for (uintptr_t i = 0; i < 61; ++i) words[i] = 0x1000 + i;
        words[0] = version;
        EXPECT_EQ(Call(CLOUD_GET_MEDIA_LIMITS, words), kBadParameter) << version;
        EXPECT_EQ(words[57], 0x1000u + 57);
    }
}

TEST_F(ConstantHandlers, NegotiateVersionChecksTheHighNibble) {
    for (uintptr_t version : {0x30, 0x31, 0x3F}) {
        CloudNegotiateRecord r{version};
        EXPECT_EQ(Call(CLOUD_NEGOTIATE_VERSION, &r), 0u) << version;
        EXPECT_EQ(r.version, 0x32u);
    }
    for (uintptr_t version : {0x21, 0x00, 0x40, 0xF3}) {
        CloudNegotiateRecord r{version};
        EXPECT_EQ(Call(CLOUD_NEGOTIATE_VERSION, &r), kBadParameter) << version;
        EXPECT_EQ(r.version, version);
    }
}

TEST_F(ConstantHandlers, NoOpHandlersAnswerZero) {
    uintptr_t record[4] = {1, 2, 3, 4};
    uintptr_t context[4] = {};
    for (uintptr_t id :
         {CLOUD_RELEASE_HASH, CLOUD_FLUSH_FILE, CLOUD_SET_FILE_SIZE, CLOUD_RELEASE_KEY}) {
        EXPECT_EQ(Call(id, nullptr), 0u) << std::hex << id;
        EXPECT_EQ(Call(id, record, context), 0u) << std::hex << id;
    }
    EXPECT_EQ(record[0], 1u);
    EXPECT_EQ(record[3], 4u);
}
