#include <gtest/gtest.h>
#include <json/json.h>

#include "AuthTestSupport.h"
#include "KelAssertions.h"
#include "TempEnv.h"
#include "base/ErrorCodes.h"
#include "config/ModuleOptions.h"
#include "config/RegistryAccess.h"

using namespace auth_test;

namespace {

using nimbex_test::CaughtKelException;
using nimbex_test::Contains;

Json::Value Parse(const std::string& text) {
    Json::Value v;
    Json::Reader().parse(text, v);
    return v;
}

const char kTextChallenge[] =
    R"({"IsError":false,"IsFinal":false,"Challenge":{"TextChallenge":[)"
    R"({"RefID":"txt-1","AuthnMethod":"http://x/authenticationmethod/mobile"}]}})";
const char kFinal[] = R"({"IsError":false,"IsFinal":true,"AccessToken":"acc-2","ExpiresIn":300,)"
                      R"("ConfToken":"conf-2","ConfTokenExpiresIn":3600})";
const char kFinalWithoutConfToken[] =
    R"({"IsError":false,"IsFinal":true,"AccessToken":"acc-3","ExpiresIn":300})";
const char kRefused[] = R"({"IsError":true,"IsFinal":false,"Error":"invalid_conf_token"})";

std::string ConfirmationUrl(bool v2) {
    return std::string(kAuthBase) + (v2 ? "/v2.0/confirmation" : "/confirmation");
}

}  // namespace

TEST(Confirmation, SilentWithoutCredentialsSendsNothing) {
    Rig rig;
    rig.connector->SetSilent(true);
    const KelException e = CaughtKelException([&] { rig.connector->ConfirmOperation("T"); });
    EXPECT_EQ(e.code(), codes::kSilentContext);
    EXPECT_TRUE(Contains(e.what(), "Cannot get user credentials in silent mode"));
    EXPECT_TRUE(rig.service->sent.empty());
}

TEST(Confirmation, TextChallengeIsAnsweredAndPolledUntilFinal) {
    Rig rig;
    auto saver = boost::make_shared<MemorySaver>();
    rig.connector->SetAuthTokenSaver(saver);
    rig.connector->SetSilent(true);
    rig.connector->SetAccessToken("acc-1");
    rig.service->Add(Answer::Ok(kTextChallenge));
    rig.service->Add(Answer::Ok(kTextChallenge));
    rig.service->Add(Answer::Ok(kFinal));

    rig.connector->ConfirmOperation("T-7");

    ASSERT_EQ(rig.service->sent.size(), 3u);
    const std::string first = std::string(R"({"ClientId":"veltra.cloud.csp","Resource":")") +
                              kResource + R"(","TransactionTokenId":"T-7"})" + "\n";
    const std::string answer =
        std::string(R"({"ChallengeResponse":{"TextChallengeResponse":[{"RefId":"txt-1"}]},)") +
        R"("ClientId":"veltra.cloud.csp","Resource":")" + kResource + "\"}\n";
    EXPECT_EQ(rig.service->sent[0].body, first);
    EXPECT_EQ(rig.service->sent[1].body, answer);
    EXPECT_EQ(rig.service->sent[2].body, answer);
    for (const SentRequest& r : rig.service->sent) {
        EXPECT_EQ(r.url, ConfirmationUrl(false));
        ASSERT_EQ(r.headers.size(), 3u);
        EXPECT_EQ(r.headers[0], "Authorization: Bearer acc-1");
        EXPECT_EQ(r.headers[1], "Content-Type: application/json; charset=utf-8");
        EXPECT_EQ(r.headers[2], "Content-Length: " + std::to_string(r.body.size()));
    }
    EXPECT_EQ(rig.pauses, (std::vector<unsigned>{2000, 2000}));
    EXPECT_EQ(rig.connector->AccessToken().value, "acc-2");
    EXPECT_EQ(rig.connector->ConfToken().value, "conf-2");
    EXPECT_TRUE(rig.connector->PendingConfirmationRequest().empty());
    // The confirmation token is saved; the new access token is not.
    EXPECT_EQ(saver->log, (std::vector<std::string>{"conf=conf-2"}));
}

TEST(Confirmation, ChoiceChallengeSelectsTheFirstSilentMethod) {
    Rig rig(true);
    rig.connector->SetSilent(true);
    rig.connector->SetCredentials("u", "p");
    rig.service->Add(Answer::Ok(
        R"({"IsError":false,"IsFinal":false,"Challenge":{"ChoiceChallenge":[{"RefID":"ch-1",)"
        R"("Choice":[{"RefID":"urn:authenticationmethod/password"},)"
        R"({"RefID":"urn:authenticationmethod/simauth"},{"RefID":"urn:authenticationmethod/mykel"}]}]}})"));
    rig.service->Add(Answer::Ok(kFinalWithoutConfToken));

    rig.connector->ConfirmOperation("op-1");
    ASSERT_EQ(rig.service->sent.size(), 2u);
    EXPECT_TRUE(rig.pauses.empty());
    EXPECT_EQ(rig.service->sent[0].url, ConfirmationUrl(true));
    EXPECT_EQ(rig.service->sent[0].headers[0], "Authorization: Basic dTpw");
    const Json::Value first = Parse(rig.service->sent[0].body);
    EXPECT_EQ(first["OperationId"].asString(), "op-1");
    EXPECT_FALSE(first.isMember("TransactionTokenId"));
    const Json::Value reply = Parse(rig.service->sent[1].body);
    const Json::Value& item = reply["ChallengeResponse"]["ChoiceChallengeResponse"][0];
    EXPECT_EQ(item["RefID"].asString(), "ch-1");
    ASSERT_EQ(item["ChoiceSelected"].size(), 1u);
    EXPECT_EQ(item["ChoiceSelected"][0]["RefId"].asString(), "urn:authenticationmethod/simauth");
    EXPECT_EQ(reply["Resource"].asString(), kResource);
    EXPECT_EQ(reply["ClientId"].asString(), "veltra.cloud.csp");
    EXPECT_FALSE(reply.isMember("ConfToken"));
    EXPECT_EQ(rig.connector->AccessToken().value, "acc-3");
}

TEST(Confirmation, FinalWithoutConfTokenErasesTheOldOneAndSavesNothing) {
    Rig rig;
    auto saver = boost::make_shared<MemorySaver>();
    saver->conf = "old-conf";
    rig.connector->SetAuthTokenSaver(saver);
    rig.connector->SetAccessToken("acc");
    rig.service->Add(Answer::Ok(kFinalWithoutConfToken));
    rig.connector->ConfirmOperation("");
    EXPECT_EQ(Parse(rig.service->sent[0].body)["ConfToken"].asString(), "old-conf");
    EXPECT_FALSE(Parse(rig.service->sent[0].body).isMember("TransactionTokenId"));
    EXPECT_TRUE(rig.connector->ConfToken().value.empty());
    EXPECT_TRUE(saver->log.empty());
}

TEST(Confirmation, ChallengesNeedingTheUserAreRefused) {
    const std::vector<std::string> answers = {
        R"({"IsError":false,"IsFinal":false,"Challenge":{"TextChallenge":[{"RefID":"1","AuthnMethod":"urn:authenticationmethod/otp"}]}})",
        R"({"IsError":false,"IsFinal":false,"Challenge":{"ChoiceChallenge":[{"RefID":"1","Choice":[{"RefID":"urn:authenticationmethod/otp"}]}]}})",
    };
    for (const std::string& a : answers) {
        Rig rig;
        rig.connector->SetSilent(true);
        rig.connector->SetAccessToken("acc");
        rig.service->Add(Answer::Ok(a));
        const KelException e = CaughtKelException([&] { rig.connector->ConfirmOperation("T"); });
        EXPECT_EQ(e.code(), codes::kSilentContext) << a;
        EXPECT_TRUE(Contains(e.what(), "Cannot find suitable type for silent confirmation"));
    }
}

TEST(Confirmation, MalformedAnswersFailWithTheirMessages) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "The empty response for the operation confirmation."},
        {"not json", "The operation confirmation response is not a JSON."},
        {R"({"IsFinal":true})", "The operation confirmation response is a wrong JSON."},
        {R"({"IsError":false,"IsFinal":false})", "Wrong response: no Challenge field"},
        {R"({"IsError":false,"IsFinal":false,"Challenge":{"TextChallenge":{}}})",
         "Wrong response: Challenge is not array"},
        {R"({"IsError":false,"IsFinal":false,"Challenge":{"TextChallenge":[{"RefID":"1"}]}})",
         "Wrong response: No RefID or AuthnMethod"},
        {R"({"IsError":false,"IsFinal":false,"Challenge":{"ChoiceChallenge":[{"RefID":"1"}]}})",
         "Wrong response: no choices or RefId exist"},
        {R"({"IsError":false,"IsFinal":false,"Challenge":{"ChoiceChallenge":[{"RefID":"1","Choice":[{"Id":2}]}]}})",
         "Wrong response: No RefID"},
        {R"({"IsError":false,"IsFinal":false,"Challenge":{"Other":1}})",
         "Wrong server responce: neither TextChallenge no ChoiceChallenge"},
        {R"({"IsError":false,"IsFinal":true,"AccessToken":"a"})",
         "The operation confirmation response is a wrong JSON."},
        {R"({"IsError":false,"IsFinal":true,"AccessToken":"a","ExpiresIn":"soon"})",
         "Cannot decode auth token expire time."},
        {R"({"IsError":false,"IsFinal":true,"AccessToken":"a","ExpiresIn":5,"ConfToken":"c","ConfTokenExpiresIn":-1})",
         "Cannot decode conf token expire time."},
        {R"({"IsError":true,"IsFinal":true})",
         "Unknown error was occured during the operation confirmation"},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.connector->SetSilent(true);
        rig.connector->SetAccessToken("acc");
        rig.service->Add(Answer::Ok(c.first));
        const KelException e = CaughtKelException([&] { rig.connector->ConfirmOperation("T"); });
        EXPECT_EQ(e.code(), codes::kFail) << c.first;
        EXPECT_TRUE(Contains(e.what(), c.second)) << c.first << " -> " << e.what();
    }
}

TEST(Confirmation, ServiceErrorKeepsItsCode) {
    Rig rig;
    rig.connector->SetSilent(true);
    rig.connector->SetAccessToken("acc");
    rig.service->Add(
        Answer::Ok(R"({"IsError":true,"IsFinal":true,"Error":"authentication_declined",)"
                   R"("ErrorDescription":"declined on phone"})"));
    const KelException e = CaughtKelException([&] { rig.connector->ConfirmOperation("T"); });
    EXPECT_EQ(e.code(), codes::kCancelled);
    EXPECT_TRUE(Contains(e.what(), "authentication_declined; ErrorDescription: declined on phone"));
}

TEST(Confirmation, RefusedTokenIsDroppedAndTheConfirmationRestarts) {
    Rig rig;
    rig.connector->SetSilent(true);
    rig.connector->SetAccessToken("acc");
    auto saver = boost::make_shared<MemorySaver>();
    saver->conf = "stale";
    rig.connector->SetAuthTokenSaver(saver);
    rig.service->Add(Answer::Ok(kRefused));
    rig.service->Add(Answer::Ok(kFinal));
    rig.connector->ConfirmOperation("T-1");
    ASSERT_EQ(rig.service->sent.size(), 2u);
    EXPECT_EQ(Parse(rig.service->sent[0].body)["ConfToken"].asString(), "stale");
    const Json::Value second = Parse(rig.service->sent[1].body);
    EXPECT_FALSE(second.isMember("ConfToken"));
    EXPECT_EQ(second["TransactionTokenId"].asString(), "T-1");
    EXPECT_EQ(rig.connector->ConfToken().value, "conf-2");
    EXPECT_EQ(saver->conf, "conf-2");
}

TEST(Confirmation, RefusedTokenRestartsInteractivelyWhenNotSilent) {
    nimbex_test::TempEnv env;
    RegPutString(std::string(kModuleOptionsSection) + "AuthApp", "app");
    Rig rig;
    rig.connector->SetAccessToken("acc");
    auto saver = boost::make_shared<MemorySaver>();
    saver->conf = "stale";
    rig.connector->SetAuthTokenSaver(saver);
    rig.service->Add(Answer::Ok(kRefused));
    const std::string id = MakeIdToken(InOneHour());
    rig.browser.answers.push_back("access_token=ia&expires_in=60&id_token=" + id +
                                  "&conf_token=ic&conf_token_expires_in=60");
    rig.connector->ConfirmOperation("T-2");
    EXPECT_EQ(rig.service->sent.size(), 1u);
    ASSERT_EQ(rig.browser.commands.size(), 1u);
    EXPECT_TRUE(Contains(rig.browser.commands[0], "&kel_transaction_token_id=T-2&"));
    EXPECT_EQ(saver->log, (std::vector<std::string>{"id=" + id, "conf=ic"}));
}

TEST(Confirmation, RestartsAndPollsAreBounded) {
    {
        Rig rig;
        rig.connector->SetSilent(true);
        rig.connector->SetAccessToken("acc");
        for (unsigned i = 0; i < 10; ++i) rig.service->Add(Answer::Ok(kRefused));
        const KelException e = CaughtKelException([&] { rig.connector->ConfirmOperation("T"); });
        EXPECT_EQ(e.code(), codes::kSilentContext);
        EXPECT_TRUE(Contains(e.what(), "keeps refusing"));
        EXPECT_EQ(rig.service->sent.size(), kMaxConfirmationRestarts + 1);
    }
    {
        Rig rig;
        rig.connector->SetSilent(true);
        rig.connector->SetAccessToken("acc");
        for (unsigned i = 0; i < kMaxConfirmationPolls + 5; ++i)
            rig.service->Add(Answer::Ok(kTextChallenge));
        const KelException e = CaughtKelException([&] { rig.connector->ConfirmOperation("T"); });
        EXPECT_EQ(e.code(), codes::kFail);
        EXPECT_TRUE(Contains(e.what(), "not final"));
        EXPECT_EQ(rig.service->sent.size(), kMaxConfirmationPolls);
        EXPECT_EQ(rig.pauses.size(), kMaxConfirmationPolls);
        EXPECT_TRUE(rig.connector->PendingConfirmationRequest().empty());
    }
}

TEST(Transactions, SigningTransactionWithAHash) {
    Rig rig;
    auto signer = boost::make_shared<CountingSigner>();
    rig.connector->SetMessageSignatureCreator(signer);
    rig.connector->SetSilent(true);
    rig.connector->SetAccessToken("acc");
    rig.service->Add(Answer::Ok("\"tx-42\""));
    rig.service->Add(Answer::Ok(kFinalWithoutConfToken));
    const unsigned char hash[4] = {1, 2, 3, 4};
    rig.connector->ConfirmTransaction("SignDocument", 17, hash, 4, 0, false, nullptr, 0);

    ASSERT_EQ(rig.service->sent.size(), 2u);
    const SentRequest& tx = rig.service->sent[0];
    const std::string url = std::string(kSignBase) + "/rest/api/transactions";
    EXPECT_EQ(tx.url, url);
    ASSERT_EQ(tx.headers.size(), 4u);
    EXPECT_EQ(tx.headers[0], "Authorization: Bearer acc");
    EXPECT_EQ(tx.headers[3], "VL-Signature: n=1 url=" + url +
                                 " lines=3|Authorization|Content-Type|Content-Length body=" +
                                 std::to_string(tx.body.size()));
    const Json::Value body = Parse(tx.body);
    EXPECT_EQ(body["OperationCode"].asString(), "SignDocument");
    EXPECT_EQ(body["Document"].asString(), "AQIDBA==");
    const Json::Value& p = body["Parameters"];
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(p[0]["Name"].asString(), "CertificateID");
    EXPECT_EQ(p[0]["Value"].asString(), "17");
    EXPECT_EQ(p[1]["Value"].asString(), "GOST3410");
    EXPECT_EQ(p[2]["Name"].asString(), "DocumentInfo");
    EXPECT_EQ(p[3]["Name"].asString(), "Hash");
    EXPECT_EQ(p[3]["Value"].asString(), "true");
    EXPECT_EQ(Parse(rig.service->sent[1].body)["TransactionTokenId"].asString(), "tx-42");
}

TEST(Transactions, OtherMembersAndTheirParameters) {
    Rig rig;
    rig.connector->SetSilent(true);
    rig.connector->SetAccessToken("acc");
    for (int i = 0; i < 4; ++i) {
        rig.service->Add(Answer::Ok("\"tx\""));
        rig.service->Add(Answer::Ok(kFinalWithoutConfToken));
    }
    const unsigned char doc[2] = {9, 9};
    const unsigned char display[1] = {0x41};
    rig.connector->ConfirmTransaction("SignDocument", 3, doc, 2, 32798, true, display, 1);
    rig.connector->ConfirmTransaction("DeleteCertificate", 0);
    rig.connector->ConfirmTransaction("PrivateKeyAccess", 5, {1}, {2}, 0, {3});
    rig.connector->ConfirmTransaction("CreateRequest", 26142, "1.2.3", 512);

    auto names = [&](size_t i) {
        std::vector<std::string> n;
        const Json::Value body = Parse(rig.service->sent[i].body);
        for (const Json::Value& v : body["Parameters"])
            n.push_back(v["Name"].asString() + "=" + v["Value"].asString());
        return n;
    };
    EXPECT_EQ(names(0), (std::vector<std::string>{
                            "CertificateID=3", "SignatureType=GOST3410",
                            std::string("DocumentInfo=") + "Необходимо подтверждение операции",
                            "HashAlgorithm=32798", "DisplayDocument=QQ=="}));
    EXPECT_EQ(names(2), (std::vector<std::string>{"CertificateID="}));
    EXPECT_FALSE(Parse(rig.service->sent[2].body).isMember("Document"));
    EXPECT_EQ(names(4), (std::vector<std::string>{"CertificateID=5",
                                                  "PublicKeyInfo=AQ==", "UKM=Ag==", "Mask=Aw=="}));
    EXPECT_EQ(names(6),
              (std::vector<std::string>{"AlgId=26142", "ParamSetOid=1.2.3", "KeyLength=512"}));
}

TEST(Transactions, LargeDisplayDocumentIsRefusedBeforeSending) {
    Rig rig;
    rig.connector->SetAccessToken("acc");
    const unsigned char byte = 0;
    const KelException e = CaughtKelException([&] {
        rig.connector->ConfirmTransaction("SignDocument", 1, &byte, 1, 0, false, &byte, 104857601u);
    });
    EXPECT_EQ(e.code(), codes::kNoMemory);
    EXPECT_TRUE(Contains(e.what(), "Use API V2 to sign large documents with confirmation"));
    EXPECT_TRUE(rig.service->sent.empty());
}

TEST(Transactions, TransactionIdMustBeAJsonString) {
    Rig rig;
    rig.connector->SetAccessToken("acc");
    rig.service->Add(Answer::Ok("{\"Id\":1}"));
    const KelException e = CaughtKelException([&] { rig.connector->CreateTransaction("{}"); });
    EXPECT_TRUE(Contains(e.what(), "The transaction identificator is not a JSON."));
}

TEST(ConfirmOperationV2, DeletionIsSentWithItsMethodAndWithoutSignature) {
    Rig rig(true);
    rig.connector->SetMessageSignatureCreator(boost::make_shared<CountingSigner>());
    rig.connector->SetSilent(true);
    rig.connector->SetAccessToken("acc");
    const std::string url = std::string(kSignBase) + "/rest/api/v2/certificates/4";
    rig.service->Add(Answer::Ok(R"({"Operation":{"Id":"op-4","Status":"Pending"}})"));
    rig.service->Add(Answer::Ok(kFinalWithoutConfToken));
    rig.connector->ConfirmOperationV2("DeleteCertificate", url, "", "DELETE");
    ASSERT_EQ(rig.service->sent.size(), 2u);
    EXPECT_EQ(rig.service->sent[0].url, url);
    EXPECT_EQ(rig.service->sent[0].method, "DELETE");
    EXPECT_TRUE(rig.service->sent[0].body.empty());
    EXPECT_EQ(rig.service->sent[0].headers,
              (std::vector<std::string>{"Authorization: Bearer acc"}));
    EXPECT_EQ(Parse(rig.service->sent[1].body)["OperationId"].asString(), "op-4");
}

TEST(ConfirmOperationV2, SigningIsSignedAndErrorsAreReported) {
    Rig rig(true);
    rig.connector->SetMessageSignatureCreator(boost::make_shared<CountingSigner>());
    rig.connector->SetSilent(true);
    rig.connector->SetAccessToken("acc");
    const std::string url = std::string(kSignBase) + "/rest/api/v2/signature";
    rig.service->Add(Answer::Ok(R"({"Operation":{"Status":"Error","Error":"invalid_pin"}})"));
    KelException e = CaughtKelException(
        [&] { rig.connector->ConfirmOperationV2("SignDocument", url, "{}", nullptr); });
    EXPECT_EQ(e.code(), codes::kWrongPin);
    ASSERT_EQ(rig.service->sent.size(), 1u);
    EXPECT_TRUE(Contains(rig.service->sent[0].headers.back(), "VL-Signature: n=1"));

    rig.service->Add(Answer::Ok("[]"));
    e = CaughtKelException(
        [&] { rig.connector->ConfirmOperationV2("SignDocument", url, "{}", nullptr); });
    EXPECT_TRUE(Contains(e.what(), "The SignDocumentV2 response is a wrong JSON."));
    rig.service->Add(Answer::Ok("<"));
    e = CaughtKelException(
        [&] { rig.connector->ConfirmOperationV2("ChangePin", url, "{}", nullptr); });
    EXPECT_TRUE(Contains(e.what(), "The ChangePinV2 response is not a JSON."));
}
