#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>

#include "ServiceTestBase.h"

namespace nimbex_test {
namespace {

class AuthAppTest : public ServiceTest {
  protected:
    void TearDown() override {
        unsetenv("NIMBEX_AUTHAPP_MODE");
        unsetenv("NIMBEX_AUTHAPP_CONFIG");
        unsetenv("NIMBEX_CA_FILE");
    }
    // Runs the application the way the module does: path, blank, quoted URL; one line back.
    static std::string run(const std::string& url, int* exitStatus = nullptr) {
        if (!getenv("NIMBEX_CA_FILE")) setenv("NIMBEX_CA_FILE", svc().caFile().c_str(), 1);
        std::string command = LocalService::authAppPath() + " \"" + url + "\"";
        FILE* p = popen(command.c_str(), "r");
        if (!p) return "";
        char buf[10000] = {0};
        std::string line = fgets(buf, sizeof(buf), p) ? buf : "";
        int status = pclose(p);
        if (exitStatus) *exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        return line;
    }
    static std::map<std::string, std::string> pairs(const std::string& line) {
        std::map<std::string, std::string> out;
        size_t pos = 0;
        while (pos < line.size()) {
            size_t amp = line.find('&', pos);
            if (amp == std::string::npos) amp = line.size();
            std::string piece = line.substr(pos, amp - pos);
            size_t eq = piece.find('=');
            if (eq != std::string::npos) out[piece.substr(0, eq)] = piece.substr(eq + 1);
            pos = amp + 1;
        }
        return out;
    }
    static std::string signInUrl(const LocalServiceUrls& s, const std::string& extra) {
        return s.auth +
               "/oauth/"
               "authorize?client_id=veltra.cloud.csp&response_type=token%20id_token&scope=kel"
               "&redirect_uri=https%3A%2F%2Fsign.example.com%2Foauth2redirect%2Fcloudcsp&"
               "resource=" +
               s.resource + extra + "&response_mode=form_post";
    }
};

TEST_F(AuthAppTest, SignInConfirmsTheOperationNamedInTheUrl) {
    svc().configure(json(R"({"policy": {"mfa": {"DeleteCertificate": true}}})"));
    std::string token = passwordToken(v2());
    Json::Value pending = json(del(v2().sign + "/rest/api/v2/certificates/2", token).body);
    std::string opId = pending["Operation"]["Id"].asString();
    ASSERT_EQ(pending["Operation"]["Status"].asString(), "Pending");
    auto p = pairs(run(signInUrl(v2(), "&kel_operation_id=" + opId + "&sign_api_version=2")));
    ASSERT_FALSE(p["access_token"].empty());
    Json::Value done = json(del(v2().sign + "/rest/api/v2/certificates/2", p["access_token"]).body);
    EXPECT_EQ(done["Operation"]["Status"].asString(), "Completed");
    // An operation that is not pending is refused in the answer line.
    auto again = pairs(run(signInUrl(v2(), "&kel_operation_id=" + opId + "&sign_api_version=2")));
    EXPECT_EQ(again["error"], "invalid_transaction");
}

TEST_F(AuthAppTest, CancellingUserAndSimulatedFailures) {
    setenv("NIMBEX_AUTHAPP_MODE", "cancel", 1);
    EXPECT_EQ(run(signInUrl(v1(), "")), "error=access_denied&error_description=cancelled_by_user");
    setenv("NIMBEX_AUTHAPP_MODE", "error", 1);
    EXPECT_EQ(run(signInUrl(v1(), "")), "error_message=internal_error");
    setenv("NIMBEX_AUTHAPP_MODE", "fail", 1);
    int status = 0;
    EXPECT_EQ(run(signInUrl(v1(), ""), &status), "");
    EXPECT_NE(status, 0);
}

TEST_F(AuthAppTest, WrongPasswordAndUntrustedServer) {
    char path[] = "/tmp/nimbex-authapp-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    std::string cfg = "{\"login\": \"demo\", \"password\": \"wrong\"}";
    ASSERT_EQ(write(fd, cfg.data(), cfg.size()), static_cast<ssize_t>(cfg.size()));
    close(fd);
    setenv("NIMBEX_AUTHAPP_CONFIG", path, 1);
    EXPECT_EQ(run(signInUrl(v1(), "")), "error_message=invalid_password");
    unsetenv("NIMBEX_AUTHAPP_CONFIG");
    unlink(path);
    // Certificates are verified: a CA file that does not hold the service's CA fails the sign-in.
    setenv("NIMBEX_CA_FILE", "/dev/null", 1);
    EXPECT_EQ(run(signInUrl(v1(), "")), "error_message=internal_error");
}

TEST_F(AuthAppTest, SignOutPrintsCancelledByUserAndEndsTheSession) {
    auto p = pairs(run(signInUrl(v2(), "&sign_api_version=2")));
    ASSERT_FALSE(p["id_token"].empty());
    EXPECT_EQ(run(v2().auth + "/Authentication/SignOut"), "error_message=cancelled_by_user");
    HttpResult silent =
        get(v2().auth +
            "/oauth/authorize?client_id=veltra.cloud.csp&response_type=token%20id_token&scope=kel"
            "&redirect_uri=https%3A%2F%2Fsign.example.com%2Foauth2redirect%2Fcloudcsp&resource=" +
            v2().resource + "&id_token_hint=" + p["id_token"] +
            "&response_mode=fragment&prompt=none&sign_api_version=2");
    EXPECT_NE(silent.body.find("#error=login_required"), std::string::npos) << silent.body;
}

TEST_F(AuthAppTest, SignInConfirmsAVersion1Transaction) {
    svc().configure(json(R"({"policy": {"mfa": {"ChangePin": true}}})"));
    std::string token = passwordToken(v1());
    std::string tx =
        R"({"OperationCode":"ChangePin","Parameters":[{"Name":"CertificateID","Value":"1"}]})";
    HttpResult created = post(v1().sign + "/rest/api/transactions", token, tx);
    ASSERT_EQ(created.status, 200) << created.body;
    std::string txId = json(created.body).asString();
    auto p = pairs(run(signInUrl(v1(), "&kel_transaction_token_id=" + txId)));
    ASSERT_FALSE(p["access_token"].empty());
    std::string body = R"({"OldPin":"1234","NewPin":"4321","ConfirmedPin":"4321"})";
    EXPECT_EQ(json(post(v1().sign + "/rest/api/certificates/1/pin", token, body).body)["error"]
                  .asString(),
              "invalid_transaction");
    EXPECT_EQ(post(v1().sign + "/rest/api/certificates/1/pin", p["access_token"], body).status,
              200);
}

}  // namespace
}  // namespace nimbex_test
