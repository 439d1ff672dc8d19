#include <cwchar>
#include <vector>

#include "ModuleLoader.h"

namespace {

const std::vector<uintptr_t> kIds = {
    0x1,    0x2,    0x6,    0x7,    0xC,    0x12,   0x305,  0x1000, 0x1001, 0x2301, 0x2302,
    0x2303, 0x2306, 0x2307, 0x2308, 0x2309, 0x230A, 0x230B, 0x230C, 0x2310, 0x2311, 0x3300,
    0x3302, 0x3303, 0x3304, 0x3305, 0x3306, 0x3311, 0x3312, 0x3315, 0x5302, 0x5308, 0x5309,
    0x530A, 0x530B, 0x530C, 0x6300, 0x6302, 0x6303, 0x6304, 0x630B, 0x7300, 0x7301, 0x7302,
    0x7303, 0x7304, 0x7307, 0x730C, 0x730D, 0x730E, 0x7311, 0x7312, 0x7314};

using ReaderTable = nimbex_test::ModuleTest;

}  // namespace

TEST_F(ReaderTable, SameConstantTableOnEveryCall) {
    EXPECT_EQ(getTable_(), table_);
    EXPECT_EQ(getTable_(), table_);
    EXPECT_EQ(table_->count, 53u);
    for (uintptr_t word : table_->reserved) EXPECT_EQ(word, 0u);
    ASSERT_NE(table_->firstName, nullptr);
    EXPECT_EQ(std::wcscmp(table_->firstName, L"UNDEFINED"), 0);
    EXPECT_EQ(table_->secondName, table_->firstName);
}

TEST_F(ReaderTable, TheFiftyThreeIdsInAscendingOrder) {
    ASSERT_EQ(kIds.size(), 53u);
    std::vector<uintptr_t> ids;
    for (uintptr_t i = 0; i < table_->count; ++i) {
        ids.push_back(table_->functions[i].id);
        EXPECT_NE(table_->functions[i].handler, nullptr) << std::hex << table_->functions[i].id;
        if (i == 0) continue;
        EXPECT_LT(table_->functions[i - 1].id, table_->functions[i].id);
    }
    EXPECT_EQ(ids, kIds);
    // Both free_context ids share one handler.
    EXPECT_EQ(Handler(CLOUD_FREE_CONTEXT), Handler(CLOUD_FREE_CONTEXT_2));
}

TEST_F(ReaderTable, FunctionsNotBuiltYetAnswerNotSupported) {
    // The reader functions whose implementation has not landed in this build.
    const uintptr_t notYet[] = {
        CLOUD_OPEN_CONTAINER_ENUM, CLOUD_NEXT_CONTAINER,  CLOUD_CLOSE_CONTAINER_ENUM,
        CLOUD_OPEN_CONTAINER,      CLOUD_CLOSE_CONTAINER, CLOUD_LIST_PARAM_SETS,
        CLOUD_DROP_AUTH,           CLOUD_CREATE_HASH,     CLOUD_HASH_DATA,
        CLOUD_GET_HASH_VALUE,      CLOUD_VERIFY_PIN,      CLOUD_DELETE_CONTAINER,
        CLOUD_OPEN_FILE,           CLOUD_CHANGE_PIN,      CLOUD_READ_FILE,
        CLOUD_WRITE_FILE,          CLOUD_GET_FILE_SIZE,   CLOUD_GENERATE_KEY,
        CLOUD_SIGN_HASH_SPLIT,     CLOUD_AGREE_KEY,       CLOUD_GET_KEY_INFO,
        CLOUD_GENERATE_RSA_KEY,    CLOUD_SIGN_HASH,       CLOUD_GET_RSA_KEY_RANGE};
    uintptr_t record[64] = {};
    for (uintptr_t id : notYet) {
        EXPECT_EQ(Call(id, nullptr), 0x80090029u) << std::hex << id;
        EXPECT_EQ(Call(id, record), 0x80090029u) << std::hex << id;
    }
    for (uintptr_t word : record) EXPECT_EQ(word, 0u);

    // A null context is accepted by free_context and close_file whatever else they do.
    EXPECT_EQ(Call(CLOUD_FREE_CONTEXT, nullptr), 0u);
    EXPECT_EQ(Call(CLOUD_FREE_CONTEXT_2, record), 0u);
    EXPECT_EQ(Call(CLOUD_CLOSE_FILE, nullptr), 0u);
    uintptr_t notAContext[8] = {};
    EXPECT_EQ(Call(CLOUD_CLOSE_FILE, nullptr, notAContext), 0x80090029u);
}
