// The connector under the freed-memory scan: no block it releases holds the
// login, the password or a token unwiped, on every path below. The connector
// lives on the heap, so the short login kept inside its own string objects is
// searched too when the connector goes.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <fstream>

#include "FreedMemoryScan.h"
#include "KelContainerConnectorTestPeer.h"
#include "ScriptedHttpClient.h"
#include "TempEnv.h"
#include "auth/AuthTokenSaver.h"
#include "auth/BrowserRunner.h"
#include "base/Wipe.h"
#include "config/ModuleOptions.h"
#include "config/RegistryAccess.h"
#include "protocol/HttpMessageSignatureCreator.h"

namespace {

using nimbex_test::Answer;
using nimbex_test::FreedMemoryScan;

const char kLogin[] = "lg-SECRET-01";  // short enough for the string object itself
const char kPassword[] = "password-SECRET-0123456789abcdef";
const char kAccess[] = "access-SECRET-token-0123456789abcdef";
const char kAccess2[] = "access2-SECRET-token-0123456789abcdef";
const char kAccess3[] = "access3-SECRET-token-0123456789abcdef";
const char kConf[] = "conf-SECRET-token-0123456789abcdef";
const char kIdPayloadMark[] = "ZGVudGl0eS1TRUNSRVQ";  // part of the id token's payload

// {"sub":"identity-SECRET-subject","exp":4102444800}
const char kIdToken[] =
    "eyJhbGciOiJub25lIn0.eyJzdWIiOiJpZGVudGl0eS1TRUNSRVQtc3ViamVjdCIsImV4cCI6NDEwMjQ0NDgwMH0"
    ".c2ln";

// A saver that keeps every token it is given.
class KeepingSaver : public AuthTokenSaver {
  public:
    KeepingSaver() { kept_.reserve(64); }
    void SaveAuthToken(const SecretString& t) override { kept_.push_back(t); }
    void SaveIdToken(const SecretString& t) override { kept_.push_back(t); }
    void SaveConfToken(const SecretString& t) override { kept_.push_back(t); }
    SecretString LoadAuthToken() override { return kAccess3; }
    SecretString LoadIdToken() override { return SecretString(); }
    SecretString LoadConfToken() override { return kConf; }

  private:
    std::vector<SecretString> kept_;
};

class LineCountSigner : public HttpMessageSignatureCreatorBase {
  public:
    std::string CreateSignature(std::string_view, const std::vector<SecretString>& headers,
                                std::string_view) const override {
        return "VL-Signature: lines=" + std::to_string(headers.size());
    }
};

// A runner that answers `line`, which outlives the scan (the connector keeps
// a copy of the runner and releases it when it goes).
BrowserRunner Answering(const std::string& line) {
    return [&line](const std::string&, std::string& out) {
        out.assign(line);
        return true;
    };
}

boost::shared_ptr<nimbex_test::ScriptedHttpClient> Service(std::vector<Answer> answers) {
    auto service = boost::make_shared<nimbex_test::ScriptedHttpClient>();
    for (Answer& a : answers) service->Add(std::move(a));
    return service;
}

void ExpectNoLeak(FreedMemoryScan& scan) {
    scan.Stop();
    EXPECT_EQ(scan.Leaks(), 0) << "first: " << scan.FirstLeak();
    ::testing::Test::RecordProperty("json_library_blocks", scan.LibraryLeaks());
}

#define SCAN \
    FreedMemoryScan scan({kLogin, kPassword, kAccess, kAccess2, kAccess3, kConf, kIdPayloadMark})

}  // namespace

TEST(SecretWipe, PasswordGrantRenewalAndDropLeaveNoCopies) {
    auto service = Service({
        Answer::Ok(std::string("{\"access_token\":\"") + kAccess + "\",\"expires_in\":3600}"),
        Answer::Status(401),
        Answer::Ok(std::string("{\"access_token\":\"") + kAccess2 + "\",\"expires_in\":3600}"),
        Answer::Ok("\"done\""),
    });
    auto saver = boost::make_shared<KeepingSaver>();
    const std::string login(kLogin), password(kPassword), access(kAccess);
    std::vector<SecretString> headers = {std::string("Authorization: Bearer ") + kAccess,
                                         "VL-Signature: old"};
    SCAN;
    {
        auto c = boost::make_shared<KelContainerConnector>("https://auth.test/a",
                                                           "https://sign.test/s", "");
        c->SetUrlRetriever(service);
        c->SetMessageSignatureCreator(boost::make_shared<LineCountSigner>());
        c->SetCredentials(login, password);
        c->SetCredentials(login, password);  // replaces the first copies
        c->EnsureAuthenticated();
        c->SetAuthTokenSaver(saver);  // loads kAccess3 and kConf over the tokens
        c->DropTokens();
        c->SetAccessToken(access);
        EXPECT_EQ(c->SendRequest("https://sign.test/s/rest/api/transactions", headers, "{}"),
                  "\"done\"");
    }
    headers.clear();
    ExpectNoLeak(scan);
    EXPECT_EQ(service->sent.size(), 4u);
}

TEST(SecretWipe, SignInAnswersAndConfirmationLeaveNoCopies) {
    nimbex_test::TempEnv env;
    RegPutString(std::string(kModuleOptionsSection) + "AuthApp", "app");
    auto service = Service({
        Answer::Ok(std::string("https://r/#access_token=") + kAccess +
                   "&expires_in=60&id_token=" + kIdToken),
        Answer::Ok(R"({"IsError":false,"IsFinal":false,"Challenge":{"TextChallenge":)"
                   R"([{"RefID":"r","AuthnMethod":"authenticationmethod/mobile"}]}})"),
        Answer::Ok(std::string("{\"IsError\":false,\"IsFinal\":true,\"AccessToken\":\"") +
                   kAccess3 + "\",\"ExpiresIn\":60,\"ConfToken\":\"" + kConf +
                   "\",\"ConfTokenExpiresIn\":60}"),
    });
    const std::string login(kLogin), empty;
    const std::string answer = std::string("access_token=") + kAccess2 +
                               "&expires_in=60&id_token=" + kIdToken + "&conf_token=" + kConf +
                               "&conf_token_expires_in=60";
    const BrowserRunner browser = Answering(answer);
    SCAN;
    {
        auto c = boost::make_shared<KelContainerConnector>("https://auth.test/a",
                                                           "https://sign.test/s", "", browser);
        c->SetUrlRetriever(service);
        KelContainerConnectorTestPeer(*c).SetPause([](unsigned) {});
        c->SetCredentials(login, empty);
        c->EnsureAuthenticated();     // silent authorization
        c->SignInInteractive("T-1");  // browser application
        c->ConfirmOperation("T-2");   // conf token held: answered silently
    }
    ExpectNoLeak(scan);
    EXPECT_EQ(service->sent.size(), 3u);
}

TEST(SecretWipe, RepeatedAnswerParameterLeavesNoCopyOfTheReplacedValue) {
    // A later pair with the same key replaces the earlier value.
    nimbex_test::TempEnv env;
    RegPutString(std::string(kModuleOptionsSection) + "AuthApp", "app");
    const std::string answer = std::string("access_token=") + kAccess +
                               "&access_token=" + kAccess2 + "&expires_in=60&id_token=" + kIdToken;
    const BrowserRunner browser = Answering(answer);
    std::string access;
    access.reserve(64);
    SCAN;
    {
        auto c = boost::make_shared<KelContainerConnector>("https://auth.test/a",
                                                           "https://sign.test/s", "", browser);
        c->SignInInteractive("");
        access.assign(KelContainerConnectorTestPeer(*c).AccessToken().value);
    }
    ExpectNoLeak(scan);
    EXPECT_EQ(access, kAccess2);
}

TEST(SecretWipe, BrowserRunnerLeavesNoCopiesOfCommandOrAnswer) {
    // The command line carries sign-in hints; the answer line is long enough
    // to arrive in many reads.
    nimbex_test::TempDir dir;
    const std::string answerFile = dir.path() + "/answer";
    std::ofstream(answerFile) << "access_token=" << kAccess << "&state=" << std::string(3000, 'x')
                              << "\n";
    const std::string command = "cat '" + answerFile + "' # id_token_hint=" + kAccess2;
    std::string out;
    out.reserve(4096);
    SCAN;
    const bool answered = RunBrowserCommand(command, out, 10000);
    scan.Stop();
    EXPECT_TRUE(answered);
    EXPECT_NE(out.find(kAccess), std::string::npos);
    WipeString(out);
    ExpectNoLeak(scan);
}
