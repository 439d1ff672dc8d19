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

// Identifiers of challenges come as numbers here and are answered as strings (the local
// service sends strings: KeyOperationsServiceTest).
const char kTextChallenge[] =
    R"({"IsError":false,"IsFinal":false,"Challenge":{"TextChallenge":[)"
    R"({"RefID":42,"AuthnMethod":"http://x/authenticationmethod/mobile"}]}})";
const char kFinal[] = R"({"IsError":false,"IsFinal":true,"AccessToken":"acc-2","ExpiresIn":300,)"
                      R"("ConfToken":"conf-2","ConfTokenExpiresIn":3600})";
const char kFinalWithoutConfToken[] =
    R"({"IsError":false,"IsFinal":true,"AccessToken":"acc-3","ExpiresIn":300})";
const char kRefused[] = R"({"IsError":true,"IsFinal":false,"Error":"invalid_conf_token"})";

// The members of every request body to the auth server (the writer puts
// members in alphabetical order), and how a challenge answer ends.
const std::string kClientId = R"("ClientId":"veltra.cloud.csp",)";
const std::string kResourceMember = std::string(R"("Resource":")") + kResource + "\"";
const std::string kClose = kClientId + kResourceMember + "}\n";

// A silent connector with an access token over the scripted client.
struct SilentRig : Rig {
    explicit SilentRig(bool withDocstore = false) : Rig(withDocstore) {
        connector->SetSilent(true);
        connector->SetAccessToken("acc");
    }
};

}  // namespace

TEST(Confirmation, TextChallengeIsAnsweredAndPolledUntilFinal) {
    SilentRig rig;
    auto saver = boost::make_shared<MemorySaver>();
    rig.connector->SetAuthTokenSaver(saver);
    rig.service->Add(Answer::Ok(kTextChallenge));
    rig.service->Add(Answer::Ok(kTextChallenge));
    rig.service->Add(Answer::Ok(kFinal));

    rig.connector->ConfirmOperation("T-7");

    ASSERT_EQ(rig.service->sent.size(), 3u);
    const std::string answer =
        R"({"ChallengeResponse":{"TextChallengeResponse":[{"RefId":"42"}]},)" + kClose;
    const std::string bodies[] = {
        "{" + kClientId + kResourceMember + R"(,"TransactionTokenId":"T-7"})" + "\n", answer,
        answer};
    for (size_t i = 0; i < 3; ++i)
        ExpectSent(rig.service->sent[i], std::string(kAuthBase) + "/confirmation",
                   JsonLines("Authorization: Bearer acc", bodies[i]), bodies[i]);
    EXPECT_EQ(rig.pauses, (std::vector<unsigned>{2000, 2000}));
    EXPECT_EQ(rig.peer.AccessToken().value, "acc-2");
    EXPECT_EQ(rig.peer.ConfToken().value, "conf-2");
    EXPECT_TRUE(rig.peer.PendingConfirmationRequest().empty());
    // The confirmation token is saved; the new access token is not.
    EXPECT_EQ(saver->log, (std::vector<std::string>{"conf=conf-2"}));
}

TEST(Confirmation, ChoiceChallengeSelectsTheFirstSilentMethod) {
    Rig rig(true);
    rig.connector->SetSilent(true);
    rig.connector->SetCredentials("u", "p");
    rig.service->Add(Answer::Ok(
        R"({"IsError":false,"IsFinal":false,"Challenge":{"ChoiceChallenge":[{"RefID":7,)"
        R"("Choice":[{"RefID":"urn:authenticationmethod/password"},)"
        R"({"RefID":"urn:authenticationmethod/mykel"},{"RefID":"urn:authenticationmethod/simauth"}]}]}})"));
    rig.service->Add(Answer::Ok(kFinalWithoutConfToken));

    rig.connector->ConfirmOperation("op-1");
    ASSERT_EQ(rig.service->sent.size(), 2u);
    EXPECT_TRUE(rig.pauses.empty());
    const std::string start =
        "{" + kClientId + R"("OperationId":"op-1",)" + kResourceMember + "}\n";
    ExpectSent(rig.service->sent[0], std::string(kAuthBase) + "/v2.0/confirmation",
               JsonLines("Authorization: Basic dTpw", start), start);
    EXPECT_EQ(rig.service->sent[1].body,
              R"({"ChallengeResponse":{"ChoiceChallengeResponse":[{"ChoiceSelected":)"
              R"([{"RefId":"urn:authenticationmethod/mykel"}],"RefID":"7"}]},)" +
                  kClose);
    EXPECT_EQ(rig.peer.AccessToken().value, "acc-3");
}

TEST(Confirmation, FinalWithoutConfTokenErasesTheOldOneAndSavesNothing) {
    Rig rig;
    auto saver = boost::make_shared<MemorySaver>();
    saver->conf = "old-conf";
    rig.connector->SetAuthTokenSaver(saver);
    rig.connector->SetAccessToken("acc");
    rig.service->Add(Answer::Ok(kFinalWithoutConfToken));
    rig.connector->ConfirmOperation("");
    EXPECT_EQ(rig.service->sent[0].body,
              "{" + kClientId + R"("ConfToken":"old-conf",)" + kResourceMember + "}\n");
    EXPECT_TRUE(rig.peer.ConfToken().value.empty());
    EXPECT_TRUE(saver->log.empty());
}

TEST(Confirmation, UnusableAnswersFailWithTheirMessages) {
    const auto challenge = [](const char* c) {
        return R"({"IsError":false,"IsFinal":false,"Challenge":)" + std::string(c) + "}";
    };
    const std::string final = R"({"IsError":false,"IsFinal":true,"AccessToken":"a")";
    const struct {
        std::string answer;
        const char* message;
        uint32_t code = codes::kFail;
    } cases[] = {
        {"", "The empty response for the operation confirmation."},
        {"not json", "The operation confirmation response is not a JSON."},
        {R"({"IsFinal":true})", "The operation confirmation response is a wrong JSON."},
        {R"({"IsError":false,"IsFinal":false})", "Wrong response: no Challenge field"},
        {challenge(R"({"TextChallenge":{}})"), "Wrong response: Challenge is not array"},
        {challenge(R"({"TextChallenge":[{"RefID":"1"}]})"),
         "Wrong response: No RefID or AuthnMethod"},
        {challenge(
             R"({"TextChallenge":[{"RefID":{},"AuthnMethod":"authenticationmethod/mobile"}]})"),
         "Wrong response: No RefID or AuthnMethod"},
        {challenge(R"({"ChoiceChallenge":[{"RefID":"1"}]})"),
         "Wrong response: no choices or RefId exist"},
        {challenge(R"({"ChoiceChallenge":[{"RefID":null,)"
                   R"("Choice":[{"RefID":"authenticationmethod/mobile"}]}]})"),
         "Wrong response: no choices or RefId exist"},
        {challenge(R"({"ChoiceChallenge":[{"RefID":"1","Choice":[{"Id":2}]}]})"),
         "Wrong response: No RefID"},
        {challenge(R"({"Other":1})"),
         "Wrong server responce: neither TextChallenge no ChoiceChallenge"},
        {challenge(
             R"({"TextChallenge":[{"RefID":"1","AuthnMethod":"urn:authenticationmethod/otp"}]})"),
         "Cannot find suitable type for silent confirmation", codes::kSilentContext},
        {challenge(R"({"ChoiceChallenge":[{"RefID":"1",)"
                   R"("Choice":[{"RefID":"urn:authenticationmethod/otp"}]}]})"),
         "Cannot find suitable type for silent confirmation", codes::kSilentContext},
        {final + "}", "The operation confirmation response is a wrong JSON."},
        {final + R"(,"ExpiresIn":"soon"})", "Cannot decode auth token expire time."},
        {final + R"(,"ExpiresIn":5,"ConfToken":"c","ConfTokenExpiresIn":-1})",
         "Cannot decode conf token expire time."},
        {R"({"IsError":true,"IsFinal":true})",
         "Unknown error was occured during the operation confirmation"},
        {R"({"IsError":true,"IsFinal":true,"Error":"authentication_declined",)"
         R"("ErrorDescription":"declined on phone"})",
         "authentication_declined; ErrorDescription: declined on phone", codes::kCancelled},
    };
    for (const auto& c : cases) {
        SilentRig rig;
        rig.service->Add(Answer::Ok(c.answer));
        const KelException e = CaughtKelException([&] { rig.connector->ConfirmOperation("T"); });
        EXPECT_EQ(e.code(), c.code) << c.answer;
        EXPECT_TRUE(Contains(e.what(), c.message)) << c.answer << " -> " << e.what();
    }
}

// A refused confirmation token is dropped: the confirmation restarts interactively, then
// (silent) without a token.
TEST(Confirmation, RefusedTokenIsDroppedAndTheConfirmationRestarts) {
    nimbex_test::TempEnv env;
    RegPutString(std::string(kModuleOptionsSection) + "AuthApp", "app");
    Rig rig;
    rig.connector->SetAccessToken("acc");
    auto saver = boost::make_shared<MemorySaver>();
    saver->conf = "stale";
    rig.connector->SetAuthTokenSaver(saver);
    rig.service->Add(Answer::Ok(kRefused));
    const std::string id = IdTokenExpiringIn(3600);
    rig.browser.answers.push_back("access_token=ia&expires_in=60&id_token=" + id +
                                  "&conf_token=ic&conf_token_expires_in=60");
    rig.connector->ConfirmOperation("T-2");
    EXPECT_EQ(rig.service->sent.size(), 1u);
    ASSERT_EQ(rig.browser.commands.size(), 1u);
    EXPECT_TRUE(Contains(rig.browser.commands[0], "&kel_transaction_token_id=T-2&"));
    EXPECT_EQ(saver->log, (std::vector<std::string>{"id=" + id, "conf=ic"}));

    rig.connector->SetSilent(true);
    rig.service->Add(Answer::Ok(kRefused));
    rig.service->Add(Answer::Ok(kFinal));
    rig.connector->ConfirmOperation("T-1");
    ASSERT_EQ(rig.service->sent.size(), 3u);
    EXPECT_EQ(Parse(rig.service->sent[1].body)["ConfToken"].asString(), "ic");
    const Json::Value second = Parse(rig.service->sent[2].body);
    EXPECT_FALSE(second.isMember("ConfToken"));
    EXPECT_EQ(second["TransactionTokenId"].asString(), "T-1");
    EXPECT_EQ(rig.peer.ConfToken().value, "conf-2");
    EXPECT_EQ(saver->conf, "conf-2");
}

TEST(Confirmation, RestartsAndPollsAreBounded) {
    {
        SilentRig rig;
        for (unsigned i = 0; i < 10; ++i) rig.service->Add(Answer::Ok(kRefused));
        const KelException e = CaughtKelException([&] { rig.connector->ConfirmOperation("T"); });
        EXPECT_EQ(e.code(), codes::kSilentContext);
        EXPECT_TRUE(Contains(e.what(), "keeps refusing"));
        EXPECT_EQ(rig.service->sent.size(), kMaxConfirmationRestarts + 1);
    }
    {
        SilentRig rig;
        for (unsigned i = 0; i < kMaxConfirmationPolls + 5; ++i)
            rig.service->Add(Answer::Ok(kTextChallenge));
        const KelException e = CaughtKelException([&] { rig.connector->ConfirmOperation("T"); });
        EXPECT_EQ(e.code(), codes::kFail);
        EXPECT_TRUE(Contains(e.what(), "not final"));
        EXPECT_EQ(rig.service->sent.size(), kMaxConfirmationPolls);
        EXPECT_EQ(rig.pauses.size(), kMaxConfirmationPolls);
        EXPECT_TRUE(rig.peer.PendingConfirmationRequest().empty());
    }
}

TEST(Transactions, SigningTransactionWithAHash) {
    SilentRig rig;
    rig.connector->SetMessageSignatureCreator(boost::make_shared<CountingSigner>());
    rig.service->Add(Answer::Ok("\"tx-42\""));
    rig.service->Add(Answer::Ok(kFinalWithoutConfToken));
    const unsigned char hash[4] = {1, 2, 3, 4};
    rig.connector->ConfirmTransaction("SignDocument", 17, hash, 4, 0, false, nullptr, 0);

    ASSERT_EQ(rig.service->sent.size(), 2u);
    const std::string url = std::string(kSignBase) + "/rest/api/transactions";
    const std::string body =
        R"({"Document":"AQIDBA==","OperationCode":"SignDocument","Parameters":[)"
        R"({"Name":"CertificateID","Value":"17"},{"Name":"SignatureType","Value":"GOST3410"},)"
        R"({"Name":"DocumentInfo","Value":")"  // the writer escapes non-ASCII text
        R"(\u041d\u0435\u043e\u0431\u0445\u043e\u0434\u0438\u043c\u043e \u043f\u043e\u0434\u0442\u0432\u0435\u0440\u0436\u0434\u0435\u043d\u0438\u0435 \u043e\u043f\u0435\u0440\u0430\u0446\u0438\u0438"},)"
        R"({"Name":"Hash","Value":"true"}]})"
        "\n";
    std::vector<std::string> headers = JsonLines("Authorization: Bearer acc", body);
    headers.push_back(
        "VL-Signature: n=1 url=" + url +
        " lines=3|Authorization|Content-Type|Content-Length body=" + std::to_string(body.size()));
    ExpectSent(rig.service->sent[0], url, headers, body);
    EXPECT_EQ(Parse(rig.service->sent[1].body)["TransactionTokenId"].asString(), "tx-42");
}

// Key agreement's: checked by the local service (ReaderSigningTest, confirmed version 1).
TEST(Transactions, OtherMembersAndTheirParameters) {
    SilentRig rig;
    for (int i = 0; i < 3; ++i) {
        rig.service->Add(Answer::Ok("\"tx\""));
        rig.service->Add(Answer::Ok(kFinalWithoutConfToken));
    }
    const unsigned char doc[2] = {9, 9};
    const unsigned char display[1] = {0x41};
    rig.connector->ConfirmTransaction("SignDocument", 3, doc, 2, 32798, true, display, 1);
    rig.connector->ConfirmTransaction("DeleteCertificate", 0);
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
    EXPECT_EQ(names(4),
              (std::vector<std::string>{"AlgId=26142", "ParamSetOid=1.2.3", "KeyLength=512"}));
}

TEST(Transactions, RefusalsBeforeAndAfterTheRequest) {
    SilentRig rig;
    const unsigned char byte = 0;
    KelException e = CaughtKelException([&] {
        rig.connector->ConfirmTransaction("SignDocument", 1, &byte, 1, 0, false, &byte, 104857601u);
    });
    EXPECT_EQ(e.code(), codes::kNoMemory);
    EXPECT_TRUE(Contains(e.what(), "Use API V2 to sign large documents with confirmation"));
    EXPECT_TRUE(rig.service->sent.empty());

    rig.service->Add(Answer::Ok("{\"Id\":1}"));
    e = CaughtKelException([&] { rig.connector->CreateTransaction("{}"); });
    EXPECT_TRUE(Contains(e.what(), "The transaction identificator is not a JSON."));
}

TEST(ConfirmOperationV2, DeletionIsSentWithItsMethodAndWithoutSignature) {
    SilentRig rig(true);
    rig.connector->SetMessageSignatureCreator(boost::make_shared<CountingSigner>());
    const std::string url = std::string(kSignBase) + "/rest/api/v2/certificates/4";
    rig.service->Add(Answer::Ok(R"({"Operation":{"Id":"op-4","Status":"Pending"}})"));
    rig.service->Add(Answer::Ok(kFinalWithoutConfToken));
    rig.connector->ConfirmOperationV2("DeleteCertificate", url, "", "DELETE");
    ASSERT_EQ(rig.service->sent.size(), 2u);
    ExpectSent(rig.service->sent[0], url, {"Authorization: Bearer acc"}, "");
    EXPECT_EQ(rig.service->sent[0].method, "DELETE");
    EXPECT_EQ(Parse(rig.service->sent[1].body)["OperationId"].asString(), "op-4");
}

TEST(ConfirmOperationV2, SigningIsSignedAndErrorsAreReported) {
    SilentRig rig(true);
    rig.connector->SetMessageSignatureCreator(boost::make_shared<CountingSigner>());
    const std::string url = std::string(kSignBase) + "/rest/api/v2/signature";
    const struct {
        const char *operation, *answer;
        uint32_t code;
        const char* message;
    } cases[] = {
        {"SignDocument", R"({"Operation":{"Status":"Error","Error":"invalid_pin"}})",
         codes::kWrongPin, "invalid_pin"},
        {"SignDocument", "[]", codes::kFail, "The SignDocumentV2 response is a wrong JSON."},
        {"ChangePin", "<", codes::kFail, "The ChangePinV2 response is not a JSON."},
    };
    for (const auto& c : cases) {
        rig.service->Add(Answer::Ok(c.answer));
        const KelException e = CaughtKelException(
            [&] { rig.connector->ConfirmOperationV2(c.operation, url, "{}", nullptr); });
        EXPECT_EQ(e.code(), c.code);
        EXPECT_TRUE(Contains(e.what(), c.message)) << e.what();
    }
    EXPECT_TRUE(Contains(rig.service->sent[0].headers.back(), "VL-Signature: n=1"));
    EXPECT_EQ(rig.service->sent[2].headers.back(), "Content-Length: 2");  // not signed
}
