#pragma once
#include <gtest/gtest.h>
#include <time.h>

#include <boost/make_shared.hpp>
#include <string>
#include <vector>

#include "KelContainerConnectorTestPeer.h"
#include "ScriptedHttpClient.h"
#include "TestTokens.h"
#include "auth/AuthTokenSaver.h"
#include "protocol/HttpMessageSignatureCreator.h"
#include "protocol/TextEncoding.h"

namespace auth_test {

using nimbex_test::Answer;
using nimbex_test::SentRequest;

// The header lines of a JSON request: `auth` (none when empty), then the content lines of `body`.
inline std::vector<std::string> JsonLines(const std::string& auth, const std::string& body) {
    std::vector<std::string> lines = {"Content-Type: application/json; charset=utf-8",
                                      "Content-Length: " + std::to_string(body.size())};
    if (!auth.empty()) lines.insert(lines.begin(), auth);
    return lines;
}

// The URL, the header lines and the body of a sent request, exactly.
inline void ExpectSent(const SentRequest& r, const std::string& url,
                       const std::vector<std::string>& headers, const std::string& body) {
    EXPECT_EQ(r.url, url);
    EXPECT_EQ(r.headers, headers) << url;
    EXPECT_EQ(r.body, body) << url;
}

// A JWT whose payload carries "exp" (any JSON number text).
inline std::string MakeIdToken(const std::string& exp) {
    return nimbex_test::IdToken("{\"sub\":\"user\",\"exp\":" + exp + "}");
}

inline std::string IdTokenExpiringIn(int64_t seconds) {
    return MakeIdToken(std::to_string(static_cast<int64_t>(::time(nullptr)) + seconds));
}

// Keeps tokens in memory and logs every save ("auth=", "id=", "conf="). It
// releases no token it was given before it goes.
class MemorySaver : public AuthTokenSaver {
  public:
    SecretString auth, id, conf;
    std::vector<std::string> log;
    void SaveAuthToken(const SecretString& t) override { Save(auth, "auth=", t); }
    void SaveIdToken(const SecretString& t) override { Save(id, "id=", t); }
    void SaveConfToken(const SecretString& t) override { Save(conf, "conf=", t); }
    SecretString LoadAuthToken() override { return auth; }
    SecretString LoadIdToken() override { return id; }
    SecretString LoadConfToken() override { return conf; }

  private:
    void Save(SecretString& slot, const char* name, const SecretString& t) {
        slot = t;
        log.emplace_back(name).append(t);
    }
};

// A browser runner that records the command lines and answers from a list,
// in order ("" entries, and the end of the list, make the runner fail).
struct FakeBrowser {
    std::vector<std::string> commands;
    std::vector<std::string> answers;
    size_t next = 0;
    BrowserRunner Runner() {
        return [this](const std::string& command, std::string& output) {
            commands.push_back(command);
            if (next == answers.size()) return false;
            output.assign(answers[next++]);
            return !output.empty();
        };
    }
};

// A request signer that numbers its signatures and names the header lines it
// covered, so tests see which lines were signed and that a line is fresh.
class CountingSigner : public HttpMessageSignatureCreatorBase {
  public:
    mutable int count = 0;
    std::string CreateSignature(std::string_view url, const std::vector<SecretString>& headers,
                                std::string_view body) const override {
        std::string line = "VL-Signature: n=" + std::to_string(++count) +
                           " url=" + std::string(url) + " lines=" + std::to_string(headers.size());
        for (const SecretString& h : headers) line += "|" + std::string(h.substr(0, h.find(':')));
        return line + " body=" + std::to_string(body.size());
    }
};

constexpr char kAuthUrl[] = "https://auth.example.test:8443/idp/extra";
constexpr char kSignUrl[] = "https://sign.example.test/signserver/rest";
constexpr char kAuthBase[] = "https://auth.example.test:8443/idp";
constexpr char kSignBase[] = "https://sign.example.test/signserver";
constexpr char kResource[] = "urn:veltra:kel:signserver:signserver";

// A connector over the scripted client, with a fake browser and no pause
// between confirmation polls (the pauses are counted).
struct Rig {
    boost::shared_ptr<nimbex_test::ScriptedHttpClient> service =
        boost::make_shared<nimbex_test::ScriptedHttpClient>();
    FakeBrowser browser;
    std::vector<unsigned> pauses;
    boost::shared_ptr<KelContainerConnector> connector;
    KelContainerConnectorTestPeer peer;

    explicit Rig(bool withDocstore = false)
        : connector(boost::make_shared<KelContainerConnector>(
              kAuthUrl, kSignUrl, withDocstore ? "https://docs.example.test/docstore" : "",
              browser.Runner())),
          peer(*connector) {
        connector->SetUrlRetriever(service);
        peer.SetPause([this](unsigned ms) { pauses.push_back(ms); });
    }
};

}  // namespace auth_test
