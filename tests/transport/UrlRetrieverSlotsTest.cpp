// The order of UrlRetriever's virtual operations is its ABI: callers reach
// them by slot number.
#include <gtest/gtest.h>
#include <http/UrlRetriever.h>

#include <cstdint>
#include <cstring>

namespace {

// Itanium C++ ABI: a pointer to a virtual member function holds 1 + the byte
// offset of its vtable entry.
template <typename F>
size_t Slot(F f) {
    uintptr_t raw;
    static_assert(sizeof(f) >= sizeof(raw), "member pointer layout");
    std::memcpy(&raw, &f, sizeof(raw));
    EXPECT_EQ(raw % sizeof(void*), 1u) << "not a virtual function";
    return (raw - 1) / sizeof(void*);
}

TEST(UrlRetrieverSlots, VirtualOperationsInOrder) {
    EXPECT_EQ(Slot(&UrlRetriever::retrieve_url), 0u);
    EXPECT_EQ(Slot(&UrlRetriever::set_post_data), 1u);
    EXPECT_EQ(Slot(&UrlRetriever::set_headers), 2u);
    EXPECT_EQ(Slot(&UrlRetriever::get_data), 3u);
    EXPECT_EQ(Slot(&UrlRetriever::get_data_length), 4u);
    EXPECT_EQ(Slot(&UrlRetriever::get_error_code), 5u);
    EXPECT_EQ(Slot(&UrlRetriever::get_http_status), 6u);
    EXPECT_EQ(Slot(&UrlRetriever::reset), 7u);
    EXPECT_EQ(Slot(&UrlRetriever::set_error_level), 8u);
    EXPECT_EQ(Slot(&UrlRetriever::set_follow_redirects), 9u);
    EXPECT_EQ(Slot(&UrlRetriever::set_accept_compressed), 10u);
    EXPECT_EQ(Slot(&UrlRetriever::set_fail_on_http_error), 11u);
    EXPECT_EQ(Slot(&UrlRetriever::set_timeout), 12u);
    EXPECT_EQ(Slot(&UrlRetriever::set_method), 13u);
    EXPECT_EQ(Slot(&UrlRetriever::set_keep_error_body), 14u);
    // Slot 15 is the destructor (the last entries of the table).
    static_assert(std::has_virtual_destructor<UrlRetriever>::value, "slot 15");
}

}  // namespace
