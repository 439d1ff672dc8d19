#include <gtest/gtest.h>

#include "AuthTestSupport.h"
#include "KelAssertions.h"
#include "TempEnv.h"
#include "auth/AuthorizeUrl.h"
#include "base/ErrorCodes.h"
#include "config/ModuleOptions.h"
#include "config/RegistryAccess.h"
#include "protocol/AuthResponse.h"

using namespace auth_test;

namespace {

using nimbex_test::CaughtKelException;
using nimbex_test::Contains;

const std::string kAuthorizePrefix =
    std::string(kAuthBase) +
    "/oauth/authorize?client_id=veltra.cloud.csp&response_type=token%20id_token&scope=kel"
    "&redirect_uri=";

std::string TokenAnswer(const std::string& id) {
    return "access_token=new-access&expires_in=3600&id_token=" + id + "&token_type=Bearer";
}

}  // namespace

TEST(AuthorizeUrl, SilentWithLoginHintAndDocumentStore) {
    const std::string url =
        BuildAuthorizeUrl(kAuthBase, kResource, "", "", "John Smith", true, true);
    EXPECT_EQ(url, kAuthorizePrefix + kEncodedRedirectUri + "&resource=" + kResource +
                       "&response_mode=fragment&prompt=none&sign_api_version=2"
                       "&login_hint=John%20Smith");
    EXPECT_TRUE(Contains(kEncodedRedirectUri, "%2Foauth2redirect%2Fcloudcsp"));
    const std::string noStore = BuildAuthorizeUrl(kAuthBase, kResource, "", "", "a b", false, true);
    EXPECT_TRUE(Contains(noStore, "&response_mode=fragment&prompt=none&login_hint=a%20b"));
}

TEST(AuthorizeUrl, OperationReferenceAndIdTokenHint) {
    const std::string v1 = BuildAuthorizeUrl(kAuthBase, kResource, "T-1", "jwt", "", false, false);
    EXPECT_EQ(v1, kAuthorizePrefix + kEncodedRedirectUri + "&resource=" + kResource +
                      "&kel_transaction_token_id=T-1&id_token_hint=jwt&response_mode=form_post");
    const std::string v2 = BuildAuthorizeUrl(kAuthBase, kResource, "op-9", "", "", true, false);
    EXPECT_TRUE(Contains(v2, "&kel_operation_id=op-9&response_mode=form_post&sign_api_version=2"));
    EXPECT_FALSE(Contains(v2, "id_token_hint"));
}

TEST(PasswordGrant, SendsTheExactRequestAndSavesTheToken) {
    Rig rig;
    auto saver = boost::make_shared<MemorySaver>();
    rig.connector->SetAuthTokenSaver(saver);
    rig.connector->SetCredentials("user@x", "p&ss word");
    rig.service->Add(Answer::Ok(R"({"access_token":"tok-1","expires_in":3600})"));

    EXPECT_EQ(rig.connector->GetAccessToken(), "tok-1");
    ASSERT_EQ(rig.service->sent.size(), 1u);
    const SentRequest& r = rig.service->sent[0];
    const std::string body =
        std::string(
            "grant_type=password&username=user%40x&password=p%26ss%20word&scope=kel"
            "&client_id=veltra.cloud.csp&resource=") +
        kResource;
    EXPECT_EQ(r.url, std::string(kAuthBase) + "/oauth/token");
    EXPECT_EQ(r.body, body);
    EXPECT_EQ(r.headers,
              (std::vector<std::string>{"Content-Type: application/json; charset=utf-8",
                                        "Content-Length: " + std::to_string(body.size())}));
    EXPECT_TRUE(r.method.empty());
    EXPECT_EQ(saver->log, (std::vector<std::string>{"auth=tok-1"}));
    EXPECT_TRUE(rig.connector->TokensCurrent());
    EXPECT_FALSE(IsExpired(rig.connector->AccessToken().expiry));

    // Current tokens are used as they are.
    EXPECT_EQ(rig.connector->GetAccessToken(), "tok-1");
    EXPECT_EQ(rig.service->sent.size(), 1u);
}

TEST(PasswordGrant, WithoutSaverTokensAreRenewedByExpiryOnly) {
    Rig rig;
    rig.connector->SetCredentials("u", "p");
    rig.service->Add(Answer::Ok(R"({"access_token":"tok-1","expires_in":3600})"));
    EXPECT_EQ(rig.connector->GetAccessToken(), "tok-1");
    EXPECT_FALSE(rig.connector->TokensCurrent());
    EXPECT_EQ(rig.connector->GetAccessToken(), "tok-1");
    EXPECT_EQ(rig.service->sent.size(), 1u);
}

TEST(PasswordGrant, BadAnswerLeadsIntoTheConfirmationFlow) {
    Rig rig;
    rig.connector->SetSilent(true);
    rig.connector->SetCredentials("u", "p");
    rig.service->Add(Answer::Ok(R"({"access_token":"tok-1"})"));  // no expires_in
    rig.service->Add(Answer::Ok(R"({"IsError":false,"IsFinal":true,"AccessToken":"conf-acc",)"
                                R"("ExpiresIn":60})"));
    EXPECT_EQ(rig.connector->GetAccessToken(), "conf-acc");
    ASSERT_EQ(rig.service->sent.size(), 2u);
    EXPECT_EQ(rig.service->sent[1].url, std::string(kAuthBase) + "/confirmation");
    // No access token: the confirmation authenticates with the login and password.
    EXPECT_EQ(rig.service->sent[1].headers[0], "Authorization: Basic dTpw");
}

TEST(PasswordGrant, LifetimeBeyondTheTimeRangeLeadsIntoTheConfirmationFlow) {
    // 4294967295 seconds cannot be added to the current time: the grant fails
    // instead of keeping a token with a wrapped-around expiry.
    Rig rig;
    rig.connector->SetSilent(true);
    rig.connector->SetCredentials("u", "p");
    rig.service->Add(Answer::Ok(R"({"access_token":"tok-1","expires_in":4294967295})"));
    rig.service->Add(Answer::Ok(R"({"IsError":false,"IsFinal":true,"AccessToken":"conf-acc",)"
                                R"("ExpiresIn":60})"));
    EXPECT_EQ(rig.connector->GetAccessToken(), "conf-acc");
    ASSERT_EQ(rig.service->sent.size(), 2u);
    EXPECT_EQ(rig.service->sent[1].url, std::string(kAuthBase) + "/confirmation");
    EXPECT_FALSE(IsExpired(rig.connector->AccessToken().expiry));
}

TEST(PasswordGrant, RejectedGrantWithSilentConnectorEndsInTheConfirmationError) {
    Rig rig;
    rig.connector->SetSilent(true);
    rig.connector->SetCredentials("u", "p");
    rig.service->Add(Answer::Status(400, R"({"error":"invalid_grant"})"));
    rig.service->Add(Answer::Status(400, R"({"error":"invalid_grant"})"));
    const KelException e = CaughtKelException([&] { rig.connector->GetAccessToken(); });
    EXPECT_EQ(e.code(), 2202u);
    EXPECT_EQ(rig.service->sent.size(), 2u);
}

TEST(PasswordGrant, ConnectionFailureEndsSignInQuietly) {
    Rig rig;
    rig.connector->SetCredentials("u", "p");
    rig.service->Add(Answer::Failure(12157));
    EXPECT_EQ(rig.connector->GetAccessToken(), "");
    EXPECT_EQ(rig.service->sent.size(), 1u);
    EXPECT_TRUE(rig.browser.commands.empty());
}

TEST(SilentAuthorization, TakesTokensFromTheRedirectFragment) {
    Rig rig(true);
    auto saver = boost::make_shared<MemorySaver>();
    rig.connector->SetAuthTokenSaver(saver);
    rig.connector->SetCredentials("ann", "");
    const std::string id = MakeIdToken(InOneHour());
    rig.service->Add(
        Answer::Ok("https://cloud.veltra.example/oauth2redirect/cloudcsp#" + TokenAnswer(id)));
    EXPECT_EQ(rig.connector->GetIdToken(), id);
    EXPECT_EQ(rig.connector->AccessToken().value, "new-access");
    ASSERT_EQ(rig.service->sent.size(), 1u);
    const SentRequest& r = rig.service->sent[0];
    EXPECT_EQ(r.url, kAuthorizePrefix + kEncodedRedirectUri + "&resource=" + kResource +
                         "&response_mode=fragment&prompt=none&sign_api_version=2&login_hint=ann");
    EXPECT_TRUE(r.headers.empty());
    EXPECT_TRUE(r.body.empty());
    EXPECT_EQ(saver->log, (std::vector<std::string>{"auth=new-access", "id=" + id}));
}

TEST(SilentAuthorization, ValidIdTokenIsTheHintAndExpiredTokensAreDropped) {
    Rig rig;
    const std::string id = MakeIdToken(InOneHour());
    rig.service->Add(Answer::Ok("x#" + TokenAnswer(id)));
    rig.connector->EnsureAuthenticated();
    // Access and id token held and not expired: nothing is sent.
    rig.connector->EnsureAuthenticated();
    ASSERT_EQ(rig.service->sent.size(), 1u);
    EXPECT_FALSE(Contains(rig.service->sent[0].url, "id_token_hint"));

    // Renewal with the id token as hint; this answer's id token expired already.
    const std::string expired = MakeIdToken(static_cast<int64_t>(::time(nullptr)) - 60);
    rig.service->Add(Answer::Ok("x#" + TokenAnswer(expired)));
    rig.connector->Authenticate();
    ASSERT_EQ(rig.service->sent.size(), 2u);
    EXPECT_TRUE(Contains(rig.service->sent[1].url,
                         "&id_token_hint=" + id + "&response_mode=fragment&prompt=none"));

    // The expired id token is wiped, so the access token alone does not do.
    rig.service->Add(Answer::Ok("x#" + TokenAnswer(id)));
    rig.connector->EnsureAuthenticated();
    ASSERT_EQ(rig.service->sent.size(), 3u);
    EXPECT_FALSE(Contains(rig.service->sent[2].url, "id_token_hint"));
    EXPECT_EQ(rig.connector->IdToken().value, id);
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
    RegPutString(std::string(kModuleOptionsSection) + "AuthApp", "/opt/app/authapp");
    Rig rig;
    rig.service->Add(Answer::Ok("x#error=login_required"));
    const std::string id = MakeIdToken(InOneHour());
    rig.browser.answers.push_back(TokenAnswer(id));
    EXPECT_EQ(rig.connector->GetAccessToken(), "new-access");
    ASSERT_EQ(rig.browser.commands.size(), 1u);
    EXPECT_EQ(rig.browser.commands[0], "/opt/app/authapp \"" + kAuthorizePrefix +
                                           kEncodedRedirectUri + "&resource=" + kResource +
                                           "&response_mode=form_post\"");
}

TEST(InteractiveSignIn, RefusedInSilentModeAndOverPlainHttp) {
    Rig rig;
    rig.connector->SetSilent(true);
    KelException e = CaughtKelException([&] { rig.connector->SignInInteractive(""); });
    EXPECT_EQ(e.code(), codes::kSilentContext);
    EXPECT_TRUE(Contains(e.what(), "Cannot create interactive window in silent mode"));

    FakeBrowser browser;
    KelContainerConnector plain("http://auth.test/a", kSignUrl, "", browser.Runner());
    e = CaughtKelException([&] { plain.SignInInteractive(""); });
    EXPECT_EQ(e.code(), codes::kHttpRestricted);
    EXPECT_TRUE(browser.commands.empty());
}

TEST(InteractiveSignIn, ReportsMissingApplicationAndFailures) {
    nimbex_test::TempEnv env;
    Rig rig;
    KelException e = CaughtKelException([&] { rig.connector->SignInInteractive("T"); });
    EXPECT_TRUE(
        Contains(e.what(), "Cannot find the configuration parameter with path to OAuth2Client"));
    EXPECT_TRUE(rig.browser.commands.empty());

    RegPutString(std::string(kModuleOptionsSection) + "AuthApp", "app");
    e = CaughtKelException([&] { rig.connector->SignInInteractive("T"); });  // runner fails
    EXPECT_EQ(e.code(), codes::kFail);
    EXPECT_TRUE(Contains(e.what(), "Cannot get auth token from the OAuth2 client"));

    rig.browser.answers.push_back("error=access_denied&error_description=cancelled_by_user");
    e = CaughtKelException([&] { rig.connector->SignInInteractive("T"); });
    EXPECT_EQ(e.code(), codes::kCancelled);

    rig.browser.answers.push_back("garbage\x01\x02 without pairs");
    e = CaughtKelException([&] { rig.connector->SignInInteractive("T"); });
    EXPECT_EQ(e.code(), codes::kFail);
    EXPECT_TRUE(Contains(e.what(), "access_token"));
    EXPECT_TRUE(rig.connector->AccessToken().value.empty());
}

TEST(InteractiveSignIn, AnswerFailingHalfWayKeepsWhatWasDecoded) {
    nimbex_test::TempEnv env;
    RegPutString(std::string(kModuleOptionsSection) + "AuthApp", "app");
    Rig rig;
    rig.connector->SetIdToken("old-id");
    auto saver = boost::make_shared<MemorySaver>();
    saver->conf = "old-conf";
    rig.connector->SetAuthTokenSaver(saver);
    rig.browser.answers.push_back("access_token=fresh&expires_in=60&id_token=no-dots");
    const KelException e = CaughtKelException([&] { rig.connector->SignInInteractive(""); });
    EXPECT_TRUE(Contains(e.what(), "Wrong \"id_token\" value. Cannot parse the value."));
    EXPECT_EQ(rig.connector->AccessToken().value, "fresh");
    EXPECT_FALSE(IsExpired(rig.connector->AccessToken().expiry));
    EXPECT_EQ(rig.connector->IdToken().value, "no-dots");
    EXPECT_EQ(rig.connector->ConfToken().value, "old-conf");
}

TEST(InteractiveSignIn, KeepsConfirmationTokenFromTheAnswer) {
    nimbex_test::TempEnv env;
    RegPutString(std::string(kModuleOptionsSection) + "AuthApp", "app");
    Rig rig;
    rig.browser.answers.push_back(TokenAnswer(MakeIdToken(InOneHour())) +
                                  "&conf_token=ct&conf_token_expires_in=600");
    rig.connector->SignInInteractive("T-5");
    EXPECT_EQ(rig.connector->ConfToken().value, "ct");
    EXPECT_TRUE(Contains(rig.browser.commands[0], "&kel_transaction_token_id=T-5&"));
}

TEST(SendRequest, FailureWithCurrentTokensRenewsAndResendsOnce) {
    Rig rig;
    auto signer = boost::make_shared<CountingSigner>();
    rig.connector->SetMessageSignatureCreator(signer);
    rig.connector->SetCredentials("u", "p");
    rig.connector->SetAccessToken("old");
    const std::string url = std::string(kSignBase) + "/rest/api/transactions";
    std::vector<std::string> headers = {"Authorization: Bearer old", "VL-Signature: stale",
                                        "Content-Type: application/json; charset=utf-8",
                                        "Content-Length: 2"};
    rig.service->Add(Answer::Status(401));
    rig.service->Add(Answer::Ok(R"({"access_token":"new","expires_in":60})"));
    rig.service->Add(Answer::Ok("\"tx\""));

    EXPECT_EQ(rig.connector->SendRequest(url, headers, "{}"), "\"tx\"");
    ASSERT_EQ(rig.service->sent.size(), 3u);
    EXPECT_EQ(rig.service->sent[0].headers[0], "Authorization: Bearer old");
    EXPECT_EQ(rig.service->sent[1].url, std::string(kAuthBase) + "/oauth/token");
    const SentRequest& again = rig.service->sent[2];
    EXPECT_EQ(again.url, url);
    EXPECT_EQ(again.body, "{}");
    ASSERT_EQ(again.headers.size(), 4u);
    EXPECT_EQ(again.headers[0], "Authorization: Bearer new");
    EXPECT_EQ(again.headers[1], "Content-Type: application/json; charset=utf-8");
    EXPECT_EQ(again.headers[2], "Content-Length: 2");
    EXPECT_EQ(again.headers[3], "VL-Signature: n=1 url=" + url +
                                    " lines=3|Authorization|Content-Type|Content-Length body=2");
    EXPECT_EQ(signer->count, 1);
}

TEST(SendRequest, SecondFailurePassesToTheCaller) {
    Rig rig;
    rig.connector->SetCredentials("u", "p");
    rig.connector->SetAccessToken("old");
    std::vector<std::string> headers = {"Authorization: Bearer old"};
    rig.service->Add(Answer::Status(500));
    rig.service->Add(Answer::Ok(R"({"access_token":"new","expires_in":60})"));
    rig.service->Add(Answer::Status(503));
    const KelException e = CaughtKelException(
        [&] { rig.connector->SendRequest(std::string(kSignBase) + "/x", headers, ""); });
    EXPECT_TRUE(Contains(e.what(), "Server code: 503"));
    EXPECT_EQ(rig.service->sent.size(), 3u);
    EXPECT_EQ(headers[0], "Authorization: Bearer new");
}

TEST(SendRequest, FailureWithoutCurrentTokensIsSentOnce) {
    Rig rig;
    rig.connector->SetCredentials("u", "p");
    std::vector<std::string> headers = {"Authorization: Bearer x", "VL-Signature: s"};
    rig.service->Add(Answer::Status(401));
    EXPECT_THROW(rig.connector->SendRequest(std::string(kSignBase) + "/x", headers, ""),
                 KelException);
    EXPECT_EQ(rig.service->sent.size(), 1u);
    EXPECT_EQ(headers[1], "VL-Signature: s");
}

TEST(SendRequest, WithoutBearerOrSignatureLinesNoneIsAdded) {
    Rig rig;
    rig.connector->SetCredentials("u", "p");
    rig.connector->SetMessageSignatureCreator(boost::make_shared<CountingSigner>());
    rig.connector->SetIdToken("id");
    std::vector<std::string> headers = {"Content-Length: 0"};
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
    RegPutString(std::string(kModuleOptionsSection) + "AuthApp", "/bin/authapp");
    Rig rig;
    rig.connector->SetAccessToken("keep");
    rig.browser.answers = {"error_message=cancelled_by_user", "error_message=internal_error",
                           "code=1"};
    rig.connector->SignOut();
    EXPECT_EQ(rig.browser.commands[0],
              std::string("/bin/authapp \"") + kAuthBase + "/Authentication/SignOut\"");
    EXPECT_EQ(rig.connector->AccessToken().value, "keep");

    KelException e = CaughtKelException([&] { rig.connector->SignOut(); });
    EXPECT_EQ(e.code(), codes::kFail);
    EXPECT_TRUE(Contains(
        e.what(), "Unexpected code was return from browser app for DropAuth: internal_error"));
    e = CaughtKelException([&] { rig.connector->SignOut(); });
    EXPECT_TRUE(Contains(e.what(), "There is no code in browser app resonse for DropAuth"));
    e = CaughtKelException([&] { rig.connector->SignOut(); });  // the application fails
    EXPECT_TRUE(Contains(e.what(), "Cannot perform SignOut command"));

    rig.connector->SetSilent(true);
    e = CaughtKelException([&] { rig.connector->SignOut(); });
    EXPECT_EQ(e.code(), codes::kSilentContext);
    EXPECT_EQ(rig.browser.commands.size(), 4u);
    EXPECT_TRUE(rig.service->sent.empty());
}
