// The reader context in this process (the module's classes linked in),
// driven by the CSP host: the connector that select_service configures,
// checked against the local signature service, and PIN acquisition through
// the host's PIN callback.
#include <gtest/gtest.h>

#include <boost/pointer_cast.hpp>

#include "KelContainerConnectorTestPeer.h"
#include "ReaderContainerFixture.h"
#include "TestCertificates.h"
#include "config/RegistryAccess.h"
#include "reader/CloudReaderContext.h"
#include "reader/PinAcquisition.h"

namespace {

using csphost::Host;
using csphost::Session;

CloudReaderContext& ContextOf(const Session& session) {
    return *static_cast<CloudReaderContext*>(session.context());
}

boost::shared_ptr<KelContainerConnector> ConnectorOf(const Session& session) {
    return boost::dynamic_pointer_cast<KelContainerConnector>(ContextOf(session).connector);
}

class ReaderService : public nimbex_test::ReaderContainerFixture,
                      public ::testing::WithParamInterface<bool> {
  protected:
    // The service saved without credentials: they come through set_media_param.
    void SetUp() override {
        SaveService("local-v1");
        DeleteCredentials(entry.name);
        SetModuleOption(kOptionShouldSaveAuthToken, 1);
    }
};

// Credentials saved through set_media_param reach the password grant of the
// next selection; the tokens go to the host's protected store (local context)
// or to the registry (requests signed through the host's HMAC: ReaderSigningTest).
TEST_P(ReaderService, SelectServiceConfiguresTheConnector) {
    const bool localContext = GetParam();
    csphost::HostOptions options = Options();
    options.localContext = localContext;
    Host host(cloud_reader_get_table(), options);
    InstallCloudCertificateFromBytes(nimbex_test::MakeCertificate(nimbex_test::KeyKind::Ec, "c", 1),
                                     "c", entry, 1, 0, {}, false, nullptr, 0, AT_SIGNATURE);
    {
        Session first = host.Open(size_t(0));
        first.OpenContainer("c");  // credentials are taken with a container open
        first.SetUserName("demo");
        first.SetPassword("demo-password");
    }
    Session session = host.Open(size_t(0));
    session.Lock();
    boost::shared_ptr<KelContainerConnector> connector = ConnectorOf(session);
    ASSERT_TRUE(connector);
    EXPECT_EQ(KelContainerConnectorTestPeer(*connector).Login(), "demo");
    connector->EnsureAuthenticated();
    const std::string token(connector->AccessToken().value);
    session.Unlock();

    const Json::Value log = service.requestLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0]["path"].asString(), "/local-v1-auth/oauth/token");
    EXPECT_NE(log[0]["body"].asString().find("username=demo&password=demo-password"),
              std::string::npos)
        << log[0]["body"];

    csphost::FileProtectedStore& store = host.callbacks().store();
    std::vector<unsigned char> saved;
    EXPECT_EQ(store.Get(false, urls.auth + "_auth_token_magic", saved), localContext);
    EXPECT_EQ(std::string(saved.begin(), saved.end()), localContext ? token + '\0' : "");
    EXPECT_EQ(LoadSecret(urls.name + "_access_token"), localContext ? "" : token);

    // Selecting the selected service again keeps the connector.
    session.Select(0);
    EXPECT_EQ(ConnectorOf(session), connector);
}

INSTANTIATE_TEST_SUITE_P(LocalContextOrRegistry, ReaderService, ::testing::Bool());

using PinAcquisition = nimbex_test::ReaderContainerFixture;

TEST_F(PinAcquisition, ThroughTheHostsCallback) {
    Host host(cloud_reader_get_table(), Options());
    Session session = host.Open();
    const std::string utf8Pin = "\xD0\xBF\xD0\xB8\xD0\xBD-\xE2\x82\xAC-\xF0\x9F\x94\x91";
    const std::string longest(64, '7'), tooLong(65, '7');
    struct Case {
        const char* pin;  // null: no PIN available
        uint32_t expected;
        std::string result;
    } cases[] = {
        {"1234", 0, "1234"},           {nullptr, 0x252D1230, ""}, {utf8Pin.c_str(), 0, utf8Pin},
        {longest.c_str(), 0, longest}, {tooLong.c_str(), 87, ""}, {"", 0, ""},
    };
    for (const Case& c : cases) {
        c.pin ? setenv("NIMBEX_TEST_PIN", c.pin, 1) : unsetenv("NIMBEX_TEST_PIN");
        SecretString pin = "old";
        EXPECT_EQ(AcquirePin(ContextOf(session), pin), c.expected) << (c.pin ? c.pin : "(none)");
        EXPECT_EQ(pin, c.result);  // emptied on failure
    }
    // With no PIN needed nothing is asked; without a PIN callback: 87.
    unsetenv("NIMBEX_TEST_PIN");
    ContextOf(session).noPinNeeded = true;
    SecretString pin = "old";
    EXPECT_EQ(AcquirePin(ContextOf(session), pin), 0u);
    EXPECT_EQ(pin, "");
    ContextOf(session).host.callbacks.pinRequest = nullptr;
    EXPECT_EQ(AcquirePin(ContextOf(session), pin), 87u);
}

}  // namespace
