// The connector's sign-in against the local signature service over HTTPS: what only a
// real service proves (the browser application, the auth server's sessions, tokens
// saved in the registry). The exact requests of each flow are asserted by the unit tests
// with a scripted client; the confirmation's challenges against the service by
// KeyOperationsServiceTest; an expired token renewed and the request sent again, through
// the module (ReaderFaultsTest).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <boost/make_shared.hpp>
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

class AuthService : public ::testing::Test {
  protected:
    void SetUp() override {
        service.reset(new LocalService());
        setenv("NIMBEX_CA_FILE", service->caFile().c_str(), 1);
        unsetenv("NIMBEX_AUTHAPP_MODE");
        unsetenv("NIMBEX_AUTHAPP_ERROR");
        unsetenv("NIMBEX_AUTHAPP_CONFIG");
        RegPutString(std::string(kModuleOptionsSection) + "AuthApp", LocalService::authAppPath());
    }
    void TearDown() override { unsetenv("NIMBEX_CA_FILE"); }

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
