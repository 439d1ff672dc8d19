#pragma once
// Checks on the module's KelException, for tests that link nimbex_core.
#include <gtest/gtest.h>

#include <exception>
#include <string>

#include "TestStrings.h"
#include "base/KelException.h"

namespace nimbex_test {

// What every KelException's what() starts with.
constexpr char kKelPrefix[] = "Cloud exception: ";

// Runs body and returns the KelException it throws. The test fails when body
// returns normally or throws anything else; the result is then a stand-in.
template <class Body>
KelException CaughtKelException(Body&& body) {
    try {
        body();
        ADD_FAILURE() << "expected a KelException, nothing was thrown";
    } catch (const KelException& e) {
        return e;
    } catch (const std::exception& e) {
        ADD_FAILURE() << "expected a KelException, caught: " << e.what();
    } catch (...) {
        ADD_FAILURE() << "expected a KelException, caught something else";
    }
    return KelException("<no KelException>", 1);
}

// The exception's text after the prefix; the test fails when the prefix is
// missing.
inline std::string KelMessage(const KelException& e) {
    const std::string what = e.what();
    EXPECT_EQ(what.find(kKelPrefix), 0u) << what;
    return what.substr(sizeof(kKelPrefix) - 1);
}

}  // namespace nimbex_test

// Expects statement to throw a KelException with exactly this code and this
// what() text (prefix included).
#define EXPECT_KEL_THROW(statement, expectedCode, expectedWhat)                                   \
    do {                                                                                          \
        SCOPED_TRACE("EXPECT_KEL_THROW(" #statement ")");                                         \
        const KelException nimbexCaught_ = ::nimbex_test::CaughtKelException([&] { statement; }); \
        EXPECT_EQ(nimbexCaught_.code(), (expectedCode));                                          \
        EXPECT_EQ(std::string(nimbexCaught_.what()), std::string(expectedWhat));                  \
    } while (0)
