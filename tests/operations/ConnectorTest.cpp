#include <gtest/gtest.h>

#include "AuthTestSupport.h"
#include "KelAssertions.h"
#include "base/ErrorCodes.h"

using namespace auth_test;

using nimbex_test::CaughtKelException;
using nimbex_test::Contains;

TEST(Connector, DerivesBaseUrlsAndRefusesMalformedOnes) {
    Rig rig(true);
    EXPECT_EQ(rig.connector->AuthUrl(), kAuthBase);
    EXPECT_EQ(rig.connector->SignUrl(), kSignBase);
    EXPECT_EQ(rig.connector->DocstoreUrl(), "https://docs.example.test/docstore");
    EXPECT_EQ(rig.connector->ResourceUrn(), kResource);
    EXPECT_TRUE(rig.connector->HasDocumentStore());
    EXPECT_FALSE(Rig(false).connector->HasDocumentStore());
    const KelException e =
        CaughtKelException([] { KelContainerConnector c(kAuthUrl, "sign.example.test/x", ""); });
    EXPECT_EQ(e.code(), codes::kFail);
    EXPECT_TRUE(Contains(e.what(), "Wrong sign server URL format")) << e.what();
}

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

TEST(Connector, PlainHttpProbeIsRefusedUnlessPermitted) {
    auto service = boost::make_shared<nimbex_test::ScriptedHttpClient>();
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

TEST(Connector, ServiceOperationsAnswerNotSupported) {
    Rig rig;
    KelContainerConnector& c = *rig.connector;
    uint32_t length = 0, id = 0;
    const std::vector<unsigned char> bytes{1, 2, 3};
    const std::vector<std::function<void()>> calls = {
        [&] { c.GetCertificates(); },
        [&] { c.GetCertificate(1); },
        [&] { c.InstallPfx(bytes, "pw"); },
        [&] { c.InstallPfxBase64("AAAA", "pw"); },
        [&] { c.CreateKey(1, "oid", "pin", 0); },
        [&] { c.InstallCertificate(bytes.data(), 3); },
        [&] { c.SetContainerExtensions(1, bytes); },
        [&] { c.GetContainerExtensions(1); },
        [&] { c.SetKeyPermissions(1, 2); },
        [&] { c.GetKeyPermissions(1); },
        [&] { c.SetKeySpec(1, 2); },
        [&] { c.GetKeySpec(1); },
        [&] { c.DeleteCertificate(1); },
        [&] { c.Sign(1, bytes.data(), 3, 0, "pin", nullptr, &length, false, nullptr, 0); },
        [&] {
            c.AgreeKey(1, bytes.data(), 3, bytes.data(), 3, bytes.data(), 3, "pin", 0, nullptr,
                       &length);
        },
        [&] { c.ValidatePin(1, "pin", nullptr); },
        [&] { c.ChangePin(1, "a", "b"); },
        [&] { c.FindCertificateByThumbprint(bytes, &id); },
    };
    for (size_t i = 0; i < calls.size(); ++i)
        EXPECT_EQ(CaughtKelException(calls[i]).code(), codes::kNotSupported) << "operation " << i;
    EXPECT_TRUE(rig.service->sent.empty());
}
