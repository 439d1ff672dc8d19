// The connector's sign-in against the local signature service over HTTPS: what only a
// real service proves (the browser application, the auth server's sessions). The exact requests of
// each flow are asserted by the unit tests with a scripted client; the confirmation's challenges
// against the service by KeyOperationsServiceTest; an expired token renewed and the request sent
// again, through the module (ReaderFaultsTest).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <boost/make_shared.hpp>

#include "KelContainerConnectorTestPeer.h"
#include "LocalService.h"
#include "TempEnv.h"
#include "config/ModuleOptions.h"
#include "config/RegistryAccess.h"
#include "operations/KelContainerConnector.h"

using nimbex_test::LocalService;

namespace {

class AuthService : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("NIMBEX_CA_FILE", service.caFile().c_str(), 1);
        unsetenv("NIMBEX_AUTHAPP_MODE");
        unsetenv("NIMBEX_AUTHAPP_ERROR");
        unsetenv("NIMBEX_AUTHAPP_CONFIG");
        RegPutString(std::string(kModuleOptionsSection) + "AuthApp", LocalService::authAppPath());
    }
    void TearDown() override { unsetenv("NIMBEX_CA_FILE"); }

    boost::shared_ptr<KelContainerConnector> Connect(bool silent, const std::string& login = "") {
        const nimbex_test::LocalServiceUrls& urls = service.service("local-v2");
        auto c = boost::make_shared<KelContainerConnector>(urls.auth, urls.sign, urls.docstore);
        c->SetTimeout(30000);
        c->SetSilent(silent);
        c->SetCredentials(login, "");
        return c;
    }

    nimbex_test::TempEnv env;
    LocalService service;
};

}  // namespace

TEST_F(AuthService, SignInThroughTheApplicationThenSilently) {
    // No password and no session: the browser application signs the user in.
    auto c = Connect(false);
    ASSERT_FALSE(c->GetAccessToken().empty());
    EXPECT_FALSE(KelContainerConnectorTestPeer(*c).ConfToken().value.empty());
    const std::string id(KelContainerConnectorTestPeer(*c).IdToken().value);

    // The auth server recognises the user by the id token, and by the login while the
    // session runs.
    auto byId = Connect(true);
    byId->SetIdToken(id);
    byId->Authenticate();
    EXPECT_FALSE(byId->AccessToken().value.empty());
    auto byLogin = Connect(true, "demo");
    EXPECT_FALSE(byLogin->GetAccessToken().empty());
}
