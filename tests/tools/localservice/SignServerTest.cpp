// The sign server's refusals, the request signature and the binding of a
// confirmation to the request it confirmed. The operations themselves
// (certificates, signing, PIN, keys, agreement, documents) are checked
// through the module's service operations against this service.
#include "ServiceTestBase.h"

namespace nimbex_test {
namespace {

class SignServerTest : public ServiceTest {
  protected:
    void SetUp() override {
        ServiceTest::SetUp();
        token1_ = passwordToken(v1());
        token2_ = passwordToken(v2());
    }
    // Confirms the pending operation or transaction `ref` (confirmation set to no pending
    // polls) and returns the access token bound to it.
    std::string confirmed(const LocalServiceUrls& s, const std::string& ref) {
        const bool v2 = !s.docstore.empty();
        Json::Value b;
        b[v2 ? "OperationId" : "TransactionTokenId"] = ref;
        return confirm(s, v2 ? token2_ : token1_, b)["AccessToken"].asString();
    }
    // Creates a version 1 transaction deleting a certificate.
    std::string deletion(const std::string& id) {
        const std::string tx = R"({"OperationCode":"DeleteCertificate","Parameters":)"
                               R"([{"Name":"CertificateID","Value":")" +
                               id + "\"}]}";
        return json(post(v1().sign + "/rest/api/transactions", token1_, tx).body).asString();
    }
    std::string token1_, token2_;
};

TEST_F(SignServerTest, RefusesWhatItMustNotAccept) {
    const std::string api1 = v1().sign + "/rest/api";
    const std::string api2 = v2().sign + "/rest/api";
    const std::string confirm2 = v2().auth + "/v2.0/confirmation";
    const std::string meta = R"({"AdditionalInfo":{"SmallFile":true},"Filename":"d"})";
    const std::string choice =
        R"({"ChallengeResponse":{"ChoiceChallengeResponse":[{"RefID":"x","ChoiceSelected":[5]}]}})";
    expectRefused({
        {"no token", "GET", api1 + "/certificates", "", "", "", 401, ""},
        {"made-up token", "GET", api1 + "/certificates", "at.made-up", "", "", 401, ""},
        {"another service's token", "GET", api1 + "/certificates", token2_, "", "", 401, ""},
        {"upload with another service's token", "POST", v2().docstore + "/api/documents", token1_,
         "abc", "VLKEL-POSTDOC: " + b64(Bytes(meta.begin(), meta.end())), 401, ""},
        {"version 2 form on a version 1 service", "POST", api1 + "/v2/certificates/2/pin", token1_,
         "{}", "", 404, ""},
        // Bodies of the wrong shape.
        {"choice answer", "POST", confirm2, token2_, choice, "", 400, "\"error\""},
        {"confirmation array", "POST", confirm2, token2_, "[1,2]", "", 400, "\"error\""},
        {"key generation", "POST", api1 + "/keys/generate", token1_, R"(["AlgId"])", "", 400,
         "\"error\""},
        {"signing", "POST", api1 + "/documents", token1_, R"({"Content":"AAAA","Signature":"x"})",
         "", 400, "\"error\""},
        {"transaction", "POST", api1 + "/transactions", token1_,
         R"({"OperationCode":"ChangePin","Parameters":[{"Name":1}]})", "", 400, "\"error\""},
        {"unknown transaction code", "POST", api1 + "/transactions", token1_,
         R"({"OperationCode":"Launch","Parameters":[]})", "", 400, "invalid_request"},
        {"key agreement", "POST", api1 + "/keys/agree", token1_, R"({"PublicKeyInfo":5})", "", 400,
         "\"error\""},
        {"PIN change", "POST", api1 + "/certificates/1/pin", token1_, R"({"OldPin":null})", "", 400,
         "\"error\""},
        {"PFX import", "POST", api1 + "/certificates/pfx", token1_,
         R"({"Pfx":"%%%","Password":""})", "", 400, "\"error\""},
        {"key parameter", "POST", api1 + "/keys/1/params", token1_, R"({"Param":"","Data":""})", "",
         400, "\"error\""},
        {"not JSON", "POST", api1 + "/documents", token1_, "{\"Content\":", "", 400,
         "invalid_request"},
        // The "v2/" requests report a refusal in the operation envelope.
        {"version 2 signing", "POST", api2 + "/v2/signature", token2_,
         R"({"Signature":{"Type":1,"CertificateId":1},"BinaryData":[1]})", "", 200,
         "\"Error\":\"invalid_request\""},
    });
    // A refused request does not disturb the next one.
    EXPECT_EQ(get(api1 + "/certificates", token1_).status, 200);
}

TEST_F(SignServerTest, MessageSignatureIsCheckedWhenPresentOrRequired) {
    const std::string url = v1().sign + "/rest/api/transactions";
    const std::string body =
        R"({"OperationCode":"ChangePin","Parameters":[{"Name":"CertificateID","Value":"2"}]})";
    // Signed and unsigned requests are accepted in the connector's suites (SigningService
    // requires the signature, the others send none).
    // Well-formed, but not the signature of this request under the key "key".
    const std::string wrong = R"(VL-Signature: headers="(request-target) authorization )"
                              R"(content-type", key="a2V5", signature=")" +
                              b64(Bytes(32, 0)) + "\"";
    expectRefused({{"garbled signature", "POST", url, token1_, body, "VL-Signature: nonsense", 400,
                    "invalid_http_message_signature"},
                   {"well-formed signature that does not verify", "POST", url, token1_, body, wrong,
                    400, "invalid_http_message_signature"}});

    svc().configure(json(R"({"requireMessageSignature": true})"));
    expectRefused({{"unsigned while required", "POST", url, token1_, body, "", 400,
                    "invalid_http_message_signature"}});
}

TEST_F(SignServerTest, ConfirmationIsBoundToTheConfirmedRequest) {
    svc().configure(json(R"({"policy": {"mfa": {"DeleteCertificate": true, "ChangePin": true}},
                             "confirmation": {"polls": 0}})"));
    // Version 1: a transaction for certificate 1 does not delete certificate 2, and the
    // attempt uses it up; a fresh one deletes certificate 1.
    const std::string forOne = confirmed(v1(), deletion("1"));
    ASSERT_FALSE(forOne.empty());
    expectRefused({
        {"another certificate", "DELETE", v1().sign + "/rest/api/certificates/2", forOne, "", "",
         400, "invalid_transaction"},
        {"used up", "DELETE", v1().sign + "/rest/api/certificates/1", forOne, "", "", 400,
         "invalid_transaction"},
    });
    EXPECT_EQ(del(v1().sign + "/rest/api/certificates/1", confirmed(v1(), deletion("1"))).status,
              200);

    // Version 2: the token bound to a pending PIN change leaves a request with another
    // body pending and runs the confirmed one.
    const std::string url = v2().sign + "/rest/api/v2/certificates/2/pin";
    const std::string change = R"({"OldPin":"1234","NewPin":"5678","ConfirmedPin":"5678"})";
    const std::string other = R"({"OldPin":"1234","NewPin":"0000","ConfirmedPin":"0000"})";
    auto status = [](const HttpResult& r) {
        return json(r.body)["Operation"]["Status"].asString();
    };
    const HttpResult pending = post(url, token2_, change);
    ASSERT_EQ(status(pending), "Pending");
    const std::string bound = confirmed(v2(), json(pending.body)["Operation"]["Id"].asString());
    EXPECT_EQ(status(post(url, bound, other)), "Pending");
    EXPECT_EQ(status(post(url, bound, change)), "Completed");
}

}  // namespace
}  // namespace nimbex_test
