#include <signal.h>
#include <sys/wait.h>

#include "ServiceTestBase.h"

namespace nimbex_test {
namespace {

using AdminTest = ServiceTest;

TEST_F(AdminTest, ReadyLineNamesBothServicesAndTheDiscoveryDocumentListsThem) {
    EXPECT_EQ(v2().apiVersion, 2);
    EXPECT_FALSE(v2().docstore.empty());
    EXPECT_EQ(v1().apiVersion, 1);
    EXPECT_TRUE(v1().docstore.empty());
    HttpResult r = get(svc().discoveryUrl() + "/.well-known/kel-configuration/services.json");
    ASSERT_EQ(r.status, 200);
    Json::Value doc = json(r.body);
    ASSERT_TRUE(doc.isArray());
    ASSERT_EQ(doc.size(), 2u);
    EXPECT_TRUE(doc[0]["iscloudsupported"].isBool());
    EXPECT_EQ(doc[0]["cloud"]["ssaddress"].asString(), v2().sign);
    EXPECT_EQ(doc[0]["cloud"]["idpaddress"].asString(), v2().auth);
    EXPECT_EQ(doc[0]["cloud"]["docaddress"].asString(), v2().docstore);
    EXPECT_TRUE(doc[0]["cloud"]["istest"].isBool());
    EXPECT_EQ(doc[1]["cloud"]["ssaddress"].asString(), v1().sign);
    EXPECT_FALSE(doc[1]["cloud"].isMember("docaddress"));
}

}  // namespace
}  // namespace nimbex_test
