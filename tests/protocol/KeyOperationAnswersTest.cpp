// Answers of the PIN and key-parameter requests that the local service never
// sends: the older boolean form, malformed fields, odd parameter texts.
#include <gtest/gtest.h>

#include "KelAssertions.h"
#include "base/ErrorCodes.h"
#include "protocol/KeyOperationAnswers.h"
#include "protocol/KeyOperationRequests.h"

using nimbex_test::CaughtKelException;
using nimbex_test::KelMessage;

TEST(KeyOperationAnswers, PinValidation) {
    const std::string wrongFields =
        "Cannot decode server response for the PIN verification. Wrong JSON fields.";
    const struct {
        const char* body;
        uint32_t countIn;
        bool valid;
        uint32_t countOut;
        std::string error;  // empty: no exception
    } rows[] = {
        {"true", 3, true, 10, ""},
        {"false", 3, false, 2, ""},
        {"false", 0, false, 0, ""},
        {R"({"IsValid":false,"Remaining":0,"ErrorDescription":"key_blocked"})", 5, false, 0, ""},
        {R"({"IsValid":false,"Remaining":4,"ErrorDescription":"invalid_pin"})", 5, false, 4, ""},
        {R"({"IsValid":true,"Remaining":7,"ErrorDescription":null})", 5, true, 7, ""},
        {R"({"IsValid":false,"Remaining":4,"ErrorDescription":"locked_out"})", 5, false, 5,
         "PIN verification error:locked_out"},
        {R"({"IsValid":true,"Remaining":7})", 5, true, 5, wrongFields},
        {R"({"IsValid":false,"Remaining":4,"ErrorDescription":null})", 5, false, 5, wrongFields},
        {R"({"IsValid":1,"Remaining":4,"ErrorDescription":""})", 5, false, 5, wrongFields},
        {R"({"IsValid":true,"Remaining":-1,"ErrorDescription":""})", 5, false, 5, wrongFields},
        {R"({"IsValid":true,"Remaining":4.0,"ErrorDescription":""})", 5, false, 5, wrongFields},
        {R"({"IsValid":true,"Remaining":4294967296,"ErrorDescription":""})", 5, false, 5,
         wrongFields},
        {"[1]", 5, false, 5, wrongFields},
        {"<html>", 5, false, 5,
         "Cannot decode server response for the PIN verification. The response is not a JSON."},
    };
    for (const auto& row : rows) {
        uint32_t count = row.countIn;
        if (row.error.empty()) {
            EXPECT_EQ(DecodePinValidationAnswer(row.body, &count), row.valid) << row.body;
            EXPECT_EQ(DecodePinValidationAnswer(row.body, nullptr), row.valid) << row.body;
        } else {
            const KelException e =
                CaughtKelException([&] { DecodePinValidationAnswer(row.body, &count); });
            EXPECT_EQ(KelMessage(e), row.error) << row.body;
            EXPECT_EQ(e.code(), codes::kFail);
        }
        EXPECT_EQ(count, row.countOut) << row.body;
    }
}

TEST(KeyOperationAnswers, KeyParameterTexts) {
    const struct {
        const char* body;
        bool decodes;
        const char* text;
        uint32_t number;
    } rows[] = {
        {R"("42abc")", true, "42abc", 42},
        {"null", true, "", 0},
        {"7", true, "7", 7},
        {R"("4294967295")", true, "4294967295", 0xFFFFFFFF},
        {R"("4294967296")", true, "4294967296", 0},
        {R"("-3")", true, "-3", 0},
        {"{\"a\":1}", false, "", 0},
        {"[]", false, "", 0},
        {"not json", false, "", 0},
    };
    for (const auto& row : rows) {
        std::string text;
        if (row.decodes) {
            text = DecodeKeyParameterAnswer(row.body);
        } else {
            EXPECT_EQ(KelMessage(CaughtKelException([&] { DecodeKeyParameterAnswer(row.body); })),
                      "Cannot decode server response. KeyParameter request failed.");
        }
        EXPECT_EQ(text, row.text) << row.body;
        EXPECT_EQ(KeyParameterNumber(text), row.number) << row.body;
    }
    EXPECT_EQ(KeyParameterBytes("AQL6"), (std::vector<unsigned char>{1, 2, 250}));
    EXPECT_TRUE(KeyParameterBytes("").empty());
    EXPECT_TRUE(KeyParameterBytes("A*==").empty());
}

TEST(KeyOperationAnswers, ThumbprintQueryIsUrlSafeWithPadding) {
    const unsigned char thumbprint[] = {0xFB, 0xFF, 0xBF, 0xFB};
    EXPECT_EQ(MakeThumbprintQueryValue(thumbprint, sizeof(thumbprint)), "-_-_-w==");
}
