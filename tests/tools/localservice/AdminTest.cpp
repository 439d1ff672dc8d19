#include <curl/curl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <memory>

#include "ServiceTestBase.h"
#include "TempEnv.h"

namespace nimbex_test {
namespace {

using AdminTest = ServiceTest;
using AdminControlTest = ServiceTest;

TEST_F(AdminControlTest, ResetStateDropsTheTokens) {
    const std::string token = passwordToken(v1());
    EXPECT_EQ(get(v1().sign + "/rest/api/certificates", token).status, 200);
    svc().resetState();
    EXPECT_EQ(get(v1().sign + "/rest/api/certificates", token).status, 401);
}

// A client keeps one connection for many requests, and a connection left open does not hold
// up the stop (the harness kills a service that takes longer than 20 s).
TEST(LocalServiceProcess, KeepsAClientConnectionAndExitsCleanlyOnSigterm) {
    LocalService s;
    std::unique_ptr<CURL, void (*)(CURL*)> handle(curl_easy_init(), curl_easy_cleanup);
    CURL* curl = handle.get();
    const std::string url = s.service("local-v2").sign + "/rest/api/apiversion";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, s.caFile().c_str());
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
    curl_easy_setopt(
        curl, CURLOPT_WRITEFUNCTION, +[](char*, size_t size, size_t n, void*) { return size * n; });
    long connections = 0;
    for (int i = 0; i < 12; ++i) {
        long opened = 0;
        ASSERT_EQ(curl_easy_perform(curl), CURLE_OK);
        curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &opened);
        connections += opened;
    }
    EXPECT_EQ(connections, 1);
    EXPECT_EQ(s.stop(), 0);
}

// The service as a process: state directory, configuration file, plain HTTP.
TEST_F(AdminTest, StateDirectoryKeepsTheCa) {
    const TempDir dir;
    const std::string command = "'" + LocalService::servicePath() + "' --state-dir " + dir.path();
    std::string cas[2];
    for (std::string& ca : cas) {
        FILE* p = popen(command.c_str(), "r");
        char line[8192] = {0};
        ASSERT_TRUE(p && fgets(line, sizeof line, p));
        const Json::Value ready = json(line);
        ca = FileText(ready["caFile"].asString());
        kill(ready["pid"].asInt(), SIGTERM);
        EXPECT_EQ(WEXITSTATUS(pclose(p)), 0);
    }
    EXPECT_FALSE(cas[0].empty());
    EXPECT_EQ(cas[0], cas[1]);
}

TEST_F(AdminTest, ConfigurationFileSetsUsersKeysAndServicesAndPlainHttp) {
    LocalService s(
        R"({"users": [{"login": "alice", "password": "pw", "keys": [{"id": 5, "type": "ec", "pin": "0000"}]}],
                       "services": [{"name": "solo", "apiVersion": 1}]})",
        true);
    ASSERT_EQ(s.services().size(), 1u);
    const LocalServiceUrls& solo = s.service("solo");
    EXPECT_EQ(solo.sign.rfind("http://127.0.0.1:", 0), 0u);
    const std::string token = passwordToken(solo, "alice", "pw");
    const Json::Value list = json(get(solo.sign + "/rest/api/certificates", token).body);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["ID"].asUInt(), 5u);
    EXPECT_EQ(s.stop(), 0);
}

// Without the GOST engine the service starts all the same, says why in its ready line and
// offers RSA and ECDSA only: keys 1 and 2, provider types 16 and 24.
TEST_F(AdminTest, WithoutTheGostEngineOnlyRsaAndEcdsa) {
    setenv("NIMBEX_GOST_ENGINE", "/nonexistent/gost.so", 1);
    LocalService s("", true);
    unsetenv("NIMBEX_GOST_ENGINE");
    EXPECT_NE(s.readyLine()["gost"]["problem"].asString().find("/nonexistent/gost.so"),
              std::string::npos);
    const std::string token = passwordToken(s.service("local-v1"));
    const std::string api = s.service("local-v1").sign + "/rest/api/";
    std::string ids, types;
    for (const Json::Value& c : json(get(api + "certificates", token).body))
        ids += c["ID"].asString() + " ";
    const Json::Value policy = json(get(api + "policy", token).body);
    for (const Json::Value& p : policy["CSPsPolicy"]) types += p["ProviderType"].asString() + " ";
    EXPECT_EQ(ids + "/ " + types, "1 2 / 16 24 ");
}

}  // namespace
}  // namespace nimbex_test
