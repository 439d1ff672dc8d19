// The connector under the freed-memory scan: no block it releases holds the
// login, the password or a token unwiped, on every path below (the auth answers
// decoded, the credential headers built and requests signed on the way). The
// connector is released inside the scan and its login is short, so the strings
// inside the connector object itself are searched too.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "AuthTestSupport.h"
#include "FreedMemoryScan.h"
#include "TempEnv.h"
#include "base/KelException.h"
#include "base/Wipe.h"
#include "config/ModuleOptions.h"
#include "config/RegistryAccess.h"

using namespace auth_test;

namespace {

using nimbex_test::FreedMemoryScan;

const char kLogin[] = "lg-SECRET-01";  // short enough for the string object itself
const char kPassword[] = "password-SECRET-0123456789abcdef";
const char kAccess[] = "access-SECRET-token-0123456789abcdef";
const char kAccess2[] = "access2-SECRET-token-0123456789abcdef";
const char kAccess3[] = "access3-SECRET-token-0123456789abcdef";
const char kConf[] = "conf-SECRET-token-0123456789abcdef";
const char kIdPayloadMark[] = "ZGVudGl0eS1TRUNSRVQ";  // part of the id token's payload
// {"sub":"identity-SECRET-subject","exp":4102444800}
const std::string kIdToken =
    "eyJhbGciOiJub25lIn0.eyJzdWIiOiJpZGVudGl0eS1TRUNSRVQtc3ViamVjdCIsImV4cCI6NDEwMjQ0NDgwMH0.c2ln";

// The Basic credentials of kLogin and kPassword.
const std::string kBasic = [] {
    const std::string text = std::string(kLogin) + ":" + kPassword;
    return EncodeBase64(text.data(), text.size());
}();

// Runs `body` under the scan and releases the rig's connector inside it.
void ExpectNoLeak(Rig& rig, const std::function<void()>& body) {
    FreedMemoryScan scan(
        {kLogin, kPassword, kAccess, kAccess2, kAccess3, kConf, kIdPayloadMark, kBasic.c_str()});
    body();
    rig.connector.reset();
    scan.Stop();
    EXPECT_EQ(scan.Leaks(), 0) << "first: " << scan.FirstLeak();
    ::testing::Test::RecordProperty("json_library_blocks", scan.LibraryLeaks());
}

}  // namespace

// The password grant's answer is unusable: the confirmation follows with the Basic
// credentials. The request sent again after the renewal is signed over its bearer line.
TEST(SecretWipe, PasswordGrantRenewalAndDropLeaveNoCopies) {
    Rig rig;
    rig.connector->SetSilent(true);
    HostContext host = {};  // the host's HMAC and random bytes, constant
    host.callbacks.hmac = [](auto, auto, auto, auto, auto, auto, auto, auto, auto, auto, auto, auto,
                             unsigned char* out, uint32_t* length) {
        std::memset(out, 0xAB, *length);
        return uint32_t(0);
    };
    host.callbacks.random = [](auto, auto, auto, auto, auto, auto, auto, unsigned char* out,
                               uintptr_t length) {
        std::memset(out, 0x5A, length);
        return uint32_t(0);
    };
    rig.service->Add(Answer::Ok("{\"expires_in\":60}"));
    rig.service->Add(Answer::Ok(std::string(R"({"IsError":false,"IsFinal":true,"AccessToken":")") +
                                kAccess + R"(","ExpiresIn":60})"));
    rig.service->Add(Answer::Status(401));
    rig.service->Add(
        Answer::Ok(std::string("{\"access_token\":\"") + kAccess2 + "\",\"expires_in\":3600}"));
    rig.service->Add(Answer::Ok("\"done\""));
    auto saver = boost::make_shared<MemorySaver>();
    saver->auth = kAccess3;
    saver->conf = kConf;
    const std::string login(kLogin), password(kPassword), access(kAccess);
    std::vector<SecretString> headers = {std::string("Authorization: Bearer ") + kAccess,
                                         "VL-Signature: old"};
    ExpectNoLeak(rig, [&] {
        KelContainerConnector& c = *rig.connector;
        c.SetMessageSignatureCreator(MakeMessageSignatureCreator(&host));
        c.SetCredentials(login, password);
        c.SetCredentials(login, password);  // replaces the first copies
        c.EnsureAuthenticated();
        c.SetAuthTokenSaver(saver);  // loads kAccess3 and kConf over the tokens
        c.DropTokens();
        c.SetAccessToken(access);
        EXPECT_EQ(c.SendRequest("https://sign.test/s/rest/api/transactions", headers, "{}"),
                  "\"done\"");
        headers.clear();
    });
    ASSERT_EQ(rig.service->sent.size(), 5u);
    EXPECT_EQ(rig.service->sent[1].headers[0], "Authorization: Basic " + kBasic);
    EXPECT_EQ(rig.service->sent[4].headers.back().rfind("VL-Signature: headers=", 0), 0u);
}

TEST(SecretWipe, SignInAnswersAndConfirmationLeaveNoCopies) {
    nimbex_test::TempEnv env;
    RegPutString(std::string(kModuleOptionsSection) + "AuthApp", "app");
    Rig rig;
    rig.service->Add(Answer::Ok(std::string("https://r/#access_token=") + kAccess +
                                "&expires_in=60&id_token=" + kIdToken));
    rig.service->Add(
        Answer::Ok(R"({"IsError":false,"IsFinal":false,"Challenge":{"TextChallenge":)"
                   R"([{"RefID":"r","AuthnMethod":"authenticationmethod/mobile"}]}})"));
    rig.service->Add(Answer::Ok(std::string(R"({"IsError":false,"IsFinal":true,"AccessToken":")") +
                                kAccess3 + R"(","ExpiresIn":60,"ConfToken":")" + kConf +
                                R"(","ConfTokenExpiresIn":60})"));
    // A later pair with the same name replaces the earlier value, which goes too.
    rig.browser.answers.push_back(std::string("access_token=") + kAccess + "&access_token=" +
                                  kAccess2 + "&expires_in=60&id_token=" + kIdToken +
                                  "&conf_token=" + kConf + "&conf_token_expires_in=60");
    // An answer that fails half-way over the tokens held.
    rig.browser.answers.push_back(std::string("access_token=") + kAccess3 +
                                  "&expires_in=0&id_token=" + kIdToken);
    const std::string login(kLogin), empty;
    ExpectNoLeak(rig, [&] {
        rig.connector->SetCredentials(login, empty);
        rig.connector->EnsureAuthenticated();     // silent authorization
        rig.connector->SignInInteractive("T-1");  // browser application
        rig.connector->ConfirmOperation("T-2");   // conf token held: answered silently
        EXPECT_THROW(rig.connector->SignInInteractive("T-3"), KelException);
    });
    EXPECT_EQ(rig.service->sent.size(), 3u);
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
    Rig rig;
    ExpectNoLeak(rig, [&] {
        EXPECT_TRUE(RunBrowserCommand(command, out, 10000));
        EXPECT_NE(out.find(kAccess), std::string::npos);
        WipeString(out);
    });
}
