// Service faults through the built libnimbex.so: writing a container's
// extensions over a link without a certificate id first asks the service for
// the id by thumbprint, and that request meets the fault. Each fault gives
// its code, the cloud lock is free afterwards (another context takes it),
// and the same call succeeds once the fault has cleared.
#include <nimbex/reader.h>

#include "ReaderContainerFixture.h"

namespace {

using csphost::Host;
using csphost::HostError;
using csphost::Session;
using nimbex_test::LocalServiceFault;

const char* const kLookup = "certificates?thumbprint";

struct FaultCase {
    const char* what;
    LocalServiceFault fault;
    uint32_t code;
};

class ReaderFaults : public nimbex_test::ReaderContainerFixture,
                     public ::testing::WithParamInterface<FaultCase> {
  protected:
    void SetUp() override {
        SaveService("local-v2");
        SetModuleOption(kOptionTimeout, 700);
        Link("signing", 1, AT_SIGNATURE, 0xFFFFFFFF);
    }

    // The extensions written under the cloud lock; the answer.
    static uint32_t WriteExtensions(Session& session) {
        session.Lock();
        const uint32_t rc = CodeOf([&] { session.WriteFile(CLOUD_FILE_EXTENSIONS, {4, 2}); });
        session.Unlock();
        return rc;
    }
};

TEST_P(ReaderFaults, GivesItsCodeLeavesTheLockFreeAndClears) {
    Host host(NIMBEX_MODULE_PATH, Options());
    Session session = host.Open(urls.name);
    session.OpenContainer("signing");
    service.injectFault(GetParam().fault);
    EXPECT_EQ(WriteExtensions(session), GetParam().code);
    const Json::Value log = service.requestLog();
    ASSERT_FALSE(log.empty());
    EXPECT_TRUE(log[log.size() - 1].isMember("fault")) << "the lookup met the fault";
    EXPECT_TRUE(TheLockIsFree(host));

    service.reset();
    EXPECT_EQ(WriteExtensions(session), 0u);  // its requests: ReaderContainersTest
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ReaderFaults,
    ::testing::Values(
        FaultCase{"server_error", LocalServiceFault{1, 503, "", false, 0, kLookup}, 0x80090020},
        FaultCase{"dropped", LocalServiceFault{1, 0, "", true, 0, kLookup}, 12030},
        FaultCase{"slow", LocalServiceFault{1, 0, "", false, 2000, kLookup}, 12002},
        FaultCase{"malformed", LocalServiceFault{1, 200, "[{\"ID\": ", false, 0, kLookup},
                  0x80090020}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.what; });

// An access token that expired on the service: with the tokens saved the
// request is sent again after a new sign-in and succeeds; without, the token
// is renewed only by its own expiry, so the service's refusal is the answer
// until a new context signs in afresh.
TEST_F(ReaderFaults, ExpiredToken) {
    for (const bool saved : {true, false}) {
        SCOPED_TRACE(saved ? "tokens saved" : "tokens not saved");
        SetModuleOption(kOptionShouldSaveAuthToken, saved);
        Host host(NIMBEX_MODULE_PATH, Options());
        Session session = host.Open(urls.name);
        session.OpenContainer("signing");
        EXPECT_EQ(WriteExtensions(session), 0u);
        service.reset();
        service.expireTokens("access");
        EXPECT_EQ(WriteExtensions(session), saved ? 0u : 0x80090020u);
        const std::string params = "POST " + api + "keys/1/params";
        EXPECT_EQ(Requests(), (saved ? std::vector<std::string>{params, token, params}
                                     : std::vector<std::string>{params}));
        EXPECT_TRUE(TheLockIsFree(host));
        Session fresh = host.Open(urls.name);
        fresh.OpenContainer("signing");
        EXPECT_EQ(WriteExtensions(fresh), 0u);
    }
}

}  // namespace
