#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include "KelAssertions.h"
#include "ScriptedHttpClient.h"
#include "transport/KelUrlRetriever.h"

namespace {

using nimbex_test::Answer;
using nimbex_test::SentRequest;

class KelUrlRetrieverTest : public ::testing::Test {
  protected:
    KelUrlRetrieverTest() { transport.SetUrlRetriever(client); }

    KelUrlRetriever transport{0, 0, false, true, true};
    boost::shared_ptr<nimbex_test::ScriptedHttpClient> client =
        boost::make_shared<nimbex_test::ScriptedHttpClient>();
};

TEST_F(KelUrlRetrieverTest, EveryRequestCarriesTheOptionsAsTheyStandThen) {
    transport.SetTimeout(1500);
    transport.SetHttpErrorLevel(7);
    client->Add(Answer::Ok(std::string("a\0b\xff", 4)));
    EXPECT_EQ(transport.Request("https://h/p", {"A: 1", "B: 2"}, "data", "DELETE"),
              std::string("a\0b\xff", 4));
    transport.SetTimeout(65535);
    transport.SetKeepAlive(false);
    client->Add(Answer::Ok("secret"));
    EXPECT_EQ(transport.RequestSecret("https://h/q", {}, ""), "secret");
    KelUrlRetriever plain(0, 0, false, false, false);
    plain.SetUrlRetriever(client);
    client->Add(Answer::Ok(""));
    EXPECT_EQ(plain.Request("https://h/r", {}, ""), "");

    const std::vector<SentRequest>& sent = client->sent;
    ASSERT_EQ(sent.size(), 3u);
    const auto options = [](const SentRequest& r) {
        return std::to_string(r.timeout) + " " + std::to_string(r.errorLevel) + " " +
               std::to_string(r.followRedirects) + std::to_string(r.acceptCompressed) +
               std::to_string(r.keepAlive);
    };
    EXPECT_EQ(options(sent[0]), "1500 7 111");
    EXPECT_EQ(options(sent[1]), "-1 7 110");  // 65535: no limit
    EXPECT_EQ(options(sent[2]), "0 0 000");   // 0: the client's own time-out
    EXPECT_TRUE(sent[1].headers.empty() && sent[1].body.empty() && sent[1].method.empty());
}

TEST_F(KelUrlRetrieverTest, PlainHttpIsRefusedBeforeTheClientIsTouched) {
    for (const char* url : {"http://h/", "HTTPS://h/", "ftp://h", "", "htt"}) {
        EXPECT_KEL_THROW(transport.Request(url, {}, ""), 0x8010000Fu,
                         "Cloud exception: Usage of http protocol is restricted");
    }
    EXPECT_TRUE(client->sent.empty());
    transport.SetPermitHttp(true);
    client->Add(Answer::Ok(""));
    transport.Request("http://h/", {}, "");
    EXPECT_EQ(client->sent.size(), 1u);

    transport.SetUrlRetriever(nullptr);
    EXPECT_KEL_THROW(transport.Request("https://h/", {}, ""), 0x80090020u,
                     "Cloud exception: The HTTP client is not set");
}

TEST_F(KelUrlRetrieverTest, FailuresBecomeCodesAndTexts) {
    const struct {
        Answer answer;
        uint32_t code;
        std::string what;  // after "Cloud exception: "; empty: the body
    } cases[] = {
        {Answer::Failure(0), 0x80090020u, "Connection error: 2148073504"},
        {Answer{false, "", 503, 5}, 5u, "Connection error: 5, Server code: 503"},
        {Answer::Failure(0x80100065), 0x80100065u, "Connection error: 2148532325"},
        // A secure channel failure looks no further, whatever the answer.
        {Answer{false, R"({"error":"invalid_grant"})", 400, 12157}, 12157u,
         "Connection error: 12157"},
        {Answer::Status(400), 0x80090020u, "No server response data. Server code: 400"},
        {Answer{false, "", 400, 9}, 9u, "No server response data. Server code: 400"},
        // A 400 answer: its body is the text, its "Message" or else "error" the code.
        {Answer::Status(400, R"({"error":"invalid_grant"})"), 2202u, ""},
        {Answer::Status(400, R"({"Message":"invalid_pin","error":"invalid_grant"})"), 0x8010006Bu,
         ""},
        {Answer::Status(400, R"({"Message":"The PIN is wrong.","error":"invalid_pin"})"),
         0x80090020u, ""},
        {Answer::Status(400, R"({"Message":17,"error":"key_blocked"})"), 0x8010006Cu, ""},
        {Answer::Status(400, R"({"Message":"","error":"cancelled_by_user"})"), 0x8010006Eu, ""},
        {Answer::Status(400, "<html>Bad Request</html>"), 0x80090020u, ""},
        {Answer::Status(400, R"(["invalid_pin"])"), 0x80090020u, ""},
    };
    for (const auto& c : cases) {
        const std::string what = c.what.empty() ? c.answer.body : c.what;
        SCOPED_TRACE(what);
        client->Add(c.answer);
        EXPECT_KEL_THROW(transport.Request("https://h/p", {}, ""), c.code,
                         "Cloud exception: " + what);
    }
}

TEST(ServiceErrorTable, EveryServiceErrorHasItsCode) {
    const std::pair<const char*, uint32_t> table[] = {
        {"content_required", 0x80090005},
        {"invalid_request", 0x8009001F},
        {"invalid_certificate", 0x80090016},
        {"invalid_signature_type", 87},
        {"invalid_signature_params", 87},
        {"invalid_hash_alg", 0x80090008},
        {"invalid_pin", 0x8010006B},
        {"key_blocked", 0x8010006C},
        {"invalid_username", 2202},
        {"invalid_password", 86},
        {"invalid_grant", 2202},
        {"internal_error", 0x80090020},
        {"unexpected_response", 0x80100065},
        {"launch_failed", 0x8009001D},
        {"cancelled_by_user", 0x8010006E},
        {"invalid_http_message_signature", 0x8010006A},
        {"login_required", 1244},
        {"max_request_length_exceeded", 4336},
        {"authentication_declined", 0x8010006E},
        {"invalid_transaction", 0x8010006E},
        {"invalid_conf_token", 0x80090022},
    };
    for (const auto& entry : table)
        EXPECT_EQ(KelUrlRetriever::LookupErrorCode(entry.first), entry.second) << entry.first;
    // The lookup is exact; anything else is a general failure.
    for (const char* other : {"", "invalid_pin ", "Invalid_pin", "INVALID_GRANT", "pin"})
        EXPECT_EQ(KelUrlRetriever::LookupErrorCode(other), 0x80090020u) << other;
}

}  // namespace
