#pragma once
#include <time.h>

#include <boost/make_shared.hpp>
#include <string>
#include <vector>

#include "ScriptedService.h"
#include "auth/AuthTokenSaver.h"
#include "operations/KelContainerConnector.h"
#include "protocol/TextEncoding.h"

namespace auth_test {

// A JWT whose payload carries "exp" (seconds since the epoch); the signature
// part is not looked at.
inline std::string MakeIdToken(int64_t exp, const std::string& subject = "user") {
    const std::string payload = "{\"sub\":\"" + subject + "\",\"exp\":" + std::to_string(exp) + "}";
    std::string encoded = EncodeBase64(payload.data(), payload.size());
    for (char& c : encoded) {
        if (c == '+') c = '-';
        if (c == '/') c = '_';
    }
    while (!encoded.empty() && encoded.back() == '=') encoded.pop_back();
    return "eyJhbGciOiJub25lIn0." + encoded + ".c2ln";
}

inline int64_t InOneHour() {
    return static_cast<int64_t>(::time(nullptr)) + 3600;
}

// Keeps tokens in memory and logs every call ("auth=", "id=", "conf=").
class MemorySaver : public AuthTokenSaver {
  public:
    std::string auth, id, conf;
    std::vector<std::string> log;
    void SaveAuthToken(const std::string& t) override {
        auth = t;
        log.push_back("auth=" + t);
    }
    void SaveIdToken(const std::string& t) override {
        id = t;
        log.push_back("id=" + t);
    }
    void SaveConfToken(const std::string& t) override {
        conf = t;
        log.push_back("conf=" + t);
    }
    std::string LoadAuthToken() override { return auth; }
    std::string LoadIdToken() override { return id; }
    std::string LoadConfToken() override { return conf; }
};

// A browser runner that records the command lines and answers from a list.
struct FakeBrowser {
    std::vector<std::string> commands;
    std::vector<std::string> answers;  // "" entries make the runner fail
    bool Run(const std::string& command, std::string& output) {
        commands.push_back(command);
        if (answers.empty()) return false;
        output = answers.front();
        answers.erase(answers.begin());
        return !output.empty();
    }
    BrowserRunner Runner() {
        return [this](const std::string& c, std::string& o) { return Run(c, o); };
    }
};

constexpr char kAuthUrl[] = "https://auth.example.test:8443/idp/extra";
constexpr char kSignUrl[] = "https://sign.example.test/signserver/rest";
constexpr char kDocUrl[] = "https://docs.example.test/docstore";
constexpr char kAuthBase[] = "https://auth.example.test:8443/idp";
constexpr char kSignBase[] = "https://sign.example.test/signserver";
constexpr char kResource[] = "urn:veltra:kel:signserver:signserver";

// A connector over the scripted client, with a fake browser and no pause
// between confirmation polls (the pauses are counted).
struct Rig {
    boost::shared_ptr<ScriptedService> service = boost::make_shared<ScriptedService>();
    FakeBrowser browser;
    std::vector<unsigned> pauses;
    boost::shared_ptr<KelContainerConnector> connector;

    explicit Rig(bool withDocstore = false) {
        connector = boost::make_shared<KelContainerConnector>(
            kAuthUrl, kSignUrl, withDocstore ? kDocUrl : "", browser.Runner());
        connector->SetUrlRetriever(service);
        connector->SetPauseFunction([this](unsigned ms) { pauses.push_back(ms); });
    }
};

}  // namespace auth_test
