#include <gtest/gtest.h>
#include <json/reader.h>

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
template <class F>
std::pair<std::string, uint32_t> Thrown(F&& f) {
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

TEST(ParseJsonTest, RejectsNonJsonAndDeepNestingWithoutThrowing) {
    Json::Value v;
    EXPECT_TRUE(ParseJson("{\"a\":1}", v));
    EXPECT_EQ(1, v["a"].asInt());
    EXPECT_FALSE(ParseJson("", v));
    EXPECT_FALSE(ParseJson("{\"a\":", v));
    EXPECT_FALSE(ParseJson("<html>", v));
    EXPECT_FALSE(ParseJson(std::string(100000, '['), v));
}

// The library's own reader decides what is JSON: text after the value and
// comments are accepted, trailing commas, a byte order mark and a "+" sign
// are not.
TEST(ParseJsonTest, AcceptsWhatTheLibraryReaderAccepts) {
    Json::Value v;
    EXPECT_TRUE(ParseJson("{\"a\":1} trailing text", v));
    EXPECT_EQ(1, v["a"].asInt());
    EXPECT_TRUE(ParseJson("// note\n[1] /* end */", v));
    EXPECT_EQ(1u, v.size());
    EXPECT_FALSE(ParseJson("[1,]", v));
    EXPECT_FALSE(ParseJson("{\"a\":1,}", v));
    EXPECT_FALSE(ParseJson("\xEF\xBB\xBF{\"a\":1}", v));
    EXPECT_FALSE(ParseJson("{\"a\":+1}", v));
    EXPECT_EQ("", GetJsonStringField(R"({"Message":"invalid_pin",})", "Message"));
    EXPECT_THROW(DecodeCertificateList("[{\"ID\":1},]"), KelException);
}

TEST(IsErrorResponseTest, RecognisesTheThreeErrorShapes) {
    EXPECT_TRUE(IsErrorResponse(Parse(R"({"Status":"Error"})")));
    EXPECT_TRUE(IsErrorResponse(Parse(R"({"Error":""})")));
    EXPECT_TRUE(IsErrorResponse(Parse(R"({"ErrorDescription":"x"})")));
    EXPECT_TRUE(IsErrorResponse(Parse(R"({"Status":"Completed","Error":"invalid_pin"})")));
    EXPECT_FALSE(IsErrorResponse(Parse(R"({"Status":"Completed"})")));
    EXPECT_FALSE(IsErrorResponse(Parse(R"({"Status":"error"})")));
    EXPECT_FALSE(IsErrorResponse(Parse(R"({"Error":1,"ErrorDescription":null})")));
    EXPECT_FALSE(IsErrorResponse(Parse(R"({"Status":true})")));
    EXPECT_FALSE(IsErrorResponse(Parse(R"(["Error"])")));
    EXPECT_FALSE(IsErrorResponse(Parse(R"("Error")")));
}

TEST_F(ResponseDecodingTest, ServiceErrorMessagesAndCodes) {
    auto empty = Thrown([&] { ThrowServiceError(transport, Parse("{}"), "ChangePin"); });
    EXPECT_EQ("Unknown error was occured during the operation ChangePin", empty.first);
    EXPECT_EQ(codes::kFail, empty.second);

    auto named = Thrown([&] {
        ThrowServiceError(transport, Parse(R"({"Error":"invalid_pin","ErrorDescription":"Wrong"})"),
                          "Sign");
    });
    EXPECT_EQ("invalid_pin; ErrorDescription: Wrong", named.first);
    EXPECT_EQ(codes::kWrongPin, named.second);

    auto described =
        Thrown([&] { ThrowServiceError(transport, Parse(R"({"ErrorDescription":"Д"})"), "X"); });
    EXPECT_EQ("; ErrorDescription: \xD0\x94", described.first);
    EXPECT_EQ(codes::kFail, described.second);

    auto unknown =
        Thrown([&] { ThrowServiceError(transport, Parse(R"({"Error":"weird"})"), "X"); });
    EXPECT_EQ("weird", unknown.first);
    EXPECT_EQ(codes::kFail, unknown.second);
}

TEST_F(ResponseDecodingTest, ServiceErrorDropsDescriptionsThatAreNotUtf8) {
    Json::Value v(Json::objectValue);
    v["Error"] = "key_blocked";
    v["ErrorDescription"] = std::string("bad \xFF\xFE text");
    auto e = Thrown([&] { ThrowServiceError(transport, v, "Sign"); });
    EXPECT_EQ("key_blocked", e.first);
    EXPECT_EQ(codes::kPinBlocked, e.second);

    v["ErrorDescription"] = "";
    EXPECT_EQ("key_blocked", Thrown([&] { ThrowServiceError(transport, v, "Sign"); }).first);
}

TEST_F(ResponseDecodingTest, VersionOneAnswersAreReturnedAsParsed) {
    Json::Value v =
        DecodeOperationResponse(transport, "Sign", R"({"Error":"invalid_pin"})", false, false);
    EXPECT_EQ("invalid_pin", v["Error"].asString());

    auto e = Thrown([&] { DecodeOperationResponse(transport, "Sign", "oops", false, false); });
    EXPECT_EQ("Cannot decode server response. The Sign response is not a JSON.", e.first);
    EXPECT_EQ(codes::kFail, e.second);
}

TEST_F(ResponseDecodingTest, EmptyAllowedAnswersAreNotParsed) {
    EXPECT_TRUE(DecodeOperationResponse(transport, "Delete", "", false, true).isNull());
    Json::Value marker = DecodeOperationResponse(transport, "Delete", "not json", false, true);
    ASSERT_TRUE(marker.isString());
    EXPECT_EQ("\"non_empty_value\"", marker.asString());
    // With version 2 the flag does not skip parsing.
    auto e = Thrown([&] { DecodeOperationResponse(transport, "Delete", "", true, true); });
    EXPECT_EQ("Cannot decode server response. The DeleteV2 response is not a JSON.", e.first);
}

TEST_F(ResponseDecodingTest, VersionTwoEnvelope) {
    Json::Value r = DecodeOperationResponse(
        transport, "Sign", R"({"Operation":{"Status":"Completed","Result":"abc"}})", true, false);
    EXPECT_EQ("abc", r.asString());
    r = DecodeOperationResponse(transport, "Sign",
                                R"({"Operation":{"Status":"Completed","Result":{"a":[1,2]}}})",
                                true, false);
    EXPECT_EQ(2u, r["a"].size());
    r = DecodeOperationResponse(
        transport, "Sign", R"({"Operation":{"Status":"Completed","Result":null}})", true, false);
    EXPECT_TRUE(r.isNull());

    const char* wrong[] = {
        R"({"Operation":{"Status":"InProgress","Result":"abc"}})",
        R"({"Operation":{"Status":"Completed"}})",
        R"({"Operation":"Completed"})",
        R"({"Status":"Completed","Result":"abc"})",
        R"([{"Operation":{"Status":"Completed","Result":"abc"}}])",
    };
    for (const char* body : wrong) {
        auto e = Thrown([&] { DecodeOperationResponse(transport, "Sign", body, true, false); });
        EXPECT_EQ("Cannot decode server response. The SignV2 response is a wrong JSON.", e.first)
            << body;
        EXPECT_EQ(codes::kFail, e.second);
    }
}

TEST_F(ResponseDecodingTest, VersionTwoErrorInsideTheEnvelope) {
    auto e = Thrown([&] {
        DecodeOperationResponse(
            transport, "Sign",
            R"({"Operation":{"Status":"Error","Error":"invalid_hash_alg","Result":"x"}})", true,
            false);
    });
    EXPECT_EQ("invalid_hash_alg", e.first);
    EXPECT_EQ(codes::kBadAlgId, e.second);

    e = Thrown([&] {
        DecodeOperationResponse(transport, "Sign", R"({"Operation":{"Status":"Error"}})", true,
                                false);
    });
    EXPECT_EQ("Unknown error was occured during the operation SignV2", e.first);
}

TEST(JsonFieldTest, StringField) {
    EXPECT_EQ("invalid_pin", GetJsonStringField(R"({"Message":"invalid_pin"})", "Message"));
    EXPECT_EQ("", GetJsonStringField(R"({"Message":5})", "Message"));
    EXPECT_EQ("", GetJsonStringField(R"({"message":"x"})", "Message"));
    EXPECT_EQ("", GetJsonStringField(R"(["Message"])", "Message"));
    EXPECT_EQ("", GetJsonStringField("not json", "Message"));
    EXPECT_EQ("", GetJsonStringField(std::string(5000, '{'), "Message"));
}

TEST(JsonFieldTest, UIntFieldAcceptsIntegersAndBools) {
    uint32_t v = 7;
    EXPECT_TRUE(GetJsonUIntField(R"({"exp":1700000000})", "exp", v));
    EXPECT_EQ(1700000000u, v);
    EXPECT_TRUE(GetJsonUIntField(R"({"exp":4294967295})", "exp", v));
    EXPECT_EQ(4294967295u, v);
    EXPECT_TRUE(GetJsonUIntField(R"({"exp":true})", "exp", v));
    EXPECT_EQ(1u, v);
    v = 7;
    EXPECT_FALSE(GetJsonUIntField(R"({"exp":"12"})", "exp", v));
    EXPECT_FALSE(GetJsonUIntField(R"({"exp":1.5})", "exp", v));
    // Integral but with no 32-bit unsigned value: the library's exception passes.
    EXPECT_THROW(GetJsonUIntField(R"({"exp":-1})", "exp", v), Json::LogicError);
    EXPECT_THROW(GetJsonUIntField(R"({"exp":4294967296})", "exp", v), Json::LogicError);
    EXPECT_FALSE(GetJsonUIntField(R"({"other":1})", "exp", v));
    EXPECT_FALSE(GetJsonUIntField("[1]", "exp", v));
    EXPECT_FALSE(GetJsonUIntField("", "exp", v));
    EXPECT_EQ(7u, v);
}

TEST(CertificateRecordTest, DecodesAllFields) {
    CertificateRecord r;
    ASSERT_TRUE(DecodeCertificateRecord(
        Parse(R"({"CertificateBase64":"YWJj","ID":42,"FriendlyName":"Key","HasPin":true})"), r));
    EXPECT_EQ(std::vector<unsigned char>({'a', 'b', 'c'}), r.certificate);
    EXPECT_EQ(42u, r.id);
    EXPECT_EQ("Key", r.friendlyName);
    EXPECT_EQ(1, r.hasPin);

    ASSERT_TRUE(DecodeCertificateRecord(
        Parse(R"({"CertificateBase64":"YWI","ID":3,"FriendlyName":7,"HasPin":false})"), r));
    EXPECT_EQ(std::vector<unsigned char>({'a', 'b'}), r.certificate);
    EXPECT_EQ("", r.friendlyName);
    EXPECT_EQ(2, r.hasPin);

    ASSERT_TRUE(DecodeCertificateRecord(
        Parse(R"({"CertificateBase64":"YQ==","ID":4,"HasPin":"true"})"), r));
    EXPECT_EQ(0, r.hasPin);
}

TEST(CertificateRecordTest, UnusableObjectsLeaveTheRecordAlone) {
    CertificateRecord r;
    r.id = 99;
    r.friendlyName = "kept";
    EXPECT_FALSE(DecodeCertificateRecord(Parse(R"({"ID":1})"), r));
    EXPECT_FALSE(DecodeCertificateRecord(Parse(R"({"CertificateBase64":"YWJj"})"), r));
    EXPECT_FALSE(DecodeCertificateRecord(Parse(R"({"CertificateBase64":"YWJj","ID":"1"})"), r));
    EXPECT_FALSE(DecodeCertificateRecord(Parse(R"({"CertificateBase64":5,"ID":1})"), r));
    EXPECT_FALSE(DecodeCertificateRecord(Parse(R"({"CertificateBase64":"YWJj","ID":1.5})"), r));
    EXPECT_FALSE(DecodeCertificateRecord(Parse(R"([1])"), r));
    EXPECT_EQ(99u, r.id);
    EXPECT_EQ("kept", r.friendlyName);
}

TEST(CertificateRecordTest, BadBase64AndNegativeIdsThrow) {
    CertificateRecord r;
    auto e =
        Thrown([&] { DecodeCertificateRecord(Parse(R"({"CertificateBase64":"","ID":1})"), r); });
    EXPECT_EQ("Cannot decode empty Base64 value", e.first);
    e = Thrown([&] { DecodeCertificateRecord(Parse(R"({"CertificateBase64":"a b","ID":1})"), r); });
    EXPECT_EQ("Cannot decode Base64 value", e.first);
    EXPECT_THROW(DecodeCertificateRecord(Parse(R"({"CertificateBase64":"YWJj","ID":-1})"), r),
                 Json::LogicError);
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
}

TEST(CertificateListTest, NotJsonAndNotArray) {
    auto e = Thrown([] { DecodeCertificateList("{"); });
    EXPECT_EQ("Cannot decode server response. The certificate list is not a JSON.", e.first);
    EXPECT_EQ(codes::kFail, e.second);
    e = Thrown([] { DecodeCertificateList(R"({"ID":1})"); });
    EXPECT_EQ("Cannot decode server response. The certificate list is not array.", e.first);
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
}

TEST(ServerPolicyTest, ObjectFormOfProviderList) {
    ServerPolicy p;
    DecodeServerPolicy(p, R"({"CSPsPolicy":{"a":{"ProviderType":80,"SupportedParamSets":["p"]}}})");
    EXPECT_EQ((std::set<std::string>{"p"}), p.paramSets[80]);
}

TEST(ServerPolicyTest, ActionPolicyStopsAtTheFirstBadElement) {
    ServerPolicy p;
    DecodeServerPolicy(p, R"({"ActionPolicy":[
        {"Action":"SignDocument","MfaRequired":true},
        {"Action":"PrivateKeyAccess"},
        {"Action":"CreateRequest","MfaRequired":true}]})");
    EXPECT_EQ(1u, p.mfaByAction.size());
    EXPECT_TRUE(p.mfaByAction["SignDocument"]);

    ServerPolicy q;
    DecodeServerPolicy(q, R"({"ActionPolicy":[
        {"Action":"SignDocument","MfaRequired":true},
        {"Action":"SignDocument","MfaRequired":false},
        {"Action":"Other","MfaRequired":"true"},
        {"Action":"Late","MfaRequired":true}]})");
    EXPECT_EQ(1u, q.mfaByAction.size());
    EXPECT_FALSE(q.mfaByAction["SignDocument"]);
}

TEST(ServerPolicyTest, EmptyPolicyIsLoadedAndBadBodyThrows) {
    ServerPolicy p;
    DecodeServerPolicy(p, R"({"ActionPolicy":{"Action":"x","MfaRequired":true}})");
    EXPECT_TRUE(p.loaded);
    EXPECT_TRUE(p.mfaByAction.empty());
    ServerPolicy q;
    auto e = Thrown([&] { DecodeServerPolicy(q, "nope"); });
    EXPECT_EQ("Cannot decode server response. The server policy is not a JSON.", e.first);
    EXPECT_FALSE(q.loaded);
}

TEST(RequestBodyTest, NameValueAndOperationRequest) {
    Json::Value params(Json::arrayValue);
    params.append(MakeNameValue("CertificateID", "12"));
    std::string text = MakeOperationRequest("SignDocument", params, nullptr);
    EXPECT_EQ(
        "{\"OperationCode\":\"SignDocument\",\"Parameters\":[{\"Name\":\"CertificateID\","
        "\"Value\":\"12\"}]}\n",
        text);

    std::vector<unsigned char> empty;
    EXPECT_EQ(text, MakeOperationRequest("SignDocument", params, &empty));

    std::vector<unsigned char> doc = {'a', 'b', 'c'};
    Json::Value parsed = Parse(MakeOperationRequest("SignDocument", params, &doc));
    EXPECT_EQ("YWJj", parsed["Document"].asString());
}

// The in-place decoder must agree with DecodeBase64 on every input, including
// texts longer than its slice and "=" or bad characters past a slice border.
TEST(Base64ValueTest, AgreesWithDecodeBase64) {
    std::string big;
    for (int i = 0; i < 300000; ++i) big += static_cast<char>('A' + i % 26);
    std::vector<std::string> inputs = {
        "YWJj",
        "YWI",
        "YW=garbage",
        "Y",
        "=abc",
        "YW Jj",
        big,
        big + "YQ",
        big + "Y",
        big.substr(0, 65536) + "=@@@",
        big.substr(0, 65536) + "@" + big,
        big + "\n",
    };
    for (const std::string& in : inputs) {
        std::vector<unsigned char> expected;
        std::string expectedError;
        try {
            expected = DecodeBase64(in);
        } catch (const KelException& e) {
            expectedError = e.what();
        }
        std::string error;
        std::vector<unsigned char> got;
        try {
            got = DecodeBase64Value(Json::Value(in));
        } catch (const KelException& e) {
            error = e.what();
        }
        EXPECT_EQ(expectedError, error) << in.size();
        EXPECT_EQ(expected, got) << in.size();
    }
    EXPECT_THROW(DecodeBase64Value(Json::Value(5)), KelException);
    EXPECT_THROW(DecodeBase64Value(Json::Value("")), KelException);
}
