// The connector's sign-in, renewal, confirmation and sign-out against the
// local signature service over HTTPS; the exact requests are read back from
// the service's request log.
#include <gtest/gtest.h>
#include <json/json.h>
#include <stdlib.h>

#include <boost/make_shared.hpp>
#include <cstring>
#include <map>
#include <memory>

#include "KelAssertions.h"
#include "KelContainerConnectorTestPeer.h"
#include "LocalService.h"
#include "TempEnv.h"
#include "auth/AuthTokenRegistrySaver.h"
#include "auth/AuthTokenSaverLocalCtx.h"
#include "base/ErrorCodes.h"
#include "config/ModuleOptions.h"
#include "config/RegistryAccess.h"
#include "config/SavedCredentials.h"
#include "operations/KelContainerConnector.h"

using nimbex_test::LocalService;

namespace {

using nimbex_test::CaughtKelException;
using nimbex_test::Contains;
using nimbex_test::EndsWith;

const char kUser[] = "demo";
const char kPassword[] = "demo-password";

// "METHOD path" of every logged request, for sequence checks.
std::vector<std::string> Sequence(const Json::Value& log) {
    std::vector<std::string> out;
    for (const Json::Value& r : log)
        out.push_back(r["method"].asString() + " " + r["path"].asString());
    return out;
}

Json::Value ParseBody(const Json::Value& entry) {
    Json::Value v;
    Json::Reader().parse(entry["body"].asString(), v);
    return v;
}

// A protected store kept by the test (callback words 11 to 13).
std::map<std::string, std::string>* g_store = nullptr;

uint32_t StoreSet(uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t,
                  uintptr_t, uintptr_t machine, const char* name, const unsigned char* value,
                  uintptr_t length) {
    (*g_store)[std::to_string(machine) + name].assign(reinterpret_cast<const char*>(value), length);
    return 0;
}

uint32_t StoreGet(uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t,
                  uintptr_t, uintptr_t machine, const char* name, unsigned char* buffer,
                  uint32_t* length) {
    auto it = g_store->find(std::to_string(machine) + name);
    if (it == g_store->end()) return 2;
    if (buffer) {
        if (*length < it->second.size()) return 234;
        std::memcpy(buffer, it->second.data(), it->second.size());
    }
    *length = static_cast<uint32_t>(it->second.size());
    return 0;
}

uint32_t StoreDelete(uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t,
                     uintptr_t, uintptr_t machine, const char* name) {
    g_store->erase(std::to_string(machine) + name);
    return 0;
}

class AuthService : public ::testing::Test {
  protected:
    void SetUp() override {
        service.reset(new LocalService());
        setenv("NIMBEX_CA_FILE", service->caFile().c_str(), 1);
        unsetenv("NIMBEX_AUTHAPP_MODE");
        unsetenv("NIMBEX_AUTHAPP_ERROR");
        unsetenv("NIMBEX_AUTHAPP_CONFIG");
        RegPutString(std::string(kModuleOptionsSection) + "AuthApp", LocalService::authAppPath());
        g_store = &storeValues;
        store.host.callbacks.storeSet = StoreSet;
        store.host.callbacks.storeGet = StoreGet;
        store.host.callbacks.storeDelete = StoreDelete;
        store.handle = 1;
    }
    void TearDown() override {
        unsetenv("NIMBEX_CA_FILE");
        unsetenv("NIMBEX_AUTHAPP_MODE");
        unsetenv("NIMBEX_AUTHAPP_ERROR");
        g_store = nullptr;
    }

    boost::shared_ptr<KelContainerConnector> Connect(const std::string& name = "local-v2") {
        const nimbex_test::LocalServiceUrls& urls = service->service(name);
        auto c = boost::make_shared<KelContainerConnector>(urls.auth, urls.sign, urls.docstore);
        c->SetTimeout(30000);
        return c;
    }

    // The path of an auth server or sign server request of a service.
    std::string AuthPath(const std::string& name, const std::string& tail) {
        return "/" + name + "-auth" + tail;
    }

    nimbex_test::TempEnv env;
    std::unique_ptr<LocalService> service;
    std::map<std::string, std::string> storeValues;
    ProtectedStore store{};
};

}  // namespace

TEST_F(AuthService, PasswordGrantAndPolicy) {
    auto c = Connect();
    c->SetSilent(true);
    c->SetCredentials(kUser, kPassword);
    const std::string token = c->GetAccessToken();
    ASSERT_FALSE(token.empty());
    Json::Value settings;
    settings["policy"]["mfa"]["SignDocument"] = true;
    service->configure(settings);
    EXPECT_TRUE(c->IsMfaRequired("SignDocument"));
    EXPECT_FALSE(c->IsMfaRequired("ChangePin"));
    EXPECT_FALSE(c->IsMfaRequired("NoSuchAction"));

    const Json::Value log = service->requestLog();
    ASSERT_EQ(log.size(), 2u);
    const Json::Value& grant = log[0];
    EXPECT_EQ(grant["method"].asString(), "POST");
    EXPECT_EQ(grant["path"].asString(), AuthPath("local-v2", "/oauth/token"));
    const std::string body =
        "grant_type=password&username=demo&password=demo-password&scope=kel"
        "&client_id=veltra.cloud.csp&resource=" +
        service->service("local-v2").resource;
    EXPECT_EQ(grant["body"].asString(), body);
    EXPECT_EQ(grant["headers"]["content-type"].asString(), "application/json; charset=utf-8");
    EXPECT_EQ(grant["headers"]["content-length"].asString(), std::to_string(body.size()));
    EXPECT_FALSE(grant["headers"].isMember("authorization"));

    EXPECT_EQ(log[1]["method"].asString(), "GET");
    EXPECT_EQ(log[1]["path"].asString(), "/local-v2/rest/api/policy");
    EXPECT_EQ(log[1]["headers"]["authorization"].asString(), "Bearer " + token);
}

TEST_F(AuthService, ApiVersionProbe) {
    EXPECT_TRUE(Connect("local-v2")->HasApiVersion2());
    auto v1 = Connect("local-v1");
    EXPECT_TRUE(v1->HasApiVersion1());
    EXPECT_FALSE(v1->HasApiVersion2());
    const Json::Value log = service->requestLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_FALSE(log[0]["headers"].isMember("authorization"));
    EXPECT_EQ(log[1]["path"].asString(), "/local-v1/rest/api/apiversion");
}

TEST_F(AuthService, InteractiveSignInSavesTokensInTheRegistry) {
    auto saver = boost::make_shared<AuthTokenRegistrySaver>("local-v2", nullptr, 0);
    auto c = Connect();
    c->SetAuthTokenSaver(saver);
    const std::string token = c->GetAccessToken();
    ASSERT_FALSE(token.empty());
    EXPECT_FALSE(KelContainerConnectorTestPeer(*c).IdToken().value.empty());
    EXPECT_TRUE(KelContainerConnectorTestPeer(*c).TokensCurrent());
    EXPECT_EQ(LoadSecret("local-v2_access_token"), token);
    EXPECT_EQ(LoadSecret("local-v2_id_token"), KelContainerConnectorTestPeer(*c).IdToken().value);

    // Silent authorization failed first (no hint), then the browser application signed in.
    const std::vector<std::string> seq = Sequence(service->requestLog());
    ASSERT_GE(seq.size(), 2u);
    EXPECT_EQ(seq[0], "GET " + AuthPath("local-v2", "/oauth/authorize"));
    const Json::Value log = service->requestLog();
    EXPECT_TRUE(Contains(log[0]["target"].asString(), "&response_mode=fragment&prompt=none"));
    EXPECT_TRUE(Contains(log[1]["target"].asString(), "&response_mode=form_post"));
    EXPECT_TRUE(Contains(log[1]["target"].asString(), "&sign_api_version=2"));

    // A second connector uses the saved tokens without asking the auth server.
    service->reset();
    auto again = Connect();
    again->SetSilent(true);
    again->SetAuthTokenSaver(boost::make_shared<AuthTokenRegistrySaver>("local-v2", nullptr, 0));
    EXPECT_EQ(again->GetAccessToken(), token);
    EXPECT_FALSE(again->IsMfaRequired("ChangePin"));
    EXPECT_EQ(Sequence(service->requestLog()),
              (std::vector<std::string>{"GET /local-v2/rest/api/policy"}));

    again->DropTokens();
    EXPECT_EQ(LoadSecret("local-v2_access_token"), "");
    EXPECT_EQ(LoadSecret("local-v2_id_token"), "");
}

TEST_F(AuthService, SilentAuthorizationWithTheIdToken) {
    auto first = Connect();
    first->SignInInteractive("");
    const std::string id(KelContainerConnectorTestPeer(*first).IdToken().value);
    ASSERT_FALSE(id.empty());
    service->reset();

    // Only an id token: the silent authorization brings a new access token.
    auto c = Connect();
    c->SetSilent(true);
    c->SetIdToken(id);
    c->Authenticate();
    EXPECT_FALSE(c->AccessToken().value.empty());
    Json::Value log = service->requestLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(Contains(log[0]["target"].asString(), "&id_token_hint=" + id +
                                                          "&response_mode=fragment&prompt=none"
                                                          "&sign_api_version=2"));

    // Only the login, with the user's session still open on the auth server.
    service->reset();
    auto byLogin = Connect();
    byLogin->SetSilent(true);
    byLogin->SetCredentials(kUser, "");
    EXPECT_FALSE(byLogin->GetAccessToken().empty());
    log = service->requestLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(EndsWith(log[0]["target"].asString(),
                         "&response_mode=fragment&prompt=none&sign_api_version=2&login_hint=demo"));
}

TEST_F(AuthService, ExpiredTokenIsRenewedAndTheRequestRepeated) {
    auto saver = boost::make_shared<AuthTokenSaverLocalCtx>("https://auth", &store, 0);
    auto c = Connect();
    c->SetSilent(true);
    c->SetCredentials(kUser, kPassword);
    c->SetAuthTokenSaver(saver);
    const std::string old = c->GetAccessToken();
    EXPECT_EQ(storeValues["0https://auth_auth_token_magic"], old + std::string(1, '\0'));

    // A connector over the saved token; the service lets the token expire.
    auto later = Connect();
    later->SetSilent(true);
    later->SetCredentials(kUser, kPassword);
    later->SetAuthTokenSaver(saver);
    ASSERT_TRUE(KelContainerConnectorTestPeer(*later).TokensCurrent());
    service->expireTokens("access");
    service->reset();
    EXPECT_FALSE(later->IsMfaRequired("SignDocument"));

    const Json::Value log = service->requestLog();
    EXPECT_EQ(Sequence(log),
              (std::vector<std::string>{"GET /local-v2/rest/api/policy",
                                        "POST " + AuthPath("local-v2", "/oauth/token"),
                                        "GET /local-v2/rest/api/policy"}));
    const std::string renewed(later->AccessToken().value);
    EXPECT_NE(renewed, old);
    EXPECT_EQ(log[0]["headers"]["authorization"].asString(), "Bearer " + old);
    EXPECT_EQ(log[2]["headers"]["authorization"].asString(), "Bearer " + renewed);
    EXPECT_EQ(storeValues["0https://auth_auth_token_magic"], renewed + std::string(1, '\0'));
}

TEST_F(AuthService, FailedRequestWithCurrentTokensIsSentOnceMore) {
    auto c = Connect();
    c->SetSilent(true);
    c->SetCredentials(kUser, kPassword);
    c->SetAuthTokenSaver(boost::make_shared<AuthTokenRegistrySaver>("local-v2", &store, 0));
    c->GetAccessToken();
    ASSERT_TRUE(KelContainerConnectorTestPeer(*c).TokensCurrent());
    service->reset();
    nimbex_test::LocalServiceFault fault;
    fault.status = 503;
    fault.body = "busy";
    fault.pathContains = "/rest/api/policy";
    service->injectFault(fault);
    EXPECT_FALSE(c->IsMfaRequired("SignDocument"));
    EXPECT_EQ(Sequence(service->requestLog()),
              (std::vector<std::string>{"GET /local-v2/rest/api/policy",
                                        "POST " + AuthPath("local-v2", "/oauth/token"),
                                        "GET /local-v2/rest/api/policy"}));

    // Without current tokens the failure is the caller's.
    auto plain = Connect();
    plain->SetCredentials(kUser, kPassword);
    plain->GetAccessToken();
    service->reset();
    service->injectFault(fault);
    EXPECT_THROW(plain->IsMfaRequired("SignDocument"), KelException);
    EXPECT_EQ(service->requestLog().size(), 1u);
}

TEST_F(AuthService, TextChallengeIsPolledForATransaction) {
    Json::Value settings;
    settings["confirmation"]["challenge"] = "text";
    settings["confirmation"]["polls"] = 1;
    service->configure(settings);
    auto saver = boost::make_shared<AuthTokenRegistrySaver>("local-v1", &store, 0);
    auto c = Connect("local-v1");
    c->SetSilent(true);
    c->SetCredentials(kUser, kPassword);
    c->SetAuthTokenSaver(saver);
    c->EnsureAuthenticated();
    service->reset();

    c->ConfirmTransaction("DeleteCertificate", 2);

    const Json::Value log = service->requestLog();
    EXPECT_EQ(Sequence(log),
              (std::vector<std::string>{"POST /local-v1/rest/api/transactions",
                                        "POST " + AuthPath("local-v1", "/confirmation"),
                                        "POST " + AuthPath("local-v1", "/confirmation"),
                                        "POST " + AuthPath("local-v1", "/confirmation")}));
    const Json::Value tx = ParseBody(log[0]);
    EXPECT_EQ(tx["OperationCode"].asString(), "DeleteCertificate");
    EXPECT_EQ(tx["Parameters"][0]["Name"].asString(), "CertificateID");
    EXPECT_EQ(tx["Parameters"][0]["Value"].asString(), "2");
    const Json::Value first = ParseBody(log[1]);
    EXPECT_FALSE(first["TransactionTokenId"].asString().empty());
    EXPECT_EQ(first["Resource"].asString(), service->service("local-v1").resource);
    const Json::Value answer = ParseBody(log[2]);
    EXPECT_FALSE(
        answer["ChallengeResponse"]["TextChallengeResponse"][0]["RefId"].asString().empty());
    EXPECT_EQ(ParseBody(log[3]), answer);  // the same answer polled again
    EXPECT_FALSE(KelContainerConnectorTestPeer(*c).ConfToken().value.empty());
    EXPECT_EQ(saver->LoadConfToken(), KelContainerConnectorTestPeer(*c).ConfToken().value);

    // With the confirmation token the next confirmation is final at once.
    service->reset();
    c->ConfirmTransaction("DeleteCertificate", 2);
    const Json::Value next = service->requestLog();
    ASSERT_EQ(next.size(), 2u);
    EXPECT_FALSE(ParseBody(next[1])["ConfToken"].asString().empty());
}

TEST_F(AuthService, ChoiceChallengeOnTheVersion2Endpoint) {
    Json::Value settings;
    settings["confirmation"]["challenge"] = "choice";
    settings["confirmation"]["polls"] = 0;
    settings["confirmation"]["method"] =
        "http://schemas.veltra.ru/kel/authenticationmethod/simauth";
    service->configure(settings);
    auto c = Connect("local-v2");
    c->SetSilent(true);
    c->SetCredentials(kUser, kPassword);
    c->EnsureAuthenticated();
    service->reset();
    c->ConfirmOperation("");
    const Json::Value log = service->requestLog();
    ASSERT_EQ(log.size(), 3u);
    for (const Json::Value& r : log)
        EXPECT_EQ(r["path"].asString(), AuthPath("local-v2", "/v2.0/confirmation"));
    const Json::Value choice = ParseBody(log[1])["ChallengeResponse"]["ChoiceChallengeResponse"][0];
    EXPECT_EQ(choice["ChoiceSelected"][0]["RefId"].asString(),
              "http://schemas.veltra.ru/kel/authenticationmethod/simauth");
    EXPECT_TRUE(ParseBody(log[2])["ChallengeResponse"].isMember("TextChallengeResponse"));
    EXPECT_FALSE(c->AccessToken().value.empty());
}

TEST_F(AuthService, RefusedConfirmationTokenRestarts) {
    // Silent: the restart is another silent confirmation without the token.
    auto c = Connect("local-v2");
    c->SetSilent(true);
    c->SetCredentials(kUser, kPassword);
    Json::Value settings;
    settings["confirmation"]["polls"] = 0;
    service->configure(settings);
    c->EnsureAuthenticated();
    // A confirmation token handed in after sign-in (one loaded before would
    // count as expired: loaded tokens carry no expiry time).
    auto saver = boost::make_shared<AuthTokenRegistrySaver>("local-v2", &store, 0);
    saver->SaveConfToken("not-a-token");
    c->SetAuthTokenSaver(saver);
    service->reset();
    c->ConfirmOperation("");
    Json::Value log = service->requestLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(ParseBody(log[0])["ConfToken"].asString(), "not-a-token");
    EXPECT_FALSE(ParseBody(log[1]).isMember("ConfToken"));
    EXPECT_NE(saver->LoadConfToken(), "not-a-token");

    // Not silent: the restart is the sign-in through the browser application.
    auto interactive = Connect("local-v2");
    interactive->SetCredentials(kUser, kPassword);
    interactive->EnsureAuthenticated();
    saver->SaveConfToken("not-a-token");
    interactive->SetAuthTokenSaver(saver);
    service->reset();
    interactive->ConfirmOperation("");
    log = service->requestLog();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0]["path"].asString(), AuthPath("local-v2", "/v2.0/confirmation"));
    EXPECT_TRUE(Contains(log[1]["target"].asString(), "/oauth/authorize?"));
    EXPECT_TRUE(Contains(log[1]["target"].asString(), "&response_mode=form_post"));
}

TEST_F(AuthService, SilentConnectorRefusesInteraction) {
    auto c = Connect();
    c->SetSilent(true);
    KelException e = CaughtKelException([&] { c->GetAccessToken(); });
    EXPECT_EQ(e.code(), codes::kSilentContext);
    EXPECT_TRUE(Contains(e.what(), "Cannot get user credentials in silent mode"));
    // Only the silent authorization went out.
    EXPECT_EQ(Sequence(service->requestLog()),
              (std::vector<std::string>{"GET " + AuthPath("local-v2", "/oauth/authorize")}));
    e = CaughtKelException([&] { c->SignInInteractive(""); });
    EXPECT_EQ(e.code(), codes::kSilentContext);
    e = CaughtKelException([&] { c->SignOut(); });
    EXPECT_EQ(e.code(), codes::kSilentContext);
}

TEST_F(AuthService, BrowserApplicationFailuresAndCancellation) {
    auto c = Connect();
    setenv("NIMBEX_AUTHAPP_MODE", "fail", 1);
    KelException e = CaughtKelException([&] { c->SignInInteractive(""); });
    EXPECT_TRUE(Contains(e.what(), "Cannot get auth token from the OAuth2 client"));
    setenv("NIMBEX_AUTHAPP_MODE", "cancel", 1);
    e = CaughtKelException([&] { c->SignInInteractive(""); });
    EXPECT_EQ(e.code(), codes::kCancelled);
    EXPECT_TRUE(c->AccessToken().value.empty());
}

TEST_F(AuthService, SignOut) {
    auto c = Connect();
    c->SignInInteractive("");
    service->reset();
    c->SignOut();
    const Json::Value log = service->requestLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0]["path"].asString(), AuthPath("local-v2", "/Authentication/SignOut"));
    EXPECT_FALSE(c->AccessToken().value.empty());  // sign-out leaves the tokens alone

    setenv("NIMBEX_AUTHAPP_MODE", "error", 1);
    setenv("NIMBEX_AUTHAPP_ERROR", "internal_error", 1);
    const KelException e = CaughtKelException([&] { c->SignOut(); });
    EXPECT_EQ(e.code(), codes::kFail);
    EXPECT_TRUE(Contains(e.what(),
                         "Unexpected code was return from browser app for DropAuth: "
                         "internal_error"));
}
