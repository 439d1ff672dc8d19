// The store link cache and the enumeration of containers per service.
#include <gtest/gtest.h>

#include "ContainerTestSupport.h"
#include "TempEnv.h"
#include "container/CloudCertStoreContainerEnumerator.h"
#include "container/CloudStoreLink.h"

using namespace nimbex_test;

namespace {

std::vector<std::string> Names(CloudStoreLink* link, const ServerSettings& service,
                               bool machine = false) {
    CloudCertStoreContainerEnumerator e(link, service, machine);
    std::vector<std::string> names;
    while (!e.ended()) {
        auto item = e.next();
        EXPECT_EQ(service.name, item->service());
        names.push_back(item->name());
    }
    EXPECT_EQ(259u, CaughtKelException([&] { e.next(); }).code());
    return names;
}

}  // namespace

TEST(CloudStoreLink, EmptyWithoutAStoreOrLinks) {
    TempEnv env;
    ServerSettings a = StoredService("a");
    CloudStoreLink link;
    EXPECT_TRUE(Names(&link, a).empty());
    EXPECT_FALSE(link.IsOpen());
    EXPECT_KEL_THROW(CloudCertStoreContainerEnumerator e(nullptr, a, false), 87u,
                     "Cloud exception: You did not set the certificate cache");
    // A store with only unlinked certificates.
    ASSERT_TRUE(AddToUserStore(CreateContext(MakeCertificate(KeyKind::Rsa, "plain", 1)).get()));
    link.Reset();
    EXPECT_TRUE(Names(&link, a).empty());
    EXPECT_TRUE(link.IsOpen());
}

TEST(CloudStoreLink, ServicesInStoreOrderAndCacheUntilReset) {
    TempEnv env;
    ServerSettings a = StoredService("a"), ab = StoredService("ab"), b = StoredService("b");
    InstallLinked(a, "a1", 1);
    InstallLinked(b, "b1", 2);
    InstallLinked(ab, "ab1", 3);
    InstallLinked(a, "a2", 4);
    InstallLinked(a, "a0", 5);
    CloudStoreLink link;
    EXPECT_EQ((std::vector<std::string>{"a1", "a2", "a0"}), Names(&link, a));
    EXPECT_EQ(std::vector<std::string>{"b1"}, Names(&link, b));
    EXPECT_EQ(std::vector<std::string>{"ab1"}, Names(&link, ab));
    EXPECT_TRUE(Names(&link, ServerSettings("A", "https://x/", "https://y/")).empty());

    // A certificate installed later is seen only after a reset.
    InstallLinked(a, "a3", 6);
    EXPECT_EQ(3u, Names(&link, a).size());
    link.Reset();
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ((std::vector<std::string>{"a1", "a2", "a0", "a3"}), Names(&link, a));
}

TEST(CloudStoreLink, ScopesAndOldLinks) {
    TempEnv env;
    ServerSettings a = StoredService("a");
    InstallLinked(a, "user", 1);
    InstallLinked(a, "machine", 2, 1, "cn", true);
    CloudStoreLink user, machine;
    EXPECT_EQ(std::vector<std::string>{"user"}, Names(&user, a, false));
    EXPECT_FALSE(user.machine());
    EXPECT_EQ(std::vector<std::string>{"machine"}, Names(&machine, a, true));
    EXPECT_TRUE(machine.machine());
    // Once open, the link keeps its scope.
    EXPECT_EQ(std::vector<std::string>{"user"}, Names(&user, a, true));

    // An old link naming no service is listed under the service with its
    // REST URL (compared without case); one with an unknown URL is left out.
    auto text = [](const std::string& s) { return Bytes(s.c_str(), s.c_str() + s.size() + 1); };
    for (const std::string& url : {std::string("HTTPS://SIGN.A/api"), std::string("https://x/")}) {
        Bytes der = MakeCertificate(KeyKind::Ec, "old", url.size());
        CertContextHandle c = CreateContext(der);
        ServerSettings unnamed;  // an old link: "CLOUD\\<container>"
        ASSERT_EQ(0u, InstallCloudCertificate(c.get(), "old" + std::to_string(url.size()), unnamed,
                                              {CloudLinkParam(kLinkRestUrl, text(url))}, false,
                                              nullptr, 0, 2));
    }
    user.Reset();
    EXPECT_EQ((std::vector<std::string>{"user", "old18"}), Names(&user, a));
    EXPECT_EQ(2u, user.items().size());
}
