#pragma once
#include <gtest/gtest.h>
#include <json/json.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "LocalService.h"

namespace nimbex_test {

using Bytes = std::vector<uint8_t>;

// One local service per test suite, brought back to its default settings before every test.
class ServiceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

    static LocalService& svc() { return *service_; }
    static const LocalServiceUrls& v2() { return service_->service("local-v2"); }
    static const LocalServiceUrls& v1() { return service_->service("local-v1"); }

    // Password grant; fails the test when no token comes back.
    static std::string passwordToken(const LocalServiceUrls& s, const std::string& login = "demo",
                                     const std::string& password = "demo-password");
    static std::string grantBody(const LocalServiceUrls& s, const std::string& login,
                                 const std::string& password);
    static HttpResult get(const std::string& url, const std::string& token = "");
    static HttpResult post(const std::string& url, const std::string& token,
                           const std::string& body, std::vector<std::string> headers = {});
    static HttpResult del(const std::string& url, const std::string& token);
    // A POST signed the way the module signs requests: bearer line, content lines, then
    // the "VL-Signature" line over them and the body.
    static HttpResult signedPost(const std::string& url, const std::string& token,
                                 const std::string& body, bool corrupt = false);
    static std::string vlSignature(const std::string& url, const std::vector<std::string>& headers,
                                   const std::string& body, const Bytes& key);

    static Json::Value json(const std::string& text);
    static std::string compact(const Json::Value& v);
    static std::string b64(const Bytes& b);
    static Bytes unb64(const std::string& s);

    // The certificate with that id from the service's list.
    static Bytes certificate(const LocalServiceUrls& s, const std::string& token, uint32_t id);
    // Verifies a service signature of hash (RSA PKCS#1 v1.5, or ECDSA r||s) with md.
    static bool verify(const Bytes& certDer, const Bytes& hash, const Bytes& sig, const EVP_MD* md);
    static Bytes digest(const EVP_MD* md, const std::string& data);

  private:
    static LocalService* service_;
};

}  // namespace nimbex_test
