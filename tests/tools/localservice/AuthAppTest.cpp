#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <regex>

#include "ServiceTestBase.h"
#include "TempEnv.h"

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
    // The value of `name` in an answer line of "name=value" pairs joined by "&".
    static std::string field(const std::string& line, const std::string& name) {
        std::smatch m;
        return std::regex_search(line, m, std::regex("(^|&)" + name + "=([^&]*)")) ? m[2].str()
                                                                                   : "";
    }
};

TEST_F(AuthAppTest, SignInConfirmsTheOperationNamedInTheUrl) {
    svc().configure(json(R"({"policy": {"mfa": {"DeleteCertificate": true}}})"));
    std::string token = passwordToken(v2());
    Json::Value pending = json(del(v2().sign + "/rest/api/v2/certificates/2", token).body);
    std::string opId = pending["Operation"]["Id"].asString();
    ASSERT_EQ(pending["Operation"]["Status"].asString(), "Pending");
    const std::string url =
        authorizeUrl(v2(), "&kel_operation_id=" + opId + "&sign_api_version=2", false);
    const std::string access = field(run(url), "access_token");
    ASSERT_FALSE(access.empty());
    Json::Value done = json(del(v2().sign + "/rest/api/v2/certificates/2", access).body);
    EXPECT_EQ(done["Operation"]["Status"].asString(), "Completed");
    // An operation that is not pending is refused in the answer line.
    EXPECT_EQ(field(run(url), "error"), "invalid_transaction");
}

TEST_F(AuthAppTest, CancellingUserAndSimulatedFailures) {
    const std::string url = authorizeUrl(v1(), "", false);
    setenv("NIMBEX_AUTHAPP_MODE", "cancel", 1);
    EXPECT_EQ(run(url), "error=access_denied&error_description=cancelled_by_user");
    setenv("NIMBEX_AUTHAPP_MODE", "error", 1);
    EXPECT_EQ(run(url), "error_message=internal_error");
    setenv("NIMBEX_AUTHAPP_MODE", "fail", 1);
    int status = 0;
    EXPECT_EQ(run(url, &status), "");
    EXPECT_NE(status, 0);
}

TEST_F(AuthAppTest, WrongPasswordAndUntrustedServer) {
    const TempDir dir;
    std::ofstream(dir.path() + "/config.json") << R"({"login": "demo", "password": "wrong"})";
    setenv("NIMBEX_AUTHAPP_CONFIG", (dir.path() + "/config.json").c_str(), 1);
    const std::string url = authorizeUrl(v1(), "", false);
    EXPECT_EQ(run(url), "error_message=invalid_password");
    unsetenv("NIMBEX_AUTHAPP_CONFIG");
    // Certificates are verified: a CA file that does not hold the service's CA fails the sign-in.
    setenv("NIMBEX_CA_FILE", "/dev/null", 1);
    EXPECT_EQ(run(url), "error_message=internal_error");
}

TEST_F(AuthAppTest, SignOutPrintsCancelledByUserAndEndsTheSession) {
    const std::string id = field(run(authorizeUrl(v2(), "&sign_api_version=2", false)), "id_token");
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(run(v2().auth + "/Authentication/SignOut"), "error_message=cancelled_by_user");
    HttpResult silent =
        get(authorizeUrl(v2(), "&id_token_hint=" + id + "&sign_api_version=2", true));
    EXPECT_NE(silent.headers["location"].find("#error=login_required"), std::string::npos);
}

TEST_F(AuthAppTest, SignInConfirmsAVersion1Transaction) {
    svc().configure(json(R"({"policy": {"mfa": {"ChangePin": true}}})"));
    std::string token = passwordToken(v1());
    std::string tx =
        R"({"OperationCode":"ChangePin","Parameters":[{"Name":"CertificateID","Value":"1"}]})";
    HttpResult created = post(v1().sign + "/rest/api/transactions", token, tx);
    ASSERT_EQ(created.status, 200) << created.body;
    std::string txId = json(created.body).asString();
    const std::string access =
        field(run(authorizeUrl(v1(), "&kel_transaction_token_id=" + txId, false)), "access_token");
    ASSERT_FALSE(access.empty());
    std::string body = R"({"OldPin":"1234","NewPin":"4321","ConfirmedPin":"4321"})";
    EXPECT_EQ(json(post(v1().sign + "/rest/api/certificates/1/pin", token, body).body)["error"]
                  .asString(),
              "invalid_transaction");
    EXPECT_EQ(post(v1().sign + "/rest/api/certificates/1/pin", access, body).status, 200);
}

}  // namespace
}  // namespace nimbex_test
