#include <gtest/gtest.h>

#include "AuthTestSupport.h"
#include "KelAssertions.h"
#include "base/ErrorCodes.h"

using namespace auth_test;

using nimbex_test::CaughtKelException;

TEST(Connector, HandedInTokensAreCurrentAndUsedWithoutRequest) {
    Rig rig;
    rig.connector->SetAccessToken("");
    rig.connector->SetIdToken("");
    EXPECT_FALSE(rig.peer.TokensCurrent());
    rig.connector->SetIdToken("idt");
    rig.connector->SetAccessToken("acc");
    EXPECT_TRUE(rig.peer.TokensCurrent());
    EXPECT_EQ(rig.connector->GetIdToken(), "idt");
    EXPECT_EQ(rig.connector->GetAccessToken(), "acc");
    EXPECT_TRUE(rig.service->sent.empty());
}

TEST(Connector, TokenSaverIsLoadedAndErasedByDropTokens) {
    Rig rig;
    rig.connector->SetAuthTokenSaver(boost::make_shared<MemorySaver>());
    EXPECT_FALSE(rig.peer.TokensCurrent());  // nothing stored

    auto saver = boost::make_shared<MemorySaver>();
    saver->auth = "saved-access";
    saver->id = "saved-id";
    saver->conf = "saved-conf";
    rig.connector->SetAuthTokenSaver(saver);
    EXPECT_EQ(rig.peer.AccessToken().value, "saved-access");
    EXPECT_EQ(rig.peer.IdToken().value, "saved-id");
    EXPECT_EQ(rig.peer.ConfToken().value, "saved-conf");
    EXPECT_TRUE(rig.peer.TokensCurrent());
    EXPECT_TRUE(saver->log.empty());

    rig.connector->DropTokens();
    EXPECT_TRUE(rig.peer.AccessToken().value.empty() && rig.peer.IdToken().value.empty() &&
                rig.peer.ConfToken().value.empty());
    EXPECT_FALSE(rig.peer.TokensCurrent());
    EXPECT_EQ(saver->log, (std::vector<std::string>{"auth=", "id=", "conf="}));
}

TEST(Connector, ApiVersionProbeIsAnUnauthenticatedGet) {
    const struct {
        Answer answer;
        bool v1, v2;
    } cases[] = {
        {Answer::Ok("2"), true, true},       {Answer::Ok("1\n"), true, false},
        {Answer::Ok("v3"), false, false},    {Answer::Failure(12029), false, false},
        {Answer::Status(500), false, false},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.connector->SetAccessToken("acc");  // current tokens: still no renewal
        rig.service->Add(c.answer);
        rig.service->Add(c.answer);
        EXPECT_EQ(rig.connector->HasApiVersion1(), c.v1) << c.answer.body;
        EXPECT_EQ(rig.connector->HasApiVersion2(), c.v2) << c.answer.body;
        ASSERT_EQ(rig.service->sent.size(), 2u);
        const SentRequest& r = rig.service->sent[0];
        EXPECT_EQ(r.url, std::string(kSignBase) + "/rest/api/apiversion");
        EXPECT_TRUE(r.headers.empty() && r.body.empty() && r.method.empty());
    }
}

TEST(Connector, PolicyIsFetchedOnceAndConsulted) {
    Rig rig;
    rig.connector->SetAccessToken("acc");
    rig.service->Add(Answer::Ok("<html>"));
    EXPECT_EQ(CaughtKelException([&] { rig.connector->IsMfaRequired("SignDocument"); }).code(),
              codes::kFail);
    rig.service->Add(
        Answer::Ok(R"({"CSPsPolicy":[{"ProviderType":75,"SupportedParamSets":["A","B"]},)"
                   R"({"ProviderType":80,"SupportedParamSets":["C"]}],)"
                   R"("ActionPolicy":[{"Action":"SignDocument","MfaRequired":true},)"
                   R"({"Action":"DeleteCertificate","MfaRequired":false}]})"));
    EXPECT_TRUE(rig.connector->IsMfaRequired("SignDocument"));  // fetched again
    EXPECT_FALSE(rig.connector->IsMfaRequired("DeleteCertificate"));
    EXPECT_FALSE(rig.connector->IsMfaRequired("ChangePin"));
    EXPECT_EQ(rig.connector->GetSupportedParamSets(11811), (std::set<std::string>{"A", "B"}));
    EXPECT_EQ(rig.connector->GetSupportedParamSets(43590), (std::set<std::string>{"C"}));
    EXPECT_EQ(rig.connector->GetSupportedParamSets(0), (std::set<std::string>{"A", "B", "C"}));
    EXPECT_TRUE(rig.connector->GetSupportedParamSets(11837).empty());
    EXPECT_TRUE(rig.connector->GetSupportedParamSets(1).empty());
    ASSERT_EQ(rig.service->sent.size(), 2u);
    EXPECT_EQ(rig.service->sent[1].url, std::string(kSignBase) + "/rest/api/policy");
    EXPECT_EQ(rig.service->sent[1].headers,
              (std::vector<std::string>{"Authorization: Bearer acc"}));
}
