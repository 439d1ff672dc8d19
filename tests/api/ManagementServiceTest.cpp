// The exports that reach a service, through the built module against the
// local signature service over HTTPS: discovery (with bad documents served
// through fault injection), the certificate enumeration and its size-query
// protocol, installation with the link, the removal of stale links, sign-out.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <boost/make_shared.hpp>
#include <string>
#include <vector>

#include "LinkedStore.h"
#include "LocalService.h"
#include "ManagementApi.h"
#include "TempEnv.h"
#include "TestCertificates.h"
#include "config/ContainerNaming.h"
#include "config/ModuleOptions.h"
#include "config/RegistryAccess.h"
#include "config/SavedCredentials.h"
#include "config/ServerSettings.h"
#include "container/CloudCertificateLink.h"
#include "operations/KelContainerConnector.h"

namespace {

using nimbex_test::LocalServiceFault;

class ManagementService : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("NIMBEX_CA_FILE", svc.caFile().c_str(), 1);
        RegPutString(std::string(kModuleOptionsSection) + "AuthApp",
                     nimbex_test::LocalService::authAppPath());
    }
    void TearDown() override { unsetenv("NIMBEX_CA_FILE"); }

    CloudServerSettings Record(const std::string& service, const char* name) {
        const nimbex_test::LocalServiceUrls& u = svc.service(service);
        CloudServerSettings r{};
        r.name = name;
        r.authUrl = u.auth.c_str();
        r.signUrl = u.sign.c_str();
        r.userName = "demo";
        r.password = "demo-password";
        return r;
    }
    // "name sign docstore" of every entry the discovery enumeration hands out.
    std::vector<std::string> Discovered(uint32_t* openResult) {
        CloudServerSettingsEnum* e = nullptr;
        *openResult = m.CloudServerSettingsEnumOpenFromDiscovery(svc.discoveryUrl().c_str(), &e);
        std::vector<std::string> out;
        CloudServerSettings s{};
        while (e && m.ExtendedCloudServerSettingsEnumNext(e, 2, &s) == 0)
            out.push_back(std::string(s.name) + " " + s.signUrl + " " + s.docstoreUrl);
        m.CloudServerSettingsEnumClose(e);
        return out;
    }
    // The linked certificates of the user's store "My", as "service/container" (read as the
    // command-line tool reads them).
    std::vector<std::string> Linked() {
        std::vector<std::string> out;
        for (const nimbex_cli::LinkedCertificate& c : nimbex_cli::ReadLinkedCertificates(false))
            out.push_back(c.service + "/" + c.container);
        return out;
    }

    nimbex_test::TempEnv env;
    nimbex_test::LocalService svc;
    nimbex_cli::ManagementApi m{NIMBEX_MODULE_PATH};  // as the command-line tool loads it
};

TEST_F(ManagementService, DiscoveryListsTheServicesAndTheUpdateStoresOnlyUnknownOnes) {
    const nimbex_test::LocalServiceUrls& v1 = svc.service("local-v1");
    const nimbex_test::LocalServiceUrls& v2 = svc.service("local-v2");
    std::string upperV1 = v1.sign;
    for (char& ch : upperV1) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
    SaveServerSettings(ServerSettings("mine", v1.auth, upperV1), true);
    svc.reset();
    uint32_t open = 0;
    EXPECT_EQ((std::vector<std::string>{"No unique " + v2.sign + " " + v2.docstore,
                                        "mine " + v1.sign + " "}),
              Discovered(&open));
    EXPECT_EQ(0u, open);
    const Json::Value log = svc.requestLog();
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ("GET /.well-known/kel-configuration/services.json",
              log[0]["method"].asString() + " " + log[0]["target"].asString());

    m.UpdateCloudServerSettingsUsingDiscovery(svc.discoveryUrl().c_str());
    m.UpdateCloudServerSettingsUsingDiscovery(nullptr);
    const std::vector<ServerSettings> user = EnumServerSettings(false);
    ASSERT_EQ(1u, user.size());
    EXPECT_EQ(MakeServiceId(v2.sign), user[0].name);
    EXPECT_EQ(v2.docstore, user[0].docstoreUrl);
    EXPECT_EQ(upperV1, FindServerSettings("mine", kServerParamName).restUrl);
}

TEST_F(ManagementService, BadDiscoveryDocumentsAreRefusedOrSkipped) {
    const std::string good =
        R"({"iscloudsupported": false, "cloud": {"idpaddress": "https://h/a/",)"
        R"( "ssaddress": "https://h/s/", "istest": true}})";
    struct Case {
        int status;
        std::string body;
        uint32_t open;
        size_t listed;
    } cases[] = {
        {200, "not json", 0x80090020, 0},
        {200, R"({"cloud": {}})", 0x80090020, 0},
        {200, "[]", 2, 0},
        {200, "null", 2, 0},
        {200,
         "[1, \"x\", {\"iscloudsupported\": true, \"cloud\": 5}, " + good +
             R"(, {"iscloudsupported": true, "cloud": {"idpaddress": "https://h/a/",)"
             R"( "ssaddress": "https://h", "istest": true}})"
             R"(, {"iscloudsupported": true, "cloud": {"idpaddress": "https://h/a/",)"
             R"( "ssaddress": "https://h/s/", "istest": "true"}}])",
         0, 1},
        {404, "{}", 0x80090020, 0},  // HTTP status without a service error
    };
    for (const Case& c : cases) {
        LocalServiceFault fault;
        fault.status = c.status;
        fault.body = c.body;
        fault.pathContains = "services.json";
        svc.injectFault(fault);
        uint32_t open = 0;
        const std::vector<std::string> listed = Discovered(&open);
        EXPECT_EQ(c.open, open) << c.body;
        EXPECT_EQ(c.listed, listed.size()) << c.body;
    }
}

TEST_F(ManagementService, CertificatesComeWithTheSizeQueryProtocolAndInstallWithTheirLink) {
    const nimbex_test::LocalServiceUrls& v2 = svc.service("local-v2");
    {
        KelContainerConnector c(v2.auth, v2.sign, v2.docstore);
        c.SetSilent(true);
        c.SetCredentials("demo", "demo-password");
        c.SetContainerExtensions(1, {1, 2, 3});
        c.SetKeyPermissions(1, 0x30);
    }
    CloudServerSettings record = Record("local-v2", "fresh");
    KelCertificatesEnum* e = nullptr;
    svc.reset();
    ASSERT_EQ(0u, m.KelCertificatesEnumOpen(&record, &e));
    std::string requests;
    for (const Json::Value& r : svc.requestLog())
        requests += r["method"].asString() + " " + r["target"].asString() + "\n";
    std::string expected = "POST /local-v2-auth/oauth/token\nGET /local-v2/rest/api/certificates\n";
    // Keys 3 and 4 are the GOST keys, there when the service has the engine.
    const int keys = svc.readyLine()["gost"]["available"].asBool() ? 4 : 2;
    for (int id = 1; id <= keys; ++id)
        for (const char* param : {"container_extensions", "key_permissions", "KeySpec"})
            expected += "GET /local-v2/rest/api/keys/" + std::to_string(id) +
                        "/params?param=" + param + "\n";
    EXPECT_EQ(expected, requests);

    CloudCertificateInfo info{};
    ASSERT_EQ(0u, m.KelCertificateEnumNext(e, &info));  // sizes only
    EXPECT_GT(info.certificateLength, 100u);
    EXPECT_EQ(3u, info.containerExtensionsLength);
    EXPECT_EQ(0u, info.certificateId);
    std::vector<uint8_t> cert(info.certificateLength - 1), ext(3);
    char name[32] = "unchanged";
    info.certificate = cert.data();
    info.certificateLength = static_cast<uint32_t>(cert.size());
    info.containerExtensions = ext.data();
    info.friendlyName = name;
    info.friendlyNameCapacity = 12;  // "Demo RSA key" is 12 characters: no room for the NUL
    ASSERT_EQ(234u, m.KelCertificateEnumNext(e, &info));
    EXPECT_EQ(cert.size() + 1, info.certificateLength);
    EXPECT_STREQ("unchanged", name);
    cert.resize(info.certificateLength);
    info.certificate = cert.data();
    info.containerExtensionsLength = 2;
    EXPECT_EQ(234u, m.KelCertificateEnumNext(e, &info));
    EXPECT_EQ(3u, info.containerExtensionsLength);
    uint32_t hasPin = 0;
    ASSERT_EQ(0u, m.KelCertificateEnumHasPin(e, &hasPin));
    EXPECT_EQ(1u, hasPin);
    ASSERT_EQ(0u, m.KelCertificateEnumNext(e, &info));
    EXPECT_EQ((std::vector<uint32_t>{1, 0x30, 1}),
              (std::vector<uint32_t>{info.certificateId, info.keyPermissions, info.keySpec}));
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), ext);
    EXPECT_STREQ("", name);

    CloudCertificateInfo second{};
    std::vector<uint8_t> cert2(4096);
    second.certificate = cert2.data();
    second.certificateLength = 4096;
    second.friendlyName = name;
    second.friendlyNameCapacity = sizeof(name);
    second.containerExtensionsLength = 99;
    ASSERT_EQ(0u, m.KelCertificateEnumNext(e, &second));
    EXPECT_EQ(2u, second.certificateId);
    EXPECT_EQ(0u, second.containerExtensionsLength);
    EXPECT_STREQ("Demo EC key", name);
    for (int id = 3; id <= keys; ++id) {
        second.certificateLength = 4096;
        second.friendlyNameCapacity = sizeof(name);
        ASSERT_EQ(0u, m.KelCertificateEnumNext(e, &second));
        EXPECT_EQ(uint32_t(id), second.certificateId);
    }
    EXPECT_EQ(259u, m.KelCertificateEnumNext(e, &second));
    m.KelCertificatesEnumClose(e);

    // Installing stores the new service first and the caller's credentials after.
    info.certificateId = 0;
    EXPECT_EQ(87u, m.SetCloudCertificateToStore(&record, &info, nullptr, 0, nullptr, 0));
    info.certificateId = 1;
    ASSERT_EQ(0u, m.SetCloudCertificateToStore(&record, &info, nullptr, 0, nullptr, 0));
    EXPECT_TRUE(FindServerSettings("fresh", kServerParamName).isValid);
    EXPECT_EQ("demo", LoadUserName("fresh"));
    const std::string container = MakeContainerName(v2.sign, 1);
    EXPECT_EQ(std::vector<std::string>{"fresh/" + container}, Linked());

    char formed[41];
    uint32_t size = 0;
    EXPECT_EQ(0u, m.FormContainerName(&record, 1, nullptr, &size));
    EXPECT_EQ(41u, size);
    size = 40;
    EXPECT_EQ(234u, m.FormContainerName(&record, 1, formed, &size));
    EXPECT_EQ(41u, size);
    EXPECT_EQ(0u, m.FormContainerName(&record, 1, formed, &size));
    EXPECT_EQ(container, formed);
    EXPECT_EQ(87u, m.FormContainerName(&record, 1, formed, nullptr));
}

TEST_F(ManagementService, StaleLinksAreRemovedOnlyFromAServiceOfTheSecondApiVersion) {
    const nimbex_test::LocalServiceUrls& v1 = svc.service("local-v1");
    const nimbex_test::LocalServiceUrls& v2 = svc.service("local-v2");
    for (const auto* u : {&v1, &v2}) {
        const ServerSettings entry(u->name, u->auth, u->sign);
        SaveServerSettings(entry, false);
        SaveUserName(u->name, SecretString("demo"));
        SavePassword(u->name, SecretString("demo-password"));
        const std::vector<unsigned char> stale =
            nimbex_test::MakeCertificate(nimbex_test::KeyKind::Ec, "stale " + u->name, 9);
        ASSERT_EQ(0u, InstallCloudCertificateFromBytes(stale, "gone", entry, 9, 0, {}, false,
                                                       nullptr, 0, 2));
    }
    KelContainerConnector c(v2.auth, v2.sign, v2.docstore);
    c.SetCredentials("demo", "demo-password");
    c.SetSilent(true);
    const ServerSettings v2Entry("local-v2", v2.auth, v2.sign);
    ASSERT_EQ(0u, InstallCloudCertificateFromBytes(c.GetCertificate(1).certificate, "kept", v2Entry,
                                                   1, 0, {}, false, nullptr, 0, 1));

    EXPECT_EQ(0x80090029u, m.UpdateCloudCertificates("local-v1"));
    EXPECT_EQ(3u, Linked().size());
    EXPECT_EQ(0u, m.UpdateCloudCertificates("local-v2"));
    EXPECT_EQ((std::vector<std::string>{"local-v1/gone", "local-v2/kept"}), Linked());
    EXPECT_EQ(87u, m.UpdateCloudCertificates("unknown"));
}

TEST_F(ManagementService, SignOutDeletesTheSavedCredentialsAndKeptTokensAndRefusesHalfARecord) {
    CloudServerSettings record = Record("local-v2", "local-v2");
    ASSERT_EQ(0u, m.SaveCloudServerSettings(&record, 0));
    record.signUrl = nullptr;
    svc.reset();
    EXPECT_EQ(87u, m.KelDropAuthCookies(&record));
    EXPECT_EQ(0u, svc.requestLog().size());
    record.authUrl = nullptr;
    // Saved tokens go only when tokens are kept; saved credentials go either way.
    for (int32_t keepTokens : {0, 1}) {
        SetModuleOption(kOptionShouldSaveAuthToken, keepTokens);
        SaveSecret("local-v2_access_token", SecretString("token"));
        SaveUserName("local-v2", SecretString("demo"));
        EXPECT_EQ(0u, m.KelDropAuthCookies(&record));
        EXPECT_EQ(keepTokens ? "" : "token", std::string(LoadSecret("local-v2_access_token")));
        EXPECT_EQ("", LoadUserName("local-v2"));
        EXPECT_EQ("", LoadPassword("local-v2"));
    }
}

}  // namespace
