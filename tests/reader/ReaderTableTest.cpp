// The table as the CSP sees it. Its count and ascending order are checked at
// compile time (ReaderTable.cpp); the ids are reached through the header's
// names by every handler test.
#include <cwchar>

#include "ModuleLoader.h"

namespace {

using ReaderTable = nimbex_test::ModuleTest;

}  // namespace

TEST_F(ReaderTable, SameConstantTableOnEveryCall) {
    EXPECT_EQ(getTable_(), table_);
    EXPECT_EQ(table_->count, 53u);
    for (uintptr_t word : table_->reserved) EXPECT_EQ(word, 0u);
    ASSERT_NE(table_->firstName, nullptr);
    EXPECT_EQ(std::wcscmp(table_->firstName, L"UNDEFINED"), 0);
    EXPECT_EQ(table_->secondName, table_->firstName);
    for (uintptr_t i = 0; i < table_->count; ++i)
        EXPECT_NE(table_->functions[i].handler, nullptr) << std::hex << table_->functions[i].id;
    EXPECT_EQ(Handler(CLOUD_FREE_CONTEXT), Handler(CLOUD_FREE_CONTEXT_2));
}

TEST_F(ReaderTable, NullContextAcceptedByFreeContextAndCloseFile) {
    uintptr_t record[4] = {};
    EXPECT_EQ(Call(CLOUD_FREE_CONTEXT, nullptr), 0u);
    EXPECT_EQ(Call(CLOUD_FREE_CONTEXT_2, record), 0u);
    EXPECT_EQ(Call(CLOUD_CLOSE_FILE, nullptr), 0u);
}
