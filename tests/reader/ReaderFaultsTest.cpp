// Service faults through the built libnimbex.so: writing a container's
// extensions first asks the service for the certificate's id by thumbprint;
// that request meets the local service's fault injection. Each fault gives
// its code, the cloud lock is free afterwards (another process takes it),
// and the same call succeeds once the fault has cleared.
#include <nimbex/reader.h>
#include <signal.h>

#include "ChildProcess.h"
#include "ReaderContainerFixture.h"

namespace {

using csphost::Host;
using csphost::HostError;
using csphost::Session;

struct FaultCase {
    const char* what;
    nimbex_test::LocalServiceFault fault;
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

    // A forked process takes the cloud lock and gives it back within 20 s.
    static bool AnotherProcessTakesTheLock(const csphost::HostOptions& options) {
        const pid_t child = fork();
        if (child == 0) {
            alarm(20);
            try {
                Host host(NIMBEX_MODULE_PATH, options);
                Session session = host.Open();
                session.Lock();
                session.Unlock();
            } catch (const HostError&) {
                _exit(2);
            }
            _exit(0);
        }
        const int status = nimbex_test::WaitExit(child);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    uint32_t WriteExtensions(Session& session) {
        try {
            session.WriteFile(CLOUD_FILE_EXTENSIONS, {4, 2});
            return 0;
        } catch (const HostError& e) {
            return e.code();
        }
    }
};

TEST_P(ReaderFaults, GivesItsCodeLeavesTheLockFreeAndClears) {
    const FaultCase& c = GetParam();
    nimbex_test::LocalServiceFault fault = c.fault;
    fault.pathContains = "certificates?thumbprint";
    Host host(NIMBEX_MODULE_PATH, Options());
    Session session = host.Open(urls.name);
    session.OpenContainer("signing");
    service.injectFault(fault);
    session.Lock();
    EXPECT_EQ(WriteExtensions(session), c.code);
    session.Unlock();
    const Json::Value log = service.requestLog();
    ASSERT_FALSE(log.empty());
    EXPECT_TRUE(log[log.size() - 1].isMember("fault")) << "the lookup met the fault";
    EXPECT_TRUE(AnotherProcessTakesTheLock(Options()));

    service.reset();
    session.Lock();
    EXPECT_EQ(WriteExtensions(session), 0u);
    session.Unlock();
    const std::string api = PathOf(urls.sign) + "/rest/api/";
    const std::vector<std::string> requests = Requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests.back(), "POST " + api + "keys/1/params");
    EXPECT_EQ(requests[requests.size() - 2].rfind("GET " + api + "certificates?thumbprint=", 0),
              0u);
}

nimbex_test::LocalServiceFault Fault(int status, const std::string& body, bool drop,
                                     unsigned delayMs) {
    nimbex_test::LocalServiceFault fault;
    fault.status = status;
    fault.body = body;
    fault.drop = drop;
    fault.delayMs = delayMs;
    return fault;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ReaderFaults,
    ::testing::Values(FaultCase{"server_error", Fault(503, "", false, 0), 0x80090020},
                      FaultCase{"dropped", Fault(0, "", true, 0), 12030},
                      FaultCase{"slow", Fault(0, "", false, 2000), 12002},
                      FaultCase{"malformed", Fault(200, "[{\"ID\": ", false, 0), 0x80090020}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.what; });

// An access token that expired on the service: with the tokens saved the
// request is sent again after a new sign-in (the saved password) and the
// call succeeds; without, the token is renewed only by its own expiry, so
// the service's refusal is the answer until a new context signs in afresh.
TEST_F(ReaderFaults, ExpiredToken) {
    for (const bool saved : {true, false}) {
        SCOPED_TRACE(saved ? "tokens saved" : "tokens not saved");
        SetModuleOption(kOptionShouldSaveAuthToken, saved);
        Host host(NIMBEX_MODULE_PATH, Options());
        Session session = host.Open(urls.name);
        session.OpenContainer("signing");
        session.Lock();
        EXPECT_EQ(WriteExtensions(session), 0u);
        service.reset();
        service.expireTokens("access");
        EXPECT_EQ(WriteExtensions(session), saved ? 0u : 0x80090020u);
        session.Unlock();
        const std::string params = "POST " + PathOf(urls.sign) + "/rest/api/keys/1/params";
        std::vector<std::string> expected{params};
        if (saved)
            expected.insert(expected.end(), {"POST " + PathOf(urls.auth) + "/oauth/token", params});
        EXPECT_EQ(Requests(), expected);
        EXPECT_TRUE(AnotherProcessTakesTheLock(Options()));
        Session fresh = host.Open(urls.name);
        fresh.OpenContainer("signing");
        fresh.Lock();
        EXPECT_EQ(WriteExtensions(fresh), 0u);
        fresh.Unlock();
    }
}

}  // namespace
