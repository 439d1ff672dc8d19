// Secret strings leave nothing readable in the memory they release: heap
// buffers (through the allocator) and the short-text buffer inside the object
// (when a heap block holding the object is released).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "FreedMemoryScan.h"
#include "base/SecretString.h"
#include "base/SecretText.h"

namespace {

using nimbex_test::FreedMemoryScan;

const char kShort[] = "pin-SECRET-7";                            // inside the object
const char kLong[] = "token-SECRET-0123456789abcdefghijklmnop";  // on the heap

// Makes the object's memory observable, so that its allocation is not elided.
template <class T>
T* Used(T* object) {
    asm volatile("" : : "r"(object) : "memory");
    return object;
}

TEST(SecretString, TheScanSeesAStdStringThatIsNotWiped) {
    FreedMemoryScan scan({kShort, kLong});
    delete Used(new std::string(kShort));
    delete Used(new std::string(kLong));
    EXPECT_EQ(scan.Leaks(), 2);
}

TEST(SecretString, NothingIsLeftInReleasedMemory) {
    // Each case releases secret strings held in heap blocks.
    const std::vector<std::pair<const char*, std::function<void()>>> cases = {
        {"short and long text",
         [] {
             delete Used(new std::vector<SecretString>{kShort, kLong});
         }},
        {"grown out of the inline buffer",
         [] {
             SecretString* s = Used(new SecretString(kShort));
             *s += kLong;
             delete Used(s);
         }},
        {"moved from",
         [] {
             SecretString* from = Used(new SecretString(kShort));
             SecretString* longFrom = Used(new SecretString(kLong));
             SecretString to(std::move(*from)), longTo(std::move(*longFrom));
             delete Used(from);
             delete Used(longFrom);
         }},
        {"replaced by shorter and longer text",
         [] {
             SecretString* s = Used(new SecretString(kLong));
             s->assign(1, 'x');
             s->append(kLong).append(kLong);
             delete Used(s);
         }},
    };
    for (const auto& c : cases) {
        FreedMemoryScan scan({kShort, kLong});
        c.second();
        scan.Stop();
        EXPECT_EQ(scan.Leaks(), 0) << c.first << ": " << scan.FirstLeak();
    }
}

TEST(SecretJson, StringValuesAreZeroedInPlace) {
    // The JSON library keeps strings in buffers of its own, out of the scan's sight.
    SecretJson answer(Json::objectValue);
    answer["AccessToken"] = kLong;
    answer["Nested"].append(kShort);
    const char *begin = nullptr, *end = nullptr;
    ASSERT_TRUE(answer["AccessToken"].getString(&begin, &end));
    WipeJsonStrings(answer);
    EXPECT_EQ(std::string(begin, end), std::string(sizeof kLong - 1, '\0'));
    EXPECT_EQ(answer["Nested"][0].asString(), std::string(sizeof kShort - 1, '\0'));
}

}  // namespace
