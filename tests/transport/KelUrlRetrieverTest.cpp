#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include "KelAssertions.h"
#include "ScriptedRetriever.h"
#include "transport/KelUrlRetriever.h"

namespace {

using Calls = std::vector<std::string>;

struct Failure {
    uint32_t code = 0;
    std::string what;
};

class KelUrlRetrieverTest : public ::testing::Test {
  protected:
    KelUrlRetrieverTest() : transport(0, 0, false, true, true) {
        client = boost::make_shared<ScriptedRetriever>();
        transport.SetUrlRetriever(client);
    }

    // Runs a request that must fail and returns what it raised.
    Failure Fail(const std::string& url = "https://h/p", const char* method = nullptr) {
        const KelException e =
            nimbex_test::CaughtKelException([&] { transport.Request(url, {}, "", method); });
        return {e.code(), e.what()};
    }

    Failure FailWith400(const std::string& body) {
        client->result = 0;
        client->status = 400;
        client->response = body;
        return Fail();
    }

    KelUrlRetriever transport;
    boost::shared_ptr<ScriptedRetriever> client;
};

TEST_F(KelUrlRetrieverTest, ConfiguresTheClientInOrder) {
    transport.SetTimeout(1500);
    transport.SetHttpErrorLevel(7);
    client->response = "payload";
    EXPECT_EQ(transport.Request("https://h/p", {"A: 1", "B: 2"}, "data", "DELETE"), "payload");
    EXPECT_EQ(client->calls, (Calls{"reset", "fail 1", "headers 2", "body", "timeout 1500",
                                    "follow 1", "compressed 1", "error_level 7", "method DELETE",
                                    "keep_body 1", "perform https://h/p"}));
    EXPECT_EQ(client->headers, (std::vector<std::string>{"A: 1", "B: 2"}));
    EXPECT_EQ(client->body, "data");
}

TEST_F(KelUrlRetrieverTest, SkipsEmptyArgumentsAndMapsTimeouts) {
    KelUrlRetriever plain(0, 0, false, false, false);
    plain.SetUrlRetriever(client);
    EXPECT_EQ(plain.Request("https://h/", {}, ""), "");
    EXPECT_EQ(client->calls, (Calls{"reset", "fail 1", "follow 0", "compressed 0", "error_level 0",
                                    "keep_body 1", "perform https://h/"}));
    EXPECT_FALSE(client->keepAliveAtPerform);

    client->calls.clear();
    transport.SetTimeout(65535);
    transport.Request("https://h/", {}, "");
    EXPECT_EQ(client->calls.at(2), "timeout -1");
    EXPECT_TRUE(client->keepAliveAtPerform);

    // Options are read afresh for every request.
    client->calls.clear();
    transport.SetKeepAlive(false);
    transport.SetTimeout(0);
    transport.Request("https://h/", {}, "");
    EXPECT_EQ(client->calls.at(2), "follow 1");
    EXPECT_FALSE(client->keepAliveAtPerform);
}

TEST_F(KelUrlRetrieverTest, RefusesPlainHttpBeforeTouchingTheClient) {
    for (const char* url : {"http://h/", "HTTPS://h/", "ftp://h", "", "htt"}) {
        Failure f = Fail(url);
        EXPECT_EQ(f.code, 0x8010000Fu) << url;
        EXPECT_EQ(f.what, "Cloud exception: Usage of http protocol is restricted");
    }
    EXPECT_TRUE(client->calls.empty());
    transport.SetPermitHttp(true);
    EXPECT_EQ(transport.Request("http://h/", {}, ""), "");
    EXPECT_EQ(client->calls.back(), "perform http://h/");
}

TEST_F(KelUrlRetrieverTest, ConnectionErrors) {
    client->result = 0;
    Failure f = Fail();
    EXPECT_EQ(f.code, 0x80090020u);
    EXPECT_EQ(f.what, "Cloud exception: Connection error: 2148073504");

    client->errorCode = 5;
    client->status = 503;
    f = Fail();
    EXPECT_EQ(f.code, 5u);
    EXPECT_EQ(f.what, "Cloud exception: Connection error: 5, Server code: 503");

    // A code with the high bit set prints unsigned.
    client->errorCode = 0x80100065;
    client->status = 0;
    EXPECT_EQ(Fail().what, "Cloud exception: Connection error: 2148532325");
}

TEST_F(KelUrlRetrieverTest, SecureChannelErrorLooksNoFurther) {
    client->result = 0;
    client->errorCode = 12157;
    client->status = 400;
    client->response = R"({"error":"invalid_grant"})";
    Failure f = Fail();
    EXPECT_EQ(f.code, 12157u);
    EXPECT_EQ(f.what, "Cloud exception: Connection error: 12157");
    EXPECT_EQ(std::count(client->calls.begin(), client->calls.end(), "status"), 0);
}

TEST_F(KelUrlRetrieverTest, BadRequestAnswersGoThroughTheErrorTable) {
    Failure f = FailWith400(R"({"error":"invalid_grant"})");
    EXPECT_EQ(f.code, 2202u);
    EXPECT_EQ(f.what, R"(Cloud exception: {"error":"invalid_grant"})");

    EXPECT_EQ(FailWith400(R"({"Message":"invalid_pin","error":"invalid_grant"})").code,
              0x8010006Bu);
    EXPECT_EQ(FailWith400(R"({"Message":"The PIN is wrong.","error":"invalid_pin"})").code,
              0x80090020u);
    // "Message" that is not a string falls back to "error".
    EXPECT_EQ(FailWith400(R"({"Message":17,"error":"key_blocked"})").code, 0x8010006Cu);
    EXPECT_EQ(FailWith400(R"({"Message":"","error":"cancelled_by_user"})").code, 0x8010006Eu);
    EXPECT_EQ(FailWith400(R"({"error":"INVALID_GRANT"})").code, 0x80090020u);
    EXPECT_EQ(FailWith400("<html>Bad Request</html>").code, 0x80090020u);
    EXPECT_EQ(FailWith400(R"(["invalid_pin"])").code, 0x80090020u);
}

TEST_F(KelUrlRetrieverTest, BadRequestWithoutBody) {
    Failure f = FailWith400("");
    EXPECT_EQ(f.code, 0x80090020u);
    EXPECT_EQ(f.what, "Cloud exception: No server response data. Server code: 400");
    client->errorCode = 9;
    EXPECT_EQ(FailWith400("").code, 9u);
}

TEST_F(KelUrlRetrieverTest, ResponseBytesAreReturnedUnchanged) {
    client->response = std::string("a\0b\xff", 4);
    EXPECT_EQ(transport.Request("https://h/", {}, ""), client->response);
}

TEST_F(KelUrlRetrieverTest, ErrorLookupIsExact) {
    EXPECT_EQ(transport.LookupErrorCode("invalid_conf_token"), 0x80090022u);
    EXPECT_EQ(transport.LookupErrorCode("max_request_length_exceeded"), 4336u);
    EXPECT_EQ(transport.LookupErrorCode(""), 0x80090020u);
    EXPECT_EQ(transport.LookupErrorCode("invalid_pin "), 0x80090020u);
    EXPECT_EQ(transport.LookupErrorCode("Invalid_pin"), 0x80090020u);
}

TEST(KelUrlRetrieverOptions, ConstructorAndSetters) {
    KelUrlRetriever t(300, 2, true, false, true);
    EXPECT_EQ(t.GetTimeout(), 300);
    EXPECT_EQ(t.GetHttpErrorLevel(), 2u);
    EXPECT_TRUE(t.GetPermitHttp());
    EXPECT_FALSE(t.GetKeepAlive());
    EXPECT_TRUE(t.GetClientFlag());
    ASSERT_TRUE(t.GetUrlRetriever());
    auto other = boost::make_shared<ScriptedRetriever>();
    t.SetUrlRetriever(other);
    EXPECT_EQ(t.GetUrlRetriever(), other);

    t.SetUrlRetriever(nullptr);
    EXPECT_KEL_THROW(t.Request("https://h/", {}, ""), 0x80090020u,
                     "Cloud exception: The HTTP client is not set");
}

}  // namespace
