#include <gtest/gtest.h>
#include <json/value.h>

#include "AuthTestSupport.h"
#include "KelAssertions.h"
#include "TempEnv.h"
#include "auth/AuthorizeUrl.h"
#include "base/ErrorBoundary.h"
#include "base/ErrorCodes.h"
#include "config/ModuleOptions.h"
#include "config/RegistryAccess.h"
#include "protocol/AuthResponse.h"

using namespace auth_test;

namespace {

using nimbex_test::CaughtKelException;
using nimbex_test::Contains;

const std::string kAuthorizeUrl =
    std::string(kAuthBase) +
    "/oauth/authorize?client_id=veltra.cloud.csp&response_type=token%20id_token&scope=kel"
    "&redirect_uri=" +
    kEncodedRedirectUri + "&resource=" + kResource;

std::string TokenAnswer(const std::string& id) {
    return "access_token=new-access&expires_in=3600&id_token=" + id + "&token_type=Bearer";
}

void SetAuthApp(const std::string& path) {
    RegPutString(std::string(kModuleOptionsSection) + "AuthApp", path);
}

}  // namespace

TEST(PasswordGrant, SendsTheExactRequestAndSavesTheToken) {
    Rig rig;
    auto saver = boost::make_shared<MemorySaver>();
    rig.connector->SetAuthTokenSaver(saver);
    rig.connector->SetCredentials("user@x", "p&ss word");
    rig.service->Add(Answer::Ok(R"({"access_token":"tok-1","expires_in":3600})"));

    EXPECT_EQ(rig.connector->GetAccessToken(), "tok-1");
    ASSERT_EQ(rig.service->sent.size(), 1u);
    const std::string body =
        std::string(
            "grant_type=password&username=user%40x&password=p%26ss%20word&scope=kel"
            "&client_id=veltra.cloud.csp&resource=") +
        kResource;
    ExpectSent(rig.service->sent[0], std::string(kAuthBase) + "/oauth/token", JsonLines("", body),
               body);
    EXPECT_TRUE(rig.service->sent[0].method.empty());
    EXPECT_EQ(saver->log, (std::vector<std::string>{"auth=tok-1"}));
    EXPECT_TRUE(rig.peer.TokensCurrent());
    EXPECT_FALSE(IsExpired(rig.peer.AccessToken().expiry));
}

TEST(PasswordGrant, UnusableAnswerLeadsIntoTheConfirmationFlow) {
    // No "expires_in", no token, or a lifetime that cannot be added to the
    // current time (the grant fails rather than keep a wrapped-around expiry).
    for (const char* answer : {R"({"access_token":"tok-1"})", R"({"expires_in":60})", "<html>",
                               R"({"access_token":"tok-1","expires_in":4294967295})"}) {
        Rig rig;
        rig.connector->SetSilent(true);
        rig.connector->SetCredentials("u", "p");
        rig.service->Add(Answer::Ok(answer));
        rig.service->Add(Answer::Ok(R"({"IsError":false,"IsFinal":true,"AccessToken":"conf-acc",)"
                                    R"("ExpiresIn":60})"));
        EXPECT_EQ(rig.connector->GetAccessToken(), "conf-acc") << answer;
        ASSERT_EQ(rig.service->sent.size(), 2u);
        EXPECT_EQ(rig.service->sent[1].url, std::string(kAuthBase) + "/confirmation");
        // No access token: the confirmation authenticates with the login and password.
        EXPECT_EQ(rig.service->sent[1].headers[0], "Authorization: Basic dTpw");
        EXPECT_FALSE(IsExpired(rig.peer.AccessToken().expiry));
    }
}

TEST(SignIn, NumbersOutsideThirtyTwoBitsFailWithoutConfirmation) {
    // A lifetime or an id token expiry that is negative or wider than 32 bits
    // raises the JSON library's conversion error, no KelException: the sign-in
    // does not turn to the confirmation flow and the boundary answers 0x80090020.
    for (const char* number : {"-5", "4294967296"}) {
        for (const bool grant : {true, false}) {
            Rig rig;
            rig.connector->SetSilent(true);
            rig.connector->SetCredentials("u", grant ? "p" : "");
            const std::string answer =
                grant ? R"({"access_token":"tok-1","expires_in":)" + std::string(number) + "}"
                      : "x#" + TokenAnswer(MakeIdToken(number));
            rig.service->Add(Answer::Ok(answer));
            rig.service->Add(Answer::Ok(answer));
            EXPECT_THROW(rig.connector->Authenticate(), Json::LogicError);
            EXPECT_EQ(Boundary([&] {
                          rig.connector->GetAccessToken();
                          return codes::kSuccess;
                      }),
                      codes::kFail);
            ASSERT_EQ(rig.service->sent.size(), 2u) << number;
            EXPECT_FALSE(Contains(rig.service->sent[1].url, "confirmation")) << number;
        }
    }
}

TEST(PasswordGrant, ConnectionFailureEndsQuietlyRejectionSilentlyInTheConfirmationError) {
    Rig rig;
    rig.connector->SetCredentials("u", "p");
    rig.service->Add(Answer::Failure(12157));
    EXPECT_EQ(rig.connector->GetAccessToken(), "");
    EXPECT_EQ(rig.service->sent.size(), 1u);
    EXPECT_TRUE(rig.browser.commands.empty());
    rig.connector->SetSilent(true);
    rig.service->Add(Answer::Status(400, R"({"error":"invalid_grant"})"));
    rig.service->Add(Answer::Status(400, R"({"error":"invalid_grant"})"));
    const KelException e = CaughtKelException([&] { rig.connector->GetAccessToken(); });
    EXPECT_EQ(e.code(), codes::kBadUserName);
    EXPECT_EQ(rig.service->sent.size(), 3u);
}

TEST(SilentAuthorization, TakesTokensFromTheRedirectFragment) {
    Rig rig(true);
    auto saver = boost::make_shared<MemorySaver>();
    rig.connector->SetAuthTokenSaver(saver);
    rig.connector->SetCredentials("a b", "");
    const std::string id = IdTokenExpiringIn(3600);
    rig.service->Add(
        Answer::Ok("https://cloud.veltra.example/oauth2redirect/cloudcsp#" + TokenAnswer(id)));
    EXPECT_EQ(rig.connector->GetIdToken(), id);
    EXPECT_EQ(rig.peer.AccessToken().value, "new-access");
    ASSERT_EQ(rig.service->sent.size(), 1u);
    ExpectSent(
        rig.service->sent[0],
        kAuthorizeUrl + "&response_mode=fragment&prompt=none&sign_api_version=2&login_hint=a%20b",
        {}, "");
    EXPECT_EQ(saver->log, (std::vector<std::string>{"auth=new-access", "id=" + id}));
}

TEST(SilentAuthorization, ValidIdTokenIsTheHintAndExpiredTokensAreDropped) {
    Rig rig;
    const std::string id = IdTokenExpiringIn(3600);
    rig.service->Add(Answer::Ok("x#" + TokenAnswer(id)));
    rig.connector->EnsureAuthenticated();
    // Access and id token held and not expired: nothing is sent.
    rig.connector->EnsureAuthenticated();
    ASSERT_EQ(rig.service->sent.size(), 1u);
    EXPECT_FALSE(Contains(rig.service->sent[0].url, "id_token_hint"));

    // Renewal with the id token as hint; this answer's id token expired already.
    rig.service->Add(Answer::Ok("x#" + TokenAnswer(IdTokenExpiringIn(-60))));
    rig.connector->Authenticate();
    ASSERT_EQ(rig.service->sent.size(), 2u);
    EXPECT_TRUE(Contains(rig.service->sent[1].url,
                         "&id_token_hint=" + id + "&response_mode=fragment&prompt=none"));

    // The expired id token is wiped, so the access token alone does not do.
    rig.service->Add(Answer::Ok("x#" + TokenAnswer(id)));
    rig.connector->EnsureAuthenticated();
    ASSERT_EQ(rig.service->sent.size(), 3u);
    EXPECT_FALSE(Contains(rig.service->sent[2].url, "id_token_hint"));
    EXPECT_EQ(rig.peer.IdToken().value, id);
}

TEST(SilentAuthorization, AnswerWithoutFragmentFallsIntoConfirmation) {
    Rig rig;
    rig.connector->SetSilent(true);
    rig.service->Add(Answer::Ok("<html>login page</html>"));
    const KelException e = CaughtKelException([&] { rig.connector->GetAccessToken(); });
    EXPECT_EQ(e.code(), codes::kSilentContext);
    EXPECT_TRUE(Contains(e.what(), "Cannot get user credentials in silent mode"));
    EXPECT_EQ(rig.service->sent.size(), 1u);
}

TEST(SilentAuthorization, OAuthErrorInFragmentLeadsToInteractiveSignIn) {
    nimbex_test::TempEnv env;
    SetAuthApp("/opt/app/authapp");
    Rig rig;
    rig.service->Add(Answer::Ok("x#error=login_required"));
    rig.browser.answers.push_back(TokenAnswer(IdTokenExpiringIn(3600)));
    EXPECT_EQ(rig.connector->GetAccessToken(), "new-access");
    ASSERT_EQ(rig.browser.commands.size(), 1u);
    EXPECT_EQ(rig.browser.commands[0],
              "/opt/app/authapp \"" + kAuthorizeUrl + "&response_mode=form_post\"");
}

TEST(InteractiveSignIn, RefusalsAndFailures) {
    nimbex_test::TempEnv env;
    Rig rig;
    KelException e = CaughtKelException([&] { rig.connector->SignInInteractive("T"); });
    EXPECT_TRUE(
        Contains(e.what(), "Cannot find the configuration parameter with path to OAuth2Client"));
    SetAuthApp("app");
    rig.browser.answers = {"", "error=access_denied&error_description=cancelled_by_user",
                           "garbage\x01\x02 without pairs"};
    const std::pair<uint32_t, const char*> failures[] = {
        {codes::kFail, "Cannot get auth token from the OAuth2 client"},  // the runner fails
        {codes::kCancelled, "cancelled_by_user"},
        {codes::kFail, "access_token"},
    };
    for (const auto& f : failures) {
        e = CaughtKelException([&] { rig.connector->SignInInteractive("T"); });
        EXPECT_EQ(e.code(), f.first) << e.what();
        EXPECT_TRUE(Contains(e.what(), f.second)) << e.what();
    }
    EXPECT_TRUE(rig.peer.AccessToken().value.empty());
    EXPECT_EQ(rig.browser.commands.size(), 3u);

    rig.connector->SetSilent(true);
    e = CaughtKelException([&] { rig.connector->SignInInteractive(""); });
    EXPECT_EQ(e.code(), codes::kSilentContext);
    EXPECT_TRUE(Contains(e.what(), "Cannot create interactive window in silent mode"));
    FakeBrowser browser;
    KelContainerConnector plain("http://auth.test/a", kSignUrl, "", browser.Runner());
    EXPECT_EQ(CaughtKelException([&] { plain.SignInInteractive(""); }).code(),
              codes::kHttpRestricted);
    EXPECT_TRUE(browser.commands.empty());
}

TEST(InteractiveSignIn, KeepsTheConfTokenAndWhatAnAnswerFailingHalfWayDecoded) {
    nimbex_test::TempEnv env;
    SetAuthApp("app");
    Rig rig(true);
    rig.browser.answers = {
        TokenAnswer(IdTokenExpiringIn(3600)) + "&conf_token=ct&conf_token_expires_in=600",
        "access_token=fresh&expires_in=60&id_token=no-dots"};
    rig.connector->SignInInteractive("op-5");
    EXPECT_EQ(rig.peer.ConfToken().value, "ct");
    EXPECT_EQ(rig.browser.commands[0], "app \"" + kAuthorizeUrl +
                                           "&kel_operation_id=op-5&response_mode=form_post"
                                           "&sign_api_version=2\"");
    const KelException e = CaughtKelException([&] { rig.connector->SignInInteractive(""); });
    EXPECT_TRUE(Contains(e.what(), "Wrong \"id_token\" value. Cannot parse the value."));
    EXPECT_EQ(rig.peer.AccessToken().value, "fresh");
    EXPECT_FALSE(IsExpired(rig.peer.AccessToken().expiry));
    EXPECT_EQ(rig.peer.IdToken().value, "no-dots");
    EXPECT_EQ(rig.peer.ConfToken().value, "ct");
}

TEST(SendRequest, FailureWithCurrentTokensRenewsAndResendsOnce) {
    Rig rig;
    auto signer = boost::make_shared<CountingSigner>();
    rig.connector->SetMessageSignatureCreator(signer);
    rig.connector->SetCredentials("u", "p");
    rig.connector->SetAccessToken("old");
    const std::string url = std::string(kSignBase) + "/rest/api/transactions";
    std::vector<SecretString> headers = {"Authorization: Bearer old", "VL-Signature: stale",
                                         "Content-Type: application/json; charset=utf-8",
                                         "Content-Length: 2"};
    rig.service->Add(Answer::Status(401));
    rig.service->Add(Answer::Ok(R"({"access_token":"new","expires_in":60})"));
    rig.service->Add(Answer::Ok("\"tx\""));

    EXPECT_EQ(rig.connector->SendRequest(url, headers, "{}"), "\"tx\"");
    ASSERT_EQ(rig.service->sent.size(), 3u);
    EXPECT_EQ(rig.service->sent[0].headers[0], "Authorization: Bearer old");
    EXPECT_EQ(rig.service->sent[1].url, std::string(kAuthBase) + "/oauth/token");
    std::vector<std::string> again = JsonLines("Authorization: Bearer new", "{}");
    again.push_back("VL-Signature: n=1 url=" + url +
                    " lines=3|Authorization|Content-Type|Content-Length body=2");
    ExpectSent(rig.service->sent[2], url, again, "{}");
    EXPECT_EQ(signer->count, 1);
}

TEST(SendRequest, FailurePassesToTheCallerUnsentAgainOrAfterOneRenewal) {
    Rig rig;
    rig.connector->SetCredentials("u", "p");
    const std::string url = std::string(kSignBase) + "/x";
    // Without current tokens: sent once, the caller's lines untouched.
    std::vector<SecretString> headers = {"Authorization: Bearer x", "VL-Signature: s"};
    rig.service->Add(Answer::Status(401));
    EXPECT_THROW(rig.connector->SendRequest(url, headers, ""), KelException);
    EXPECT_EQ(rig.service->sent.size(), 1u);
    EXPECT_EQ(headers[1], "VL-Signature: s");
    // With them: renewed and sent again once; the second failure is the caller's.
    rig.connector->SetAccessToken("old");
    headers = {"Authorization: Bearer old"};
    rig.service->Add(Answer::Status(500));
    rig.service->Add(Answer::Ok(R"({"access_token":"new","expires_in":60})"));
    rig.service->Add(Answer::Status(503));
    const KelException e =
        CaughtKelException([&] { rig.connector->SendRequest(url, headers, ""); });
    EXPECT_TRUE(Contains(e.what(), "Server code: 503"));
    EXPECT_EQ(rig.service->sent.size(), 4u);
    EXPECT_EQ(headers[0], "Authorization: Bearer new");
}

TEST(SendRequest, WithoutBearerOrSignatureLinesNoneIsAdded) {
    Rig rig;
    rig.connector->SetCredentials("u", "p");
    rig.connector->SetMessageSignatureCreator(boost::make_shared<CountingSigner>());
    rig.connector->SetIdToken("id");
    std::vector<SecretString> headers = {"Content-Length: 0"};
    rig.service->Add(Answer::Failure(12002));
    rig.service->Add(Answer::Ok(R"({"access_token":"new","expires_in":60})"));
    rig.service->Add(Answer::Ok("done"));
    EXPECT_EQ(rig.connector->SendRequest(std::string(kSignBase) + "/x", headers, "", "DELETE"),
              "done");
    EXPECT_EQ(rig.service->sent[2].headers, (std::vector<std::string>{"Content-Length: 0"}));
    EXPECT_EQ(rig.service->sent[2].method, "DELETE");
}

TEST(SignOut, RunsTheApplicationAndMapsItsAnswer) {
    nimbex_test::TempEnv env;
    SetAuthApp("/bin/authapp");
    Rig rig;
    rig.connector->SetAccessToken("keep");
    rig.browser.answers = {"error_message=cancelled_by_user", "error_message=internal_error",
                           "code=1"};
    rig.connector->SignOut();
    EXPECT_EQ(rig.browser.commands[0],
              std::string("/bin/authapp \"") + kAuthBase + "/Authentication/SignOut\"");
    EXPECT_EQ(rig.peer.AccessToken().value, "keep");

    const std::pair<uint32_t, const char*> failures[] = {
        {codes::kFail, "Unexpected code was return from browser app for DropAuth: internal_error"},
        {codes::kFail, "There is no code in browser app resonse for DropAuth"},
        {codes::kFail, "Cannot perform SignOut command"},  // the application fails
    };
    for (const auto& f : failures) {
        const KelException e = CaughtKelException([&] { rig.connector->SignOut(); });
        EXPECT_EQ(e.code(), f.first);
        EXPECT_TRUE(Contains(e.what(), f.second)) << e.what();
    }
    rig.connector->SetSilent(true);
    EXPECT_EQ(CaughtKelException([&] { rig.connector->SignOut(); }).code(), codes::kSilentContext);
    EXPECT_EQ(rig.browser.commands.size(), 4u);
    EXPECT_TRUE(rig.service->sent.empty());
}
