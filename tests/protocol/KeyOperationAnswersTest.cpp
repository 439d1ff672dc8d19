// Answers of the PIN and key-parameter requests that the local service never
// sends: the older boolean form, malformed fields, odd parameter texts.
#include <gtest/gtest.h>

#include "KelAssertions.h"
#include "protocol/KeyOperationAnswers.h"

using nimbex_test::CaughtKelException;
using nimbex_test::KelMessage;

TEST(KeyOperationAnswers, PinValidation) {
    const std::string fields = "Cannot decode server response for the PIN verification. ";
    const std::string wrong = fields + "Wrong JSON fields.";
    // body, count before, count after (10 or 7: valid), error
    const std::tuple<const char*, uint32_t, uint32_t, std::string> rows[] = {
        {"true", 3, 10, ""},
        {"false", 3, 2, ""},
        {"false", 0, 0, ""},
        {R"({"IsValid":false,"Remaining":0,"ErrorDescription":"key_blocked"})", 5, 0, ""},
        {R"({"IsValid":true,"Remaining":7,"ErrorDescription":null})", 5, 7, ""},
        {R"({"IsValid":false,"Remaining":4,"ErrorDescription":"x"})", 5, 5,
         "PIN verification error:x"},
        {R"({"IsValid":true,"Remaining":7})", 5, 5, wrong},
        {R"({"IsValid":false,"Remaining":4,"ErrorDescription":1})", 5, 5, wrong},
        {R"({"IsValid":true,"Remaining":-1,"ErrorDescription":""})", 5, 5, wrong},
        {R"({"IsValid":true,"Remaining":4.0,"ErrorDescription":""})", 5, 5, wrong},
        {"<html>", 5, 5, fields + "The response is not a JSON."},
    };
    for (const auto& row : rows) {
        uint32_t count = std::get<1>(row);
        const auto decode = [&] { return DecodePinValidationAnswer(std::get<0>(row), &count); };
        if (std::get<3>(row).empty())
            EXPECT_EQ(decode(), std::get<2>(row) >= 7) << std::get<0>(row);
        else
            EXPECT_EQ(KelMessage(CaughtKelException(decode)), std::get<3>(row));
        EXPECT_EQ(count, std::get<2>(row)) << std::get<0>(row);
    }
}

TEST(KeyOperationAnswers, KeyParameterTexts) {
    EXPECT_EQ(DecodeKeyParameterAnswer("null"), "");
    EXPECT_EQ(DecodeKeyParameterAnswer("7"), "7");
    for (const char* body : {"{}", "[]", "no"})
        EXPECT_EQ(KelMessage(CaughtKelException([&] { DecodeKeyParameterAnswer(body); })),
                  "Cannot decode server response. KeyParameter request failed.");
    EXPECT_EQ(KeyParameterNumber("42abc"), 42u);
    EXPECT_EQ(KeyParameterNumber("4294967296"), 0u);
    EXPECT_TRUE(KeyParameterBytes("A*==").empty());
}
