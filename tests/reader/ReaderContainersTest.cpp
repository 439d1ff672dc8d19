// Containers and their files through the built libnimbex.so, driven by the
// CSP host, over certificates of the local signature service linked in the
// user's store.
#include <nimbex/reader.h>

#include "ReaderContainerFixture.h"

namespace {

using csphost::Host;
using csphost::HostError;
using csphost::Session;

constexpr uint32_t kRsaKey = 1, kEcKey = 2;

class ReaderContainers : public nimbex_test::ReaderContainerFixture {
  protected:
    void SetUp() override { SaveService("local-v2"); }

    uint32_t Open(Host& host, Session& session, const char* name, uintptr_t flags = 0) {
        CloudOpenContainerRecord record{name ? strlen(name) : 0, name, 0, flags};
        return host.module().Call(CLOUD_OPEN_CONTAINER, session.context(), &record);
    }
};

TEST_F(ReaderContainers, OpenCloseAndPendingCreation) {
    Link("signing", kRsaKey, AT_SIGNATURE, kRsaKey);
    Host host(NIMBEX_MODULE_PATH, Options());
    Session session = host.Open(size_t(0));
    const uintptr_t create = CLOUD_OPEN_CONTAINER_CREATE;
    EXPECT_EQ(Open(host, session, "absent"), 2u);
    EXPECT_EQ(Open(host, session, ""), 87u);
    CloudOpenContainerRecord tooLong{4097, "signing", 0, 0};
    EXPECT_EQ(host.module().Call(CLOUD_OPEN_CONTAINER, session.context(), &tooLong), 87u);
    EXPECT_EQ(host.module().Call(CLOUD_OPEN_CONTAINER, session.context(), nullptr), 87u);
    EXPECT_EQ(Open(host, session, "signing", create), 0x8009000Fu) << "exists";
    CloudMediaParamRecord certificateId{CLOUD_PARAM_CERTIFICATE_ID, 5, nullptr};
    EXPECT_EQ(host.module().Call(CLOUD_SET_MEDIA_PARAM, session.context(), &certificateId),
              0x252D1303u)
        << "the existing container was not kept open";
    session.OpenContainer("signing");
    EXPECT_EQ(Open(host, session, "signing", create), 0u) << "the open one, even with create";
    EXPECT_EQ(Open(host, session, nullptr), 0u) << "a null name closes";
    EXPECT_EQ(host.module().Call(CLOUD_CLOSE_CONTAINER, nullptr, nullptr), 87u);

    EXPECT_EQ(Open(host, session, "new-key", create), 0u);
    EXPECT_EQ(Open(host, session, "new-key"), 0u);
    EXPECT_EQ(Open(host, session, "signing"), 0x80090020u) << "a creation is pending";
    session.CloseContainer();
    EXPECT_EQ(Open(host, session, "signing"), 0x80090020u) << "the pending name survives a close";
    EXPECT_TRUE(service.requestLog().empty()) << "opening asks nothing of the service";
}

}  // namespace
