// The HTTP client and the transport against real servers on 127.0.0.1.
#include <gtest/gtest.h>
#include <support/support.h>

#include <atomic>
#include <cstdlib>
#include <set>
#include <thread>

#include "ChildProcess.h"
#include "KelAssertions.h"
#include "LocalService.h"
#include "TempEnv.h"
#include "TestServer.h"
#include "transport/KelUrlRetriever.h"

namespace {

using transport_test::TestServer;

// The code of the failure of a request that must fail.
uint32_t FailureCode(KelUrlRetriever& t, const std::string& url) {
    SCOPED_TRACE(url);
    return nimbex_test::CaughtKelException([&] { t.Request(url, {}, ""); }).code();
}

// A server with the certificate the local signature service makes for 127.0.0.1, shared by
// the tests; the service's CA is trusted only where a test says so.
class HttpsTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        pki = new nimbex_test::LocalService;
        server = new TestServer(ServerFile("server.pem"), ServerFile("server-key.pem"));
    }
    static void TearDownTestSuite() {
        delete server;
        delete pki;
    }
    static std::string ServerFile(const char* name) { return pki->stateDir() + "/" + name; }
    // The client ports of the requests the server saw for `path`.
    static std::set<int> Ports(const std::string& path) {
        std::set<int> ports;
        for (const auto& r : server->Seen())
            if (r.path == path) ports.insert(r.remotePort);
        return ports;
    }

    // The service's CA trusted; a test that must not trust it unsets NIMBEX_CA_FILE.
    void SetUp() override {
        setenv("NIMBEX_CA_FILE", pki->caFile().c_str(), 1);
        server->ClearSeen();
        server->SetAnswer(200, "answer");
    }
    void TearDown() override { unsetenv("NIMBEX_CA_FILE"); }

    static nimbex_test::LocalService* pki;
    static TestServer* server;
    nimbex_test::TempEnv env;
};

nimbex_test::LocalService* HttpsTest::pki = nullptr;
TestServer* HttpsTest::server = nullptr;

TEST_F(HttpsTest, UntrustedCertificateIsRefusedAlsoWhereATrustedConnectionIsPooled) {
    const std::string url = server->Url("/answer");
    unsetenv("NIMBEX_CA_FILE");
    KelUrlRetriever untrusted(0, 0, false, true, true);
    EXPECT_EQ(FailureCode(untrusted, url), 12157u);
    EXPECT_TRUE(server->Seen().empty());
    // A connection kept by a client that trusts the CA does not serve one that does not.
    setenv("NIMBEX_CA_FILE", pki->caFile().c_str(), 1);
    KelUrlRetriever trusting(0, 0, false, true, true);
    EXPECT_EQ(trusting.Request(url, {}, ""), "answer");
    unsetenv("NIMBEX_CA_FILE");
    KelUrlRetriever plain(0, 0, false, true, true);
    EXPECT_EQ(FailureCode(plain, url), 12157u);
    EXPECT_EQ(server->Seen().size(), 1u);
}

// Trust through NIMBEX_CA_FILE: every test against the local signature service.
TEST_F(HttpsTest, TrustedThroughCaFileFromRegistry) {
    unsetenv("NIMBEX_CA_FILE");
    ASSERT_EQ(
        support_registry_put_string("\\config\\KeyDevices\\Cloud\\CAFile", pki->caFile().c_str()),
        0u);
    KelUrlRetriever byRegistry(0, 0, false, true, true);
    EXPECT_EQ(byRegistry.Request(server->Url("/answer"), {}, ""), "answer");

    // An extra CA file that cannot be read trusts nothing.
    setenv("NIMBEX_CA_FILE", (env.root() + "/missing.pem").c_str(), 1);
    KelUrlRetriever broken(0, 0, false, true, true);
    EXPECT_EQ(FailureCode(broken, server->Url("/answer")), 12157u);
}

TEST_F(HttpsTest, HostNameMismatchIsRefused) {
    // A trusted certificate for 127.0.0.1 and localhost, served from 127.0.0.2.
    TestServer wrongName(ServerFile("server.pem"), ServerFile("server-key.pem"), "127.0.0.2");
    KelUrlRetriever t(0, 0, false, true, true);
    EXPECT_EQ(FailureCode(t, wrongName.Url("/answer")), 12157u);
    EXPECT_TRUE(wrongName.Seen().empty());
}

TEST_F(HttpsTest, PlainHttpWhenPermitted) {
    TestServer plainServer;  // plain HTTP
    KelUrlRetriever t(0, 0, true, true, true);
    EXPECT_EQ(t.Request(plainServer.Url("/answer"), {}, ""), "answer");
    EXPECT_EQ(plainServer.Seen().size(), 1u);
}

TEST_F(HttpsTest, TimeoutIsHonoured) {
    KelUrlRetriever t(200, 0, false, true, true);
    EXPECT_EQ(FailureCode(t, server->Url("/sleep")), 12002u);
}

// An error answer with its status and body is what the connector's refusals against the local
// service decode (KeyOperationsService.RefusalsInBothGenerations).
TEST_F(HttpsTest, HttpErrorsWithoutTheirBodyOrNotFailing) {
    server->SetAnswer(404, "nothing");
    UrlRetriever raw;
    raw.set_fail_on_http_error(1);
    raw.set_keep_error_body(0);
    EXPECT_EQ(raw.retrieve_url(server->Url("/answer").c_str()), 0);
    EXPECT_EQ(raw.get_data_length(), 0u);
    raw.reset();  // fail-on-error off: a 404 completes
    EXPECT_NE(raw.retrieve_url(server->Url("/answer").c_str()), 0);
    EXPECT_EQ(raw.get_http_status(), 404);
}

TEST_F(HttpsTest, KeepAliveReusesOneConnectionAcrossInstances) {
    KelUrlRetriever t(0, 0, false, true, true);
    for (int i = 0; i < 5; ++i) t.Request(server->Url("/ping"), {}, "");
    for (int i = 0; i < 5; ++i)
        KelUrlRetriever(0, 0, false, true, true).Request(server->Url("/ping"), {}, "");
    EXPECT_EQ(Ports("/ping").size(), 1u);
    KelUrlRetriever closing(0, 0, false, false, true);
    for (int i = 0; i < 5; ++i) closing.Request(server->Url("/close"), {}, "");
    EXPECT_EQ(Ports("/close").size(), 5u);
}

// A redirect elsewhere answers its target: the silent sign-in of
// AuthService.SignInThroughTheApplicationThenSilently.
TEST_F(HttpsTest, RedirectsWithinTheServerAreFollowedUpToFive) {
    KelUrlRetriever t(0, 0, false, true, true);
    EXPECT_EQ(t.Request(server->Url("/redirect/same"), {}, ""), "answer");
    KelUrlRetriever noFollow(0, 0, false, true, false);
    EXPECT_EQ(noFollow.Request(server->Url("/redirect/same"), {}, ""), server->Url("/answer"));

    server->ClearSeen();
    EXPECT_EQ(FailureCode(t, server->Url("/redirect/loop")), 12156u);
    EXPECT_EQ(server->Seen().size(), 6u);  // the request and five redirects
}

TEST_F(HttpsTest, ForkedChildConnectsAfresh) {
    KelUrlRetriever t(0, 0, false, true, true);
    t.Request(server->Url("/parent"), {}, "");
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int rc = 0;
        try {
            if (t.Request(server->Url("/child"), {}, "") != "ok") rc = 1;
            KelUrlRetriever fresh(0, 0, false, true, true);
            if (fresh.Request(server->Url("/child"), {}, "") != "ok") rc = 2;
        } catch (...) {
            rc = 3;
        }
        _exit(rc);
    }
    EXPECT_EQ(nimbex_test::WaitExit(pid), 0);  // exited with 0
    EXPECT_EQ(t.Request(server->Url("/parent"), {}, ""), "ok");

    const std::set<int> parent = Ports("/parent"), child = Ports("/child");
    EXPECT_EQ(parent.size(), 1u);  // the parent's connection survived
    ASSERT_EQ(child.size(), 1u);
    EXPECT_EQ(parent.count(*child.begin()), 0u);
}

TEST_F(HttpsTest, ErrorLevelReportsFailuresWithoutSecrets) {
    unsetenv("NIMBEX_CA_FILE");
    const std::string log = env.root() + "/http.log";
    setenv("NIMBEX_LOG", log.c_str(), 1);
    KelUrlRetriever t(0, 1, false, true, true);
    const std::string url = server->Url("/answer");
    EXPECT_EQ(nimbex_test::CaughtKelException([&] {
                  t.Request(url + "?code=SECRET1#frag", {"Authorization: Bearer SECRET2"},
                            "pw=SECRET3");
              }).code(),
              12157u);
    unsetenv("NIMBEX_LOG");
    const std::string text = nimbex_test::FileText(log);
    EXPECT_NE(text.find("POST " + url + " failed: code 12157, status 0"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("SECRET"), std::string::npos) << text;
}

TEST_F(HttpsTest, ClientsInSeveralThreadsShareSafely) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int n = 0; n < 4; ++n) {
        threads.emplace_back([&failures] {
            for (int i = 0; i < 25; ++i) {
                try {
                    KelUrlRetriever t(5000, 0, false, i % 5 != 0, true);
                    if (t.Request(server->Url("/answer"), {}, "") != "answer") ++failures;
                } catch (const std::exception&) {
                    ++failures;
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST_F(HttpsTest, HeaderLinesAndBodyAreSingleUse) {
    UrlRetriever raw;
    raw.set_headers({"Authorization: Bearer tok"});
    raw.set_post_data("password=pw");
    ASSERT_NE(raw.retrieve_url(server->Url("/once").c_str()), 0);
    ASSERT_NE(raw.retrieve_url(server->Url("/again").c_str()), 0);
    std::string seen;  // method, body and number of "Authorization" lines of each request
    for (const auto& r : server->Seen())
        seen +=
            r.method + " " + r.body + " " + std::to_string(r.headers.count("Authorization")) + "\n";
    EXPECT_EQ(seen, "POST password=pw 1\nGET  0\n");
}

TEST_F(HttpsTest, HeaderLineBreaksAreRefused) {
    UrlRetriever raw;
    // A NUL would cut the line short of what the caller built (and signed).
    const std::string lines[] = {"X-A: 1\r\nInjected: 2", "X-A: 1\nInjected: 2", "X-A: 1\r",
                                 std::string("X-A: 1\0Injected: 2", 18)};
    for (const std::string& line : lines) {
        raw.reset();
        raw.set_headers({"Accept: */*", line});
        EXPECT_EQ(raw.retrieve_url(server->Url("/answer").c_str()), 0) << line.size();
        EXPECT_EQ(raw.get_error_code(), 12153u);
    }
    EXPECT_TRUE(server->Seen().empty());
    raw.set_headers({"X-A: 1"});  // replaced lines are checked afresh
    EXPECT_NE(raw.retrieve_url(server->Url("/answer").c_str()), 0);
}

}  // namespace
