#pragma once
#include <gtest/gtest.h>
#include <json/json.h>

#include <string>
#include <vector>

#include "LocalService.h"

namespace nimbex_test {

using Bytes = std::vector<uint8_t>;

// One request the service must refuse (bearer token and one more header line when not
// empty): the HTTP status, and a text the answer holds.
struct Refusal {
    const char* what;
    std::string method, url, token, body, header;
    long status;
    std::string answer;
};

// One local service per test suite, brought back to its default settings before every test.
class ServiceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

    static LocalService& svc() { return *service_; }
    static const LocalServiceUrls& v2() { return service_->service("local-v2"); }
    static const LocalServiceUrls& v1() { return service_->service("local-v1"); }

    // A confirmation request body of the service with the extra members given, and the URL it
    // goes to.
    static std::string first(const LocalServiceUrls& s, Json::Value extra = Json::Value());
    static std::string confirmUrl(const LocalServiceUrls& s) {
        return s.auth + (s.docstore.empty() ? "/confirmation" : "/v2.0/confirmation");
    }
    // Starts a confirmation with `extra` members and answers its text challenge: the last answer.
    static Json::Value confirm(const LocalServiceUrls& s, const std::string& token,
                               Json::Value extra = Json::Value());
    // Password grant; fails the test when no token comes back.
    static std::string passwordToken(const LocalServiceUrls& s, const std::string& login = "demo",
                                     const std::string& password = "demo-password");
    static std::string grantBody(const LocalServiceUrls& s, const std::string& login,
                                 const std::string& password);
    // The module's authorization request with `extra` parameters: silent (fragment, no
    // prompt) or interactive (form post).
    static std::string authorizeUrl(const LocalServiceUrls& s, const std::string& extra,
                                    bool silent);
    // Requests with an optional bearer token; POST bodies are JSON unless a Content-Type is given.
    static HttpResult send(const std::string& method, const std::string& url,
                           const std::string& token, const std::string& body = "",
                           std::vector<std::string> headers = {});
    static HttpResult get(const std::string& url, const std::string& token = "") {
        return send("GET", url, token);
    }
    static HttpResult post(const std::string& url, const std::string& token,
                           const std::string& body, std::vector<std::string> headers = {}) {
        return send("POST", url, token, body, std::move(headers));
    }
    static HttpResult del(const std::string& url, const std::string& token) {
        return send("DELETE", url, token);
    }
    // The "Authorization: Basic" line of login:password.
    static std::string basic(const std::string& login, const std::string& password);
    static void expectRefused(const std::vector<Refusal>& cases);

    static Json::Value json(const std::string& text) { return JsonOf(text); }
    static std::string compact(const Json::Value& v) { return CompactJson(v); }
    static std::string b64(const Bytes& b);

  private:
    static LocalService* service_;
};

}  // namespace nimbex_test
