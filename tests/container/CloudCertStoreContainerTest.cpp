// Containers over linked certificates: lookup, getters, save and remove.
#include <gtest/gtest.h>

#include "ContainerTestSupport.h"
#include "TempEnv.h"
#include "container/CloudCertStoreContainer.h"

using namespace nimbex_test;

namespace {

struct Fixture {
    TempEnv env;
    ServerSettings svc = StoredService("svc");
    CloudStoreLink link;

    CloudCertStoreContainer Open(const std::string& name, bool machine = false) {
        return CloudCertStoreContainer(name, &link, svc, machine);
    }
};

}  // namespace

TEST(CloudCertStoreContainer, LookupOutcomes) {
    Fixture f;
    // What the getters read from the link: ReaderContainersTest, through the reader's files,
    // key information and requests.
    InstallLinked(f.svc, "c1", 1);
    CloudCertStoreContainer c = f.Open("c1");
    EXPECT_EQ(0u, c.status());
    EXPECT_EQ("c1", c.name());
    EXPECT_FALSE(c.placeholder());
    EXPECT_FALSE(c.machine());

    EXPECT_EQ(2u, f.Open("C1").status());  // names are compared exactly
    EXPECT_EQ(2u, f.Open("missing").status());
    EXPECT_EQ(87u, f.Open("").status());
    EXPECT_EQ(87u, CaughtKelException([&] {
                       CloudCertStoreContainer x("c1", nullptr, f.svc, false);
                   }).code());
    // The same name in the machine store is another container.
    CloudStoreLink machineLink;
    EXPECT_EQ(2u, CloudCertStoreContainer("c1", &machineLink, f.svc, true).status());
}

TEST(CloudCertStoreContainer, ServiceMustBeStoredAndFirstCertificateWins) {
    Fixture f;
    ServerSettings gone("gone", "https://a/", "https://b/");
    InstallLinked(gone, "c", 1);
    EXPECT_EQ(2u, CloudCertStoreContainer("c", &f.link, gone, false).status());

    Bytes first = InstallLinked(f.svc, "twin", 2, 5);
    InstallLinked(f.svc, "twin", 3, 6);
    f.link.Reset();
    CloudCertStoreContainer c = f.Open("twin");
    EXPECT_EQ(first, c.certificate());
    EXPECT_EQ(5u, c.certificate_id());
}

TEST(CloudCertStoreContainer, LinkParametersIncludingOldOnes) {
    Fixture f;
    auto text = [](const std::string& s) { return Bytes(s.c_str(), s.c_str() + s.size() + 1); };
    Bytes der = MakeCertificate(KeyKind::Ec, "p", 1);
    CertContextHandle cert = CreateContext(der);
    ASSERT_EQ(0u, InstallCloudCertificate(
                      cert.get(), "c", f.svc,
                      {CloudLinkParam(kLinkExtensions, {1, 2}), CloudLinkParam(77, {9}),
                       CloudLinkParam(kLinkAuthUrl, text("https://old-auth/")),
                       CloudLinkParam(kLinkRestUrl, text("https://old-sign/")),
                       CloudLinkParam(kLinkExtensions, {3}),
                       CloudLinkParam(kLinkCertificateId, {1, 2})},  // too short: ignored
                      false, L"P", 75, AT_KEYEXCHANGE));
    CloudCertStoreContainer c = f.Open("c");
    ASSERT_EQ(0u, c.status());
    EXPECT_EQ((Bytes{1, 2, 3}), c.extensions());
    // The service entry the container was opened with replaces the servers
    // an old link carries.
    EXPECT_EQ(f.svc.authUrl, c.auth_server());
    EXPECT_EQ(f.svc.restUrl, c.sign_server());
    EXPECT_EQ(0u, c.key_permissions());
    // No id in the link: not asked yet, returned as it is.
    EXPECT_EQ(0xFFFFFFFFu, c.certificate_id());
    c.set_certificate_id(0xFFFFFFFE);
    EXPECT_KEL_THROW(c.certificate_id(), 2u,
                     "Cloud exception: The requested certificate id is wrong");
    c.set_auth_server("");
    EXPECT_KEL_THROW(c.auth_server(), 2u,
                     "Cloud exception: The requested authentication server is wrong");
    c.set_sign_server("");
    EXPECT_EQ(2u, CaughtKelException([&] { c.sign_server(); }).code());
    c.set_certificate({});
    EXPECT_KEL_THROW(c.certificate(), 2u, "Cloud exception: The requested certificate is wrong");
}

TEST(CloudCertStoreContainer, SaveRewritesTheLink) {
    Fixture f;
    Bytes der = MakeCertificate(KeyKind::Rsa, "s", 1);
    ASSERT_EQ(0u, InstallCloudCertificateFromBytes(der, "c", f.svc, 0xFFFFFFFF, 0, {}, false,
                                                   L"Prov", 24, AT_SIGNATURE));
    CloudCertStoreContainer c = f.Open("c");
    c.set_certificate_id(77);
    c.set_key_permissions(3);
    c.set_extensions({5, 6, 7});
    // Setters alone change nothing in the store.
    f.link.Reset();
    EXPECT_EQ(0xFFFFFFFFu, f.Open("c").certificate_id());
    c.save();
    f.link.Reset();
    CloudCertStoreContainer again = f.Open("c");
    EXPECT_EQ(77u, again.certificate_id());
    EXPECT_EQ(3u, again.key_permissions());
    EXPECT_EQ((Bytes{5, 6, 7}), again.extensions());
    // The provider and the KeySpec of the link are kept.
    CertContextHandle stored = FindStored(der);
    PropertyBuffer info;
    ASSERT_TRUE(info.Read(stored.get(), CERT_KEY_PROV_INFO_PROP_ID));
    EXPECT_STREQ(L"Prov", info.KeyProvInfo()->pwszProvName);
    EXPECT_EQ(24u, info.KeyProvInfo()->dwProvType);
    EXPECT_EQ(AT_SIGNATURE, info.KeyProvInfo()->dwKeySpec);

    // The certificate vanished: save fails, the container is not marked.
    ASSERT_TRUE(CertDeleteCertificateFromStore(FindStored(der).release()));
    EXPECT_KEL_THROW(c.save(), 0x80090020u, "Cloud exception: The container was deleted");
    EXPECT_FALSE(c.deleted());
}

TEST(CloudCertStoreContainer, RemoveUnlinksOrDeletes) {
    Fixture f;
    Bytes kept = InstallLinked(f.svc, "kept", 1, 1, "Someone");
    Bytes placeholder = InstallLinked(f.svc, "placeholder", 2, 2, "");
    InstallLinked(f.svc, "real", 3, 3, "Someone");

    CloudCertStoreContainer c = f.Open("kept");
    c.remove(false);
    EXPECT_TRUE(c.deleted());
    EXPECT_EQ(2u, c.status());  // the store afterwards: ReaderContainersTest.DeleteContainer
    EXPECT_KEL_THROW(c.certificate(), 0x8009000Bu,
                     "Cloud exception: The requested container is deleted");
    for (auto getter : std::vector<std::function<void()>>{
             [&] { c.auth_server(); }, [&] { c.sign_server(); }, [&] { c.certificate_id(); },
             [&] { c.key_permissions(); }, [&] { c.extensions(); }})
        EXPECT_EQ(0x8009000Bu, CaughtKelException(getter).code());
    EXPECT_EQ("kept", c.name());
    EXPECT_EQ(AT_KEYEXCHANGE, c.key_spec());
    c.remove(true);  // nothing more happens
    EXPECT_TRUE(FindStored(kept));

    CloudCertStoreContainer p = f.Open("placeholder");
    EXPECT_TRUE(p.placeholder());
    p.remove(false);
    EXPECT_FALSE(FindStored(placeholder));

    CloudCertStoreContainer r = f.Open("real");
    CloudCertStoreContainer twin = f.Open("real");
    r.remove(true);
    // A container whose certificate vanished is just marked deleted.
    twin.remove(false);
    EXPECT_TRUE(twin.deleted());
    EXPECT_EQ(2u, twin.status());
}

TEST(CloudCertStoreContainer, MachineContainers) {
    Fixture f;
    Bytes der = InstallLinked(f.svc, "m", 1, 9, "cn", true);
    CloudCertStoreContainer c = f.Open("m", true);
    ASSERT_EQ(0u, c.status());
    EXPECT_TRUE(c.machine());
    c.set_key_permissions(8);
    c.save();
    PropertyBuffer info;
    ASSERT_TRUE(info.Read(FindStored(der, true).get(), CERT_KEY_PROV_INFO_PROP_ID));
    EXPECT_EQ(0x20u, info.KeyProvInfo()->dwFlags);
    EXPECT_FALSE(FindStored(der, false));
    // Without the store, save and remove report the store's error.
    TempEnv other;
    EXPECT_KEL_THROW(c.save(), ERROR_FILE_NOT_FOUND, "Cloud exception: Cannot open the store");
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, CaughtKelException([&] { c.remove(true); }).code());
    EXPECT_FALSE(c.deleted());
}
