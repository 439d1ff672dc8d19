#include <gtest/gtest.h>

#include "AuthTestSupport.h"
#include "KelAssertions.h"
#include "base/ErrorCodes.h"

using namespace auth_test;

using nimbex_test::CaughtKelException;
using nimbex_test::Contains;

TEST(Connector, DerivesBaseUrlsAndResourceName) {
    Rig rig(true);
    const KelContainerConnector& c = *rig.connector;
    EXPECT_EQ(c.AuthUrl(), kAuthBase);
    EXPECT_EQ(c.SignUrl(), kSignBase);
    EXPECT_EQ(c.DocstoreUrl(), "https://docs.example.test/docstore");
    EXPECT_EQ(c.ResourceUrn(), kResource);
    EXPECT_TRUE(rig.connector->HasDocumentStore());
    EXPECT_FALSE(Rig(false).connector->HasDocumentStore());
}

TEST(Connector, MalformedUrlAbortsConstruction) {
    const KelException e =
        CaughtKelException([] { KelContainerConnector c(kAuthUrl, "sign.example.test/x", ""); });
    EXPECT_EQ(e.code(), codes::kFail);
    EXPECT_TRUE(Contains(e.what(), "Wrong sign server URL format")) << e.what();
    EXPECT_EQ(
        CaughtKelException([] { KelContainerConnector c("https://auth", kSignUrl, ""); }).code(),
        codes::kFail);
    EXPECT_EQ(
        CaughtKelException([] { KelContainerConnector c(kAuthUrl, kSignUrl, "docs"); }).code(),
        codes::kFail);
}

TEST(Connector, FactoryAndTransportOptions) {
    boost::shared_ptr<ContainerConnectorBase> c =
        CreateKelContainerConnector(kAuthUrl, kSignUrl, "");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->GetTimeout(), 0);
    c->SetTimeout(1234);
    EXPECT_EQ(c->GetTimeout(), 1234);
    EXPECT_FALSE(c->HasDocumentStore());
}

TEST(Connector, EmptyTokenSettersChangeNothing) {
    Rig rig;
    rig.connector->SetAccessToken("");
    rig.connector->SetIdToken("");
    EXPECT_FALSE(rig.connector->TokensCurrent());
    rig.connector->SetIdToken("idt");
    EXPECT_TRUE(rig.connector->TokensCurrent());
    EXPECT_EQ(rig.connector->IdToken().value, "idt");
    rig.connector->SetAccessToken("");
    EXPECT_TRUE(rig.connector->AccessToken().value.empty());
}

TEST(Connector, CurrentTokensAreHandedOutWithoutRequest) {
    Rig rig;
    rig.connector->SetAccessToken("acc");
    EXPECT_EQ(rig.connector->GetAccessToken(), "acc");
    EXPECT_TRUE(rig.service->sent.empty());
}

TEST(Connector, TokenSaverIsLoadedAndErasedByDropTokens) {
    Rig rig;
    auto saver = boost::make_shared<MemorySaver>();
    saver->auth = "saved-access";
    saver->id = "saved-id";
    saver->conf = "saved-conf";
    rig.connector->SetAuthTokenSaver(saver);
    EXPECT_EQ(rig.connector->AccessToken().value, "saved-access");
    EXPECT_EQ(rig.connector->IdToken().value, "saved-id");
    EXPECT_EQ(rig.connector->ConfToken().value, "saved-conf");
    EXPECT_TRUE(rig.connector->TokensCurrent());
    EXPECT_TRUE(saver->log.empty());

    rig.connector->DropTokens();
    EXPECT_TRUE(rig.connector->AccessToken().value.empty());
    EXPECT_TRUE(rig.connector->IdToken().value.empty());
    EXPECT_TRUE(rig.connector->ConfToken().value.empty());
    EXPECT_FALSE(rig.connector->TokensCurrent());
    EXPECT_EQ(saver->log, (std::vector<std::string>{"auth=", "id=", "conf="}));
}

TEST(Connector, SaverWithNothingStoredLeavesTokensNotCurrent) {
    Rig rig;
    rig.connector->SetAuthTokenSaver(boost::make_shared<MemorySaver>());
    EXPECT_FALSE(rig.connector->TokensCurrent());
    EXPECT_TRUE(rig.connector->AccessToken().value.empty());
}

TEST(Connector, ApiVersionProbeIsAnUnauthenticatedGet) {
    Rig rig;
    rig.connector->SetAccessToken("acc");
    rig.service->Add(Answer::Ok("2"));
    rig.service->Add(Answer::Ok("2"));
    rig.service->Add(Answer::Ok("1\n"));
    rig.service->Add(Answer::Ok("1"));
    rig.service->Add(Answer::Ok("v3"));
    EXPECT_TRUE(rig.connector->HasApiVersion1());
    EXPECT_TRUE(rig.connector->HasApiVersion2());
    EXPECT_TRUE(rig.connector->HasApiVersion1());
    EXPECT_FALSE(rig.connector->HasApiVersion2());
    EXPECT_FALSE(rig.connector->HasApiVersion1());
    ASSERT_EQ(rig.service->sent.size(), 5u);
    for (const SentRequest& r : rig.service->sent) {
        EXPECT_EQ(r.url, std::string(kSignBase) + "/rest/api/apiversion");
        EXPECT_TRUE(r.headers.empty());
        EXPECT_TRUE(r.body.empty());
        EXPECT_TRUE(r.method.empty());
    }
}

TEST(Connector, ApiVersionProbeTreatsFailuresAsVersionZero) {
    Rig rig;
    rig.connector->SetAccessToken("acc");
    rig.service->Add(Answer::Failure(12029));
    rig.service->Add(Answer::Status(500));
    EXPECT_FALSE(rig.connector->HasApiVersion2());
    EXPECT_FALSE(rig.connector->HasApiVersion1());
    // Not renewed even with current tokens: the probe goes straight to the transport.
    EXPECT_EQ(rig.service->sent.size(), 2u);
    EXPECT_TRUE(rig.connector->TokensCurrent());
}

TEST(Connector, PlainHttpProbeIsRefusedUnlessPermitted) {
    auto service = boost::make_shared<ScriptedService>();
    KelContainerConnector c("http://auth.test/a", "http://sign.test/s", "");
    c.SetUrlRetriever(service);
    service->Add(Answer::Ok("2"));
    EXPECT_FALSE(c.HasApiVersion2());
    EXPECT_TRUE(service->sent.empty());
    c.SetPermitHttp(true);
    EXPECT_TRUE(c.HasApiVersion2());
}

TEST(Connector, PolicyIsFetchedOnceAndConsulted) {
    Rig rig;
    rig.connector->SetAccessToken("acc");
    rig.service->Add(
        Answer::Ok(R"({"CSPsPolicy":[{"ProviderType":75,"SupportedParamSets":["A","B"]},)"
                   R"({"ProviderType":80,"SupportedParamSets":["C"]}],)"
                   R"("ActionPolicy":[{"Action":"SignDocument","MfaRequired":true},)"
                   R"({"Action":"DeleteCertificate","MfaRequired":false}]})"));
    EXPECT_TRUE(rig.connector->IsMfaRequired("SignDocument"));
    EXPECT_FALSE(rig.connector->IsMfaRequired("DeleteCertificate"));
    EXPECT_FALSE(rig.connector->IsMfaRequired("ChangePin"));
    EXPECT_EQ(rig.connector->GetSupportedParamSets(11811), (std::set<std::string>{"A", "B"}));
    EXPECT_EQ(rig.connector->GetSupportedParamSets(43590), (std::set<std::string>{"C"}));
    EXPECT_EQ(rig.connector->GetSupportedParamSets(0), (std::set<std::string>{"A", "B", "C"}));
    EXPECT_TRUE(rig.connector->GetSupportedParamSets(11837).empty());
    EXPECT_TRUE(rig.connector->GetSupportedParamSets(1).empty());
    ASSERT_EQ(rig.service->sent.size(), 1u);
    EXPECT_EQ(rig.service->sent[0].url, std::string(kSignBase) + "/rest/api/policy");
    EXPECT_EQ(rig.service->sent[0].headers,
              (std::vector<std::string>{"Authorization: Bearer acc"}));
    EXPECT_TRUE(rig.connector->Policy().loaded);
}

TEST(Connector, PolicyThatIsNotJsonIsRetriedNextTime) {
    Rig rig;
    rig.connector->SetAccessToken("acc");
    rig.service->Add(Answer::Ok("<html>"));
    EXPECT_EQ(CaughtKelException([&] { rig.connector->IsMfaRequired("SignDocument"); }).code(),
              codes::kFail);
    EXPECT_FALSE(rig.connector->Policy().loaded);
    rig.service->Add(
        Answer::Ok(R"({"ActionPolicy":[{"Action":"SignDocument","MfaRequired":true}]})"));
    EXPECT_TRUE(rig.connector->IsMfaRequired("SignDocument"));
}

TEST(Connector, ServiceOperationsAnswerNotSupported) {
    Rig rig;
    KelContainerConnector& c = *rig.connector;
    uint32_t length = 0;
    const std::vector<unsigned char> bytes{1, 2, 3};
    const std::vector<std::function<void()>> calls = {
        [&] { c.Sign(1, bytes.data(), 3, 0, "pin", nullptr, &length, false, nullptr, 0); },
        [&] {
            c.AgreeKey(1, bytes.data(), 3, bytes.data(), 3, bytes.data(), 3, "pin", 0, nullptr,
                       &length);
        },
    };
    for (size_t i = 0; i < calls.size(); ++i)
        EXPECT_EQ(CaughtKelException(calls[i]).code(), codes::kNotSupported) << "operation " << i;
    EXPECT_TRUE(rig.service->sent.empty());
}
