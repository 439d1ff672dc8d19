// The connector against the local signature service over HTTPS: what only a
// real service proves (the browser application, the auth server's sessions,
// the confirmation endpoints with their real pauses, the token savers over the
// registry and a protected store). The exact requests of each flow are
// asserted by the unit tests with a scripted client; an expired token renewed
// and the request sent again, through the module (ReaderFaultsTest).
#include <gtest/gtest.h>
#include <json/json.h>
#include <stdlib.h>

#include <boost/make_shared.hpp>
#include <cstring>
#include <functional>
#include <map>
#include <memory>

#include "KelContainerConnectorTestPeer.h"
#include "LocalService.h"
#include "TempEnv.h"
#include "auth/AuthTokenRegistrySaver.h"
#include "config/ModuleOptions.h"
#include "config/RegistryAccess.h"
#include "operations/KelContainerConnector.h"

using nimbex_test::LocalService;

namespace {

const char kUser[] = "demo";
const char kPassword[] = "demo-password";

// "METHOD path" of every logged request.
std::vector<std::string> Sequence(const Json::Value& log) {
    std::vector<std::string> out;
    for (const Json::Value& r : log)
        out.push_back(r["method"].asString() + " " + r["path"].asString());
    return out;
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
        g_store = nullptr;
    }

    boost::shared_ptr<KelContainerConnector> Connect(const std::string& name, bool silent,
                                                     const std::string& login = "",
                                                     const std::string& password = "") {
        const nimbex_test::LocalServiceUrls& urls = service->service(name);
        auto c = boost::make_shared<KelContainerConnector>(urls.auth, urls.sign, urls.docstore);
        c->SetTimeout(30000);
        c->SetSilent(silent);
        c->SetCredentials(login, password);
        return c;
    }

    nimbex_test::TempEnv env;
    std::unique_ptr<LocalService> service;
    std::map<std::string, std::string> storeValues;
    ProtectedStore store{};
};

}  // namespace

TEST_F(AuthService, SignInThroughTheApplicationThenSilently) {
    // No password and no session: the browser application signs the user in.
    auto c = Connect("local-v2", false);
    c->SetAuthTokenSaver(boost::make_shared<AuthTokenRegistrySaver>("local-v2", nullptr, 0));
    const SecretString token = c->GetAccessToken();
    ASSERT_FALSE(token.empty());
    EXPECT_FALSE(KelContainerConnectorTestPeer(*c).ConfToken().value.empty());
    const std::string id(KelContainerConnectorTestPeer(*c).IdToken().value);

    // The auth server recognises the user by the id token, and by the login while the
    // session runs.
    auto byId = Connect("local-v2", true);
    byId->SetIdToken(id);
    byId->Authenticate();
    EXPECT_FALSE(byId->AccessToken().value.empty());
    auto byLogin = Connect("local-v2", true, kUser);
    EXPECT_FALSE(byLogin->GetAccessToken().empty());

    // The tokens saved in the registry serve a second connector without the auth server.
    service->reset();
    auto again = Connect("local-v2", true, kUser, kPassword);
    again->SetAuthTokenSaver(boost::make_shared<AuthTokenRegistrySaver>("local-v2", nullptr, 0));
    EXPECT_EQ(again->GetAccessToken(), token);
    EXPECT_EQ(service->requestLog().size(), 0u);
    again->DropTokens();
    EXPECT_EQ(AuthTokenRegistrySaver("local-v2", nullptr, 0).LoadAuthToken(), "");
}

TEST_F(AuthService, ConfirmationIsPolledUntilFinalAndItsTokenReused) {
    const std::string v1Confirm = "POST /local-v1-auth/confirmation";
    const std::string v2Confirm = "POST /local-v2-auth/v2.0/confirmation";
    struct Case {
        const char* service;
        const char* challenge;
        int polls;
        std::function<void(KelContainerConnector&)> confirm;
        std::vector<std::string> first, second;  // the requests of the first and a second run
    };
    const std::vector<Case> cases = {
        // A text challenge answered pending once: one real pause between the polls.
        {"local-v1",
         "text",
         1,
         [](KelContainerConnector& c) { c.ConfirmTransaction("DeleteCertificate", 2); },
         {"POST /local-v1/rest/api/transactions", v1Confirm, v1Confirm, v1Confirm},
         {"POST /local-v1/rest/api/transactions", v1Confirm}},
        {"local-v2",
         "choice",
         0,
         [](KelContainerConnector& c) { c.ConfirmOperation(""); },
         {v2Confirm, v2Confirm, v2Confirm},
         {v2Confirm}},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(t.service);
        Json::Value settings;
        settings["confirmation"]["challenge"] = t.challenge;
        settings["confirmation"]["polls"] = t.polls;
        service->configure(settings);
        auto saver = boost::make_shared<AuthTokenRegistrySaver>(t.service, &store, 0);
        auto c = Connect(t.service, true, kUser, kPassword);
        c->SetAuthTokenSaver(saver);
        c->EnsureAuthenticated();
        service->reset();
        t.confirm(*c);
        EXPECT_EQ(Sequence(service->requestLog()), t.first);
        EXPECT_FALSE(KelContainerConnectorTestPeer(*c).ConfToken().value.empty());
        EXPECT_EQ(saver->LoadConfToken(), KelContainerConnectorTestPeer(*c).ConfToken().value);
        // The confirmation token makes the next confirmation final at once.
        service->reset();
        t.confirm(*c);
        EXPECT_EQ(Sequence(service->requestLog()), t.second);
    }
}
