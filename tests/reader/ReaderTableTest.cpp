// The table as the CSP sees it. Its count and ascending order are checked at
// compile time (ReaderTable.cpp); the ids are reached through the header's
// names by every handler test.
#include <cwchar>
#include <map>

#include "ModuleLoader.h"

namespace {

using ReaderTable = nimbex_test::ModuleTest;

}  // namespace

TEST_F(ReaderTable, SameConstantTableOnEveryCall) {
    const CloudReaderTable* table = &module_.table();
    EXPECT_EQ(&csphost::ReaderModule(NIMBEX_MODULE_PATH).table(), table);  // asked again
    EXPECT_EQ(table->count, 53u);
    for (uintptr_t word : table->reserved) EXPECT_EQ(word, 0u);
    ASSERT_NE(table->firstName, nullptr);
    EXPECT_EQ(std::wcscmp(table->firstName, L"UNDEFINED"), 0);
    EXPECT_EQ(table->secondName, table->firstName);
    std::map<uintptr_t, CloudReaderHandler> handlers;
    for (uintptr_t i = 0; i < table->count; ++i) {
        EXPECT_NE(table->functions[i].handler, nullptr) << std::hex << table->functions[i].id;
        handlers[table->functions[i].id] = table->functions[i].handler;
    }
    EXPECT_EQ(handlers[CLOUD_FREE_CONTEXT], handlers[CLOUD_FREE_CONTEXT_2]);
}

TEST_F(ReaderTable, NullContextAcceptedByFreeContextAndCloseFile) {
    uintptr_t record[4] = {};
    EXPECT_EQ(Call(CLOUD_FREE_CONTEXT, nullptr), 0u);
    EXPECT_EQ(Call(CLOUD_FREE_CONTEXT_2, record), 0u);
    EXPECT_EQ(Call(CLOUD_CLOSE_FILE, nullptr), 0u);
}
