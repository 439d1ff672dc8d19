#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <memory>

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

namespace nimbex_test {
namespace {

class AdminControlTest : public ServiceTest {};

TEST_F(AdminControlTest, RequestLogRecordsTheExactRequest) {
    std::string body = grantBody(v1(), "demo", "demo-password");
    post(v1().auth + "/oauth/token?x=1", "", body, {"X-Probe: one", "Content-Type: text/plain"});
    Json::Value log = svc().requestLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0]["method"].asString(), "POST");
    EXPECT_EQ(log[0]["target"].asString(), "/local-v1-auth/oauth/token?x=1");
    EXPECT_EQ(log[0]["path"].asString(), "/local-v1-auth/oauth/token");
    EXPECT_EQ(log[0]["headers"]["x-probe"].asString(), "one");
    EXPECT_EQ(log[0]["headers"]["content-type"].asString(), "text/plain");
    EXPECT_EQ(log[0]["body"].asString(), body);
    EXPECT_FALSE(log[0]["bodyTruncated"].asBool());
    svc().reset();
    EXPECT_EQ(svc().requestLog().size(), 0u);
}

TEST_F(AdminControlTest, StatusFaultAnswersTheNextRequestsOnly) {
    LocalServiceFault f;
    f.count = 2;
    f.status = 503;
    f.body = "{\"error\":\"internal_error\"}";
    svc().injectFault(f);
    std::string url = v1().sign + "/rest/api/apiversion";
    for (int i = 0; i < 2; ++i) {
        HttpResult r = get(url);
        EXPECT_EQ(r.status, 503);
        EXPECT_EQ(r.body, f.body);
    }
    EXPECT_EQ(get(url).body, "1");
    Json::Value log = svc().requestLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0]["fault"].asString(), "status 503");
    EXPECT_FALSE(log[2].isMember("fault"));
}

TEST_F(AdminControlTest, DroppedConnectionDelayAndPathFilter) {
    LocalServiceFault drop;
    drop.drop = true;
    drop.pathContains = "/oauth/token";
    svc().injectFault(drop);
    EXPECT_EQ(get(v1().sign + "/rest/api/apiversion").body, "1");  // not matched
    HttpResult dropped =
        post(v1().auth + "/oauth/token", "", grantBody(v1(), "demo", "demo-password"));
    EXPECT_NE(dropped.curlCode, 0);
    EXPECT_EQ(dropped.status, 0);
    passwordToken(v1());  // the fault is used up

    LocalServiceFault delay;
    delay.delayMs = 20;
    svc().injectFault(delay);
    EXPECT_EQ(get(v1().sign + "/rest/api/apiversion").body, "1");
    Json::Value log = svc().requestLog();
    EXPECT_EQ(log[log.size() - 1]["fault"].asString(), "delay");
}

TEST_F(AdminControlTest, ResetStateDropsTheTokens) {
    const std::string token = passwordToken(v1());
    EXPECT_EQ(get(v1().sign + "/rest/api/certificates", token).status, 200);
    svc().resetState();
    EXPECT_EQ(get(v1().sign + "/rest/api/certificates", token).status, 401);
}

TEST_F(AdminControlTest, BadAdminDocumentsAreRefused) {
    EXPECT_THROW(svc().configure(json(R"({"confirmation": {"outcome": "maybe"}})")),
                 std::runtime_error);
    EXPECT_THROW(svc().configure(json(R"({"tokens": {"accessLifetime": 0}})")), std::runtime_error);
    LocalServiceFault nothing;
    EXPECT_THROW(svc().injectFault(nothing), std::runtime_error);
    EXPECT_THROW(svc().expireTokens("every"), std::runtime_error);
    Json::Value now = svc().configure(json(R"({"tokens": {"accessLifetime": 5}})"));
    EXPECT_EQ(now["tokens"]["accessLifetime"].asUInt(), 5u);
    HttpResult r = post(v1().auth + "/oauth/token", "", grantBody(v1(), "demo", "demo-password"));
    EXPECT_EQ(json(r.body)["expires_in"].asUInt(), 5u);
}

// The service as a process: exit status, configuration file, state directory, plain HTTP.
std::string runLine(const std::string& command, int& status, FILE** keep = nullptr) {
    FILE* p = popen(command.c_str(), "r");
    if (!p) return {};
    char buf[8192] = {0};
    std::string line = fgets(buf, sizeof(buf), p) ? buf : "";
    if (keep) {
        *keep = p;
        return line;
    }
    status = pclose(p);
    return line;
}

TEST(LocalServiceProcess, BadConfigurationFileIsRefused) {
    char dir[] = "/tmp/nimbex-ls-config-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string file = std::string(dir) + "/bad.json";
    FILE* f = fopen(file.c_str(), "w");
    fputs("{\"users\": [{\"login\": \"x\", \"keys\": [{\"id\": 0}]}]}", f);
    fclose(f);
    int status = 0;
    std::string line = runLine("'" + LocalService::servicePath() + "' --state-dir " + dir +
                                   "/state --config " + file + " 2>/dev/null",
                               status);
    EXPECT_EQ(line, "");
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    std::string cleanup = std::string("rm -rf ") + dir;
    EXPECT_EQ(system(cleanup.c_str()), 0);
}

TEST(LocalServiceProcess, StateDirectoryKeepsTheCaAndTheKeys) {
    char dir[] = "/tmp/nimbex-ls-state-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string command = "'" + LocalService::servicePath() + "' --state-dir " + dir;
    std::string cas[2];
    for (auto& ca : cas) {
        FILE* p = nullptr;
        int status = 0;
        std::string line = runLine(command, status, &p);
        Json::Value ready;
        Json::CharReaderBuilder b;
        std::unique_ptr<Json::CharReader> r(b.newCharReader());
        std::string errors;
        ASSERT_TRUE(r->parse(line.data(), line.data() + line.size(), &ready, &errors)) << line;
        FILE* f = fopen(ready["caFile"].asCString(), "r");
        ASSERT_NE(f, nullptr);
        char buf[4096] = {0};
        ca = std::string(buf, fread(buf, 1, sizeof(buf), f));
        fclose(f);
        kill(ready["pid"].asInt(), SIGTERM);
        status = pclose(p);
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    EXPECT_FALSE(cas[0].empty());
    EXPECT_EQ(cas[0], cas[1]);
    std::string cleanup = std::string("rm -rf ") + dir;
    EXPECT_EQ(system(cleanup.c_str()), 0);
}

TEST(LocalServiceProcess, ConfigurationFileSetsUsersKeysAndServicesAndPlainHttp) {
    LocalService s(
        R"({"users": [{"login": "alice", "password": "pw", "keys": [{"id": 5, "type": "ec", "pin": "0000"}]}],
                       "services": [{"name": "solo", "apiVersion": 1}]})",
        true);
    ASSERT_EQ(s.services().size(), 1u);
    const LocalServiceUrls& solo = s.service("solo");
    EXPECT_EQ(solo.sign.rfind("http://127.0.0.1:", 0), 0u);
    HttpResult t = httpRequest(
        "POST", solo.auth + "/oauth/token", {},
        "grant_type=password&username=alice&password=pw&scope=kel&client_id=veltra.cloud.csp"
        "&resource=" +
            solo.resource);
    ASSERT_EQ(t.status, 200) << t.body;
    Json::CharReaderBuilder b;
    std::unique_ptr<Json::CharReader> r(b.newCharReader());
    Json::Value v, list;
    std::string errors;
    r->parse(t.body.data(), t.body.data() + t.body.size(), &v, &errors);
    HttpResult l = httpRequest("GET", solo.sign + "/rest/api/certificates",
                               {"Authorization: Bearer " + v["access_token"].asString()});
    r->parse(l.body.data(), l.body.data() + l.body.size(), &list, &errors);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["ID"].asUInt(), 5u);
    EXPECT_EQ(s.stop(), 0);
}

}  // namespace
}  // namespace nimbex_test
