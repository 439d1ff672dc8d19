#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/writer.h>

#include <functional>
#include <string>

#include "KelAssertions.h"
#include "base/ErrorCodes.h"
#include "protocol/ResponseDecoding.h"
#include "protocol/TextEncoding.h"
#include "transport/KelUrlRetriever.h"

namespace {

Json::Value Parse(const std::string& text) {
    Json::Value v;
    EXPECT_TRUE(ParseJson(text, v)) << text;
    return v;
}

// Runs `f`, expecting a KelException; returns its message (without the
// prefix) and code.
using Outcome = std::pair<std::string, uint32_t>;
template <class F>
Outcome Thrown(F&& f) {
    const KelException e = nimbex_test::CaughtKelException(std::forward<F>(f));
    return {nimbex_test::KelMessage(e), e.code()};
}

class ResponseDecodingTest : public ::testing::Test {
  protected:
    KelUrlRetriever transport{0, 0, false, true, true};
};

std::string B64(const std::string& s) {
    return EncodeBase64(s.data(), s.size());
}

}  // namespace

// What is JSON is the library's business; here: nothing throws.
TEST(ParseJsonTest, RejectsWithoutThrowing) {
    Json::Value v;
    for (const std::string& text :
         {std::string(), std::string("{\"a\":"), std::string("<html>"), std::string(100000, '[')})
        EXPECT_FALSE(ParseJson(text, v)) << text.substr(0, 10);
    EXPECT_EQ("", GetJsonStringField(R"({"Message":"invalid_pin",})", "Message"));
    EXPECT_THROW(DecodeCertificateList("[{\"ID\":1},]"), KelException);
}

TEST(IsErrorResponseTest, RecognisesTheThreeErrorShapes) {
    const std::pair<const char*, bool> cases[] = {
        {R"({"Status":"Error"})", true},
        {R"({"Error":""})", true},
        {R"({"ErrorDescription":"x"})", true},
        {R"({"Status":"Completed","Error":"invalid_pin"})", true},
        {R"({"Status":"Completed"})", false},
        {R"({"Status":"error"})", false},
        {R"({"Error":1,"ErrorDescription":null})", false},
        {R"({"Status":true})", false},
        {R"(["Error"])", false},
        {R"("Error")", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsErrorResponse(Parse(c.first)), c.second) << c.first;
}

TEST_F(ResponseDecodingTest, ServiceErrorMessagesAndCodes) {
    Json::Value notUtf8(Json::objectValue);
    notUtf8["Error"] = "key_blocked";
    notUtf8["ErrorDescription"] = std::string("bad \xFF\xFE text");  // dropped
    const struct {
        Json::Value body;
        const char* message;
        uint32_t code;
    } cases[] = {
        {Parse("{}"), "Unknown error was occured during the operation Op", codes::kFail},
        {Parse(R"({"Error":"invalid_pin","ErrorDescription":"Wrong"})"),
         "invalid_pin; ErrorDescription: Wrong", codes::kWrongPin},
        {Parse(R"({"ErrorDescription":"Д"})"), "; ErrorDescription: \xD0\x94", codes::kFail},
        {Parse(R"({"Error":"weird"})"), "weird", codes::kFail},
        {Parse(R"({"Error":"key_blocked","ErrorDescription":""})"), "key_blocked",
         codes::kPinBlocked},
        {notUtf8, "key_blocked", codes::kPinBlocked},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Outcome(c.message, c.code),
                  Thrown([&] { ThrowServiceError(transport, c.body, "Op"); }));
}

TEST_F(ResponseDecodingTest, OperationAnswers) {
    // A failure is written as its code and message.
    const std::string kCannot = "80090020 Cannot decode server response. The Sign";
    const std::string kWrong = kCannot + "V2 response is a wrong JSON.";
    const struct {
        const char* body;
        bool v2, emptyAllowed;
        std::string outcome;  // the decoded value written compactly, or the failure
    } cases[] = {
        // Version 1: returned as parsed, errors included.
        {R"({"Error":"invalid_pin"})", false, false, R"({"Error":"invalid_pin"})"},
        {"oops", false, false, kCannot + " response is not a JSON."},
        // Empty answers allowed: not parsed; a non-empty one gives a marker.
        {"", false, true, "null"},
        {"not json", false, true, R"("\"non_empty_value\"")"},
        {"", true, true, kCannot + "V2 response is not a JSON."},
        // Version 2: the result of a completed operation.
        {R"({"Operation":{"Status":"Completed","Result":"abc"}})", true, false, R"("abc")"},
        {R"({"Operation":{"Status":"Completed","Result":{"a":[1,2]}}})", true, false,
         R"({"a":[1,2]})"},
        {R"({"Operation":{"Status":"Completed","Result":null}})", true, false, "null"},
        {R"({"Operation":{"Status":"InProgress","Result":"abc"}})", true, false, kWrong},
        {R"({"Operation":{"Status":"Completed"}})", true, false, kWrong},
        {R"({"Operation":"Completed"})", true, false, kWrong},
        {R"({"Status":"Completed","Result":"abc"})", true, false, kWrong},
        {R"([{"Operation":{"Status":"Completed","Result":"abc"}}])", true, false, kWrong},
        // Version 2: an error inside the envelope.
        {R"({"Operation":{"Status":"Error","Error":"invalid_hash_alg","Result":"x"}})", true, false,
         "80090008 invalid_hash_alg"},
        {R"({"Operation":{"Status":"Error"}})", true, false,
         "80090020 Unknown error was occured during the operation SignV2"},
    };
    for (const auto& c : cases) {
        std::string outcome;
        try {
            outcome = Json::FastWriter().write(
                DecodeOperationResponse(transport, "Sign", c.body, c.v2, c.emptyAllowed));
            outcome.pop_back();
        } catch (const KelException& e) {
            char code[9];
            snprintf(code, sizeof(code), "%08X", e.code());
            outcome = code + (" " + nimbex_test::KelMessage(e));
        }
        EXPECT_EQ(c.outcome, outcome) << c.body;
    }
}

TEST(CertificateRecordTest, DecodesFieldsOrLeavesTheRecordAlone) {
    // Well-formed records: KeyOperationsServiceTest (HasPin true 1, false 2, the name).
    CertificateRecord r;
    r.friendlyName = "old";
    ASSERT_TRUE(DecodeCertificateRecord(
        Parse(R"({"CertificateBase64":"YWI","ID":3,"FriendlyName":7,"HasPin":false})"), r));
    EXPECT_EQ(std::vector<unsigned char>({'a', 'b'}), r.certificate);
    EXPECT_EQ(3u, r.id);
    EXPECT_EQ("", r.friendlyName);
    EXPECT_EQ(2, r.hasPin);
    ASSERT_TRUE(DecodeCertificateRecord(
        Parse(R"({"CertificateBase64":"YQ==","ID":4,"HasPin":"true"})"), r));
    EXPECT_EQ(0, r.hasPin);

    r.id = 99;
    r.friendlyName = "kept";
    for (const char* body :
         {R"({"ID":1})", R"({"CertificateBase64":"YWJj"})",
          R"({"CertificateBase64":"YWJj","ID":"1"})", R"({"CertificateBase64":5,"ID":1})",
          R"({"CertificateBase64":"YWJj","ID":1.5})", "[1]"})
        EXPECT_FALSE(DecodeCertificateRecord(Parse(body), r)) << body;
    EXPECT_EQ(99u, r.id);
    EXPECT_EQ("kept", r.friendlyName);

    auto e =
        Thrown([&] { DecodeCertificateRecord(Parse(R"({"CertificateBase64":"","ID":1})"), r); });
    EXPECT_EQ("Cannot decode empty Base64 value", e.first);
    e = Thrown([&] { DecodeCertificateRecord(Parse(R"({"CertificateBase64":"a b","ID":1})"), r); });
    EXPECT_EQ("Cannot decode Base64 value", e.first);
}

TEST(CertificateListTest, SkipsUnusableElementsInOrder) {
    std::string body = "[{\"ID\":1},{\"ID\":2,\"CertificateBase64\":\"" + B64("cert-two") +
                       "\"},7,{\"ID\":3,\"CertificateBase64\":\"" + B64("cert-three") + "\"}]";
    std::vector<CertificateRecord> list = DecodeCertificateList(body);
    ASSERT_EQ(2u, list.size());
    EXPECT_EQ(2u, list[0].id);
    EXPECT_EQ("cert-two", std::string(list[0].certificate.begin(), list[0].certificate.end()));
    EXPECT_EQ(3u, list[1].id);
    EXPECT_TRUE(DecodeCertificateList("[]").empty());
    EXPECT_EQ(
        Outcome("Cannot decode server response. The certificate list is not a JSON.", codes::kFail),
        Thrown([] { DecodeCertificateList("{"); }));
    EXPECT_EQ("Cannot decode server response. The certificate list is not array.",
              Thrown([] { DecodeCertificateList(R"({"ID":1})"); }).first);
}

TEST(ServerPolicyTest, ParamSetsPerProviderType) {
    ServerPolicy p;
    p.paramSets[80] = {"old"};
    DecodeServerPolicy(p, R"({"CSPsPolicy":[
        {"ProviderType":80,"SupportedParamSets":["1.2.643.2.2.35.1","1.2.643.2.2.35.2"]},
        {"ProviderType":81},
        {"SupportedParamSets":["x"]},
        {"ProviderType":75,"SupportedParamSets":[]}]})");
    EXPECT_TRUE(p.loaded);
    EXPECT_EQ((std::set<std::string>{"1.2.643.2.2.35.1", "1.2.643.2.2.35.2"}), p.paramSets[80]);
    EXPECT_EQ(0u, p.paramSets.count(81));
    EXPECT_EQ((std::set<std::string>{"x"}), p.paramSets[0]);
    EXPECT_TRUE(p.paramSets.count(75) && p.paramSets[75].empty());
    // The object form of the provider list.
    ServerPolicy q;
    DecodeServerPolicy(q, R"({"CSPsPolicy":{"a":{"ProviderType":80,"SupportedParamSets":["p"]}}})");
    EXPECT_EQ((std::set<std::string>{"p"}), q.paramSets[80]);
}

TEST(ServerPolicyTest, ActionPolicyStopsAtTheFirstBadElement) {
    const struct {
        const char* body;
        size_t count;
        bool signMfa;
    } cases[] = {
        {R"({"ActionPolicy":[{"Action":"SignDocument","MfaRequired":true},
            {"Action":"PrivateKeyAccess"},{"Action":"CreateRequest","MfaRequired":true}]})",
         1, true},
        {R"({"ActionPolicy":[{"Action":"SignDocument","MfaRequired":true},
            {"Action":"SignDocument","MfaRequired":false},{"Action":"Other","MfaRequired":"true"},
            {"Action":"Late","MfaRequired":true}]})",
         1, false},
        {R"({"ActionPolicy":{"Action":"x","MfaRequired":true}})", 0, false},
    };
    for (const auto& c : cases) {
        ServerPolicy p;
        DecodeServerPolicy(p, c.body);
        EXPECT_TRUE(p.loaded);
        EXPECT_EQ(c.count, p.mfaByAction.size()) << c.body;
        EXPECT_EQ(c.signMfa, p.mfaByAction["SignDocument"]) << c.body;
    }
    ServerPolicy q;
    EXPECT_EQ("Cannot decode server response. The server policy is not a JSON.",
              Thrown([&] { DecodeServerPolicy(q, "nope"); }).first);
    EXPECT_FALSE(q.loaded);
}

// The exact transaction bodies: ConfirmationTest and KeyOperationsServiceTest.
TEST(OperationRequestTest, AnEmptyDocumentIsLeftOut) {
    const std::vector<unsigned char> empty;
    EXPECT_EQ(MakeOperationRequest("DeleteCertificate", Json::Value(Json::arrayValue), &empty),
              "{\"OperationCode\":\"DeleteCertificate\",\"Parameters\":[]}\n");
}

// Including texts longer than the in-place decoder's slice and "=" or bad
// characters past a slice border.
TEST(Base64ValueTest, AgreesWithDecodeBase64) {
    std::string big;
    for (int i = 0; i < 300000; ++i) big += static_cast<char>('A' + i % 26);
    // The bytes decoded, or the failure's message.
    const auto outcome = [](const std::function<std::vector<unsigned char>()>& decode) {
        try {
            const std::vector<unsigned char> bytes = decode();
            return std::string(bytes.begin(), bytes.end());
        } catch (const KelException& e) {
            return std::string("failed: ") + e.what();
        }
    };
    for (const std::string& in :
         {std::string("YWJj"), std::string("YWI"), std::string("YW=garbage"), std::string("Y"),
          std::string("=abc"), std::string("YW Jj"), big, big + "YQ", big + "Y",
          big.substr(0, 65536) + "=@@@", big.substr(0, 65536) + "@" + big, big + "\n"})
        EXPECT_EQ(outcome([&] { return DecodeBase64(in); }),
                  outcome([&] { return DecodeBase64Value(Json::Value(in)); }))
            << in.size();
    EXPECT_THROW(DecodeBase64Value(Json::Value(5)), KelException);
    EXPECT_THROW(DecodeBase64Value(Json::Value("")), KelException);
}
