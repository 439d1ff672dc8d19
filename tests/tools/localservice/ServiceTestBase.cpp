#include "ServiceTestBase.h"

#include <openssl/evp.h>

namespace nimbex_test {

LocalService* ServiceTest::service_ = nullptr;

void ServiceTest::SetUpTestSuite() {
    if (!service_) service_ = new LocalService();
}

void ServiceTest::TearDownTestSuite() {
    delete service_;
    service_ = nullptr;
}

void ServiceTest::SetUp() {
    svc().reset();
    svc().resetState();
    svc().configure(json(R"({
        "tokens": {"accessLifetime": 3600, "idLifetime": 36000, "confLifetime": 3600, "issueConfToken": true},
        "confirmation": {"challenge": "text", "polls": 1, "outcome": "approve",
                         "method": "http://schemas.veltra.ru/kel/authenticationmethod/mobile"},
        "policy": {"mfa": {"SignDocument": false, "PrivateKeyAccess": false, "CreateRequest": false,
                           "DeleteCertificate": false, "ChangePin": false}},
        "pinAttempts": 10, "requireMessageSignature": false})"));
}

std::string ServiceTest::grantBody(const LocalServiceUrls& s, const std::string& login,
                                   const std::string& password) {
    return "grant_type=password&username=" + login + "&password=" + password +
           "&scope=kel&client_id=veltra.cloud.csp&resource=" + s.resource;
}

std::string ServiceTest::authorizeUrl(const LocalServiceUrls& s, const std::string& extra,
                                      bool silent) {
    return s.auth +
           "/oauth/authorize?client_id=veltra.cloud.csp&response_type=token%20id_token"
           "&scope=kel&redirect_uri=https%3A%2F%2Fsign.example.com%2Foauth2redirect%2Fcloudcsp"
           "&resource=" +
           s.resource + extra +
           (silent ? "&response_mode=fragment&prompt=none" : "&response_mode=form_post");
}

std::string ServiceTest::first(const LocalServiceUrls& s, Json::Value extra) {
    extra["Resource"] = s.resource;
    extra["ClientId"] = "veltra.cloud.csp";
    return compact(extra);
}

Json::Value ServiceTest::confirm(const LocalServiceUrls& s, const std::string& token,
                                 Json::Value extra) {
    const Json::Value challenge = json(post(confirmUrl(s), token, first(s, extra)).body);
    Json::Value b;
    b["ChallengeResponse"]["TextChallengeResponse"][0]["RefId"] =
        challenge["Challenge"]["TextChallenge"][0]["RefID"];
    return json(post(confirmUrl(s), token, first(s, b)).body);
}

std::string ServiceTest::passwordToken(const LocalServiceUrls& s, const std::string& login,
                                       const std::string& password) {
    HttpResult r = post(s.auth + "/oauth/token", "", grantBody(s, login, password));
    EXPECT_EQ(r.status, 200) << r.body;
    Json::Value v = json(r.body);
    EXPECT_TRUE(v["access_token"].isString()) << r.body;
    return v["access_token"].asString();
}

HttpResult ServiceTest::send(const std::string& method, const std::string& url,
                             const std::string& token, const std::string& body,
                             std::vector<std::string> headers) {
    if (!token.empty()) headers.insert(headers.begin(), "Authorization: Bearer " + token);
    bool typed = false;
    for (const auto& h : headers) typed = typed || h.rfind("Content-Type:", 0) == 0;
    if (method == "POST" && !typed)
        headers.push_back("Content-Type: application/json; charset=utf-8");
    return httpRequest(method, url, headers, body, svc().caFile());
}

std::string ServiceTest::basic(const std::string& login, const std::string& password) {
    const std::string pair = login + ":" + password;
    return "Authorization: Basic " + b64(Bytes(pair.begin(), pair.end()));
}

void ServiceTest::expectRefused(const std::vector<Refusal>& cases) {
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> headers;
        if (!c.header.empty()) headers.push_back(c.header);
        const HttpResult r = send(c.method, c.url, c.token, c.body, headers);
        EXPECT_EQ(r.status, c.status) << r.body;
        // A redirect carries its answer in the target.
        const auto location = r.headers.find("location");
        const std::string text = r.body + (location == r.headers.end() ? "" : location->second);
        EXPECT_NE(text.find(c.answer), std::string::npos) << text;
    }
}

std::string ServiceTest::b64(const Bytes& b) {
    if (b.empty()) return "";
    std::string out(4 * ((b.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]), b.data(),
                            static_cast<int>(b.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

}  // namespace nimbex_test
