// Replaces the global allocation functions so that every block released while
// a watch is on is searched for the test's secrets: a block that still holds
// one was released without being wiped. Blocks released by the JSON library's
// own parser and writer are listed apart (their temporaries are out of the
// module's reach) and must not hide anything released by the module itself.
#include <dlfcn.h>
#include <execinfo.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <boost/make_shared.hpp>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>

#include "TempEnv.h"
#include "auth/AuthTokenSaver.h"
#include "auth/BrowserRunner.h"
#include "base/Wipe.h"
#include "config/ModuleOptions.h"
#include "config/RegistryAccess.h"
#include "operations/KelContainerConnector.h"
#include "protocol/HttpMessageSignatureCreator.h"

namespace {

constexpr std::size_t kHeader = 16;
const char* g_secrets[8];
std::size_t g_secretCount = 0;
std::atomic<bool> g_watch{false};
std::atomic<int> g_moduleLeaks{0};
std::atomic<int> g_libraryLeaks{0};
char g_firstLeak[256];
thread_local bool t_inCheck = false;

bool ReleasedByJsonLibrary() {
    void* frames[48];
    const int n = backtrace(frames, 48);
    for (int i = 0; i < n; ++i) {
        Dl_info info;
        if (dladdr(frames[i], &info) && info.dli_fname && std::strstr(info.dli_fname, "jsoncpp"))
            return true;
    }
    return false;
}

void Check(const void* block, std::size_t size) {
    if (!g_watch.load() || t_inCheck) return;
    t_inCheck = true;
    for (std::size_t i = 0; i < g_secretCount; ++i) {
        const std::size_t len = std::strlen(g_secrets[i]);
        if (size >= len && memmem(block, size, g_secrets[i], len)) {
            if (ReleasedByJsonLibrary()) {
                ++g_libraryLeaks;
            } else {
                if (std::getenv("WIPE_TRACE")) {
                    void* frames[48];
                    write(2, "LEAK\n", 5);
                    backtrace_symbols_fd(frames, backtrace(frames, 48), 2);
                }
                if (g_moduleLeaks++ == 0)
                    std::snprintf(g_firstLeak, sizeof g_firstLeak, "%s in a block of %zu bytes",
                                  g_secrets[i], size);
            }
            break;
        }
    }
    t_inCheck = false;
}

void* Allocate(std::size_t size) {
    void* base = std::malloc(size + kHeader);
    if (!base) throw std::bad_alloc();
    *static_cast<std::size_t*>(base) = size;
    return static_cast<char*>(base) + kHeader;
}

void Release(void* p) noexcept {
    if (!p) return;
    char* base = static_cast<char*>(p) - kHeader;
    Check(p, *reinterpret_cast<std::size_t*>(base));
    std::free(base);
}

}  // namespace

void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return operator new(size, std::nothrow);
}
void operator delete(void* p) noexcept {
    Release(p);
}
void operator delete[](void* p) noexcept {
    Release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    Release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    Release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    Release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    Release(p);
}

namespace {

const char kLogin[] = "login-SECRET-user-0123456789";
const char kPassword[] = "password-SECRET-0123456789abcdef";
const char kAccess[] = "access-SECRET-token-0123456789abcdef";
const char kAccess2[] = "access2-SECRET-token-0123456789abcdef";
const char kAccess3[] = "access3-SECRET-token-0123456789abcdef";
const char kConf[] = "conf-SECRET-token-0123456789abcdef";
const char kIdPayloadMark[] = "ZGVudGl0eS1TRUNSRVQ";  // part of the id token's payload

// An HTTP client whose answers and logs stay allocated for the whole test, so
// that only the module's own copies are released while the watch is on.
class KeepingService : public UrlRetriever {
  public:
    explicit KeepingService(std::vector<std::string> answers) : answers_(std::move(answers)) {
        log_.reserve(64);
        pending_.reserve(64);
    }
    int retrieve_url(const char* url) override {
        log_.emplace_back(url);
        current_ = next_ < answers_.size() ? &answers_[next_++] : nullptr;
        return current_ && *current_ != "FAIL" ? 1 : 0;
    }
    void set_post_data(const std::string& body) override { pending_.push_back(body); }
    void set_headers(const std::vector<std::string>& headers) override {
        for (const std::string& h : headers) pending_.push_back(h);
    }
    const char* get_data() const override { return current_ ? current_->data() : ""; }
    size_t get_data_length() const override {
        return current_ && *current_ != "FAIL" ? current_->size() : 0;
    }
    uint32_t get_error_code() const override { return 0; }
    long get_http_status() const override { return 401; }
    void reset() override {}
    void set_error_level(uint32_t) override {}
    void set_follow_redirects(bool) override {}
    void set_accept_compressed(bool) override {}
    void set_fail_on_http_error(int) override {}
    void set_timeout(int32_t) override {}
    void set_method(const char*) override {}
    void set_keep_error_body(int) override {}
    size_t Requests() const { return log_.size(); }

  private:
    std::vector<std::string> answers_;
    std::vector<std::string> log_;
    std::vector<std::string> pending_;
    const std::string* current_ = nullptr;
    size_t next_ = 0;
};

// A saver that keeps every token it is given.
class KeepingSaver : public AuthTokenSaver {
  public:
    KeepingSaver() { kept_.reserve(64); }
    void SaveAuthToken(const std::string& t) override { kept_.push_back(t); }
    void SaveIdToken(const std::string& t) override { kept_.push_back(t); }
    void SaveConfToken(const std::string& t) override { kept_.push_back(t); }
    std::string LoadAuthToken() override { return kAccess3; }
    std::string LoadIdToken() override { return std::string(); }
    std::string LoadConfToken() override { return kConf; }

  private:
    std::vector<std::string> kept_;
};

class Signer : public HttpMessageSignatureCreatorBase {
  public:
    std::string CreateSignature(const std::string&, const std::vector<std::string>& headers,
                                const std::string&) const override {
        return "VL-Signature: lines=" + std::to_string(headers.size());
    }
};

std::string IdToken() {
    // {"sub":"identity-SECRET-subject","exp":4102444800}
    return "eyJhbGciOiJub25lIn0.eyJzdWIiOiJpZGVudGl0eS1TRUNSRVQtc3ViamVjdCIsImV4cCI6NDEwMjQ0NDgwMH0"
           ".c2ln";
}

class SecretWipe : public ::testing::Test {
  protected:
    void SetUp() override {
        void* warm[4];
        backtrace(warm, 4);  // loads the unwinder before any watch
        g_secretCount = 0;
        for (const char* s :
             {kLogin, kPassword, kAccess, kAccess2, kAccess3, kConf, kIdPayloadMark})
            g_secrets[g_secretCount++] = s + 1;  // a moved-from copy has lost its first character
        g_moduleLeaks = 0;
        g_libraryLeaks = 0;
        g_firstLeak[0] = 0;
    }
    void Watch(bool on) { g_watch = on; }
    void ExpectNoModuleLeak() {
        EXPECT_EQ(g_moduleLeaks.load(), 0) << "first: " << g_firstLeak;
        RecordProperty("json_library_blocks", g_libraryLeaks.load());
    }
};

}  // namespace

TEST_F(SecretWipe, PasswordGrantRenewalAndDropLeaveNoCopies) {
    const std::string id = IdToken();
    auto service = boost::make_shared<KeepingService>(std::vector<std::string>{
        std::string("{\"access_token\":\"") + kAccess + "\",\"expires_in\":3600}",
        "FAIL",
        std::string("{\"access_token\":\"") + kAccess2 + "\",\"expires_in\":3600}",
        "\"done\"",
    });
    auto saver = boost::make_shared<KeepingSaver>();
    const std::string login(kLogin), password(kPassword), access(kAccess);
    std::vector<std::string> headers = {std::string("Authorization: Bearer ") + kAccess,
                                        "VL-Signature: old"};
    headers.reserve(8);
    Watch(true);
    {
        KelContainerConnector c("https://auth.test/a", "https://sign.test/s", "");
        c.SetUrlRetriever(service);
        c.SetMessageSignatureCreator(boost::make_shared<Signer>());
        c.SetCredentials(login, password);
        c.SetCredentials(login, password);  // replacing wipes the old copies
        c.EnsureAuthenticated();
        c.SetAuthTokenSaver(saver);  // loads kAccess3 and kConf over the tokens
        c.DropTokens();
        c.SetAccessToken(access);
        EXPECT_EQ(c.SendRequest("https://sign.test/s/rest/api/transactions", headers, "{}"),
                  "\"done\"");
    }
    Watch(false);
    EXPECT_EQ(service->Requests(), 4u);
    ExpectNoModuleLeak();
}

TEST_F(SecretWipe, SignInAnswersAndConfirmationLeaveNoCopies) {
    nimbex_test::TempEnv env;
    RegPutString(std::string(kModuleOptionsSection) + "AuthApp", "app");
    const std::string id = IdToken();
    const std::string browserLine = std::string("access_token=") + kAccess2 +
                                    "&expires_in=60&id_token=" + id + "&conf_token=" + kConf +
                                    "&conf_token_expires_in=60";
    auto service = boost::make_shared<KeepingService>(std::vector<std::string>{
        std::string("https://r/#access_token=") + kAccess + "&expires_in=60&id_token=" + id,
        R"({"IsError":false,"IsFinal":false,"Challenge":{"TextChallenge":[{"RefID":"r","AuthnMethod":"authenticationmethod/mobile"}]}})",
        std::string("{\"IsError\":false,\"IsFinal\":true,\"AccessToken\":\"") + kAccess3 +
            "\",\"ExpiresIn\":60,\"ConfToken\":\"" + kConf + "\",\"ConfTokenExpiresIn\":60}",
    });
    const std::string login(kLogin), empty;
    BrowserRunner browser = [&browserLine](const std::string&, std::string& out) {
        out.assign(browserLine);
        return true;
    };
    Watch(true);
    {
        KelContainerConnector c("https://auth.test/a", "https://sign.test/s", "", browser);
        c.SetUrlRetriever(service);
        c.SetPauseFunction([](unsigned) {});
        c.SetCredentials(login, empty);
        c.EnsureAuthenticated();     // silent authorization
        c.SignInInteractive("T-1");  // browser application
        c.ConfirmOperation("T-2");   // conf token held: answered silently
    }
    Watch(false);
    EXPECT_EQ(service->Requests(), 3u);
    ExpectNoModuleLeak();
}

TEST_F(SecretWipe, RepeatedAnswerParameterLeavesNoCopyOfTheReplacedValue) {
    // A later pair with the same key replaces the earlier value.
    nimbex_test::TempEnv env;
    RegPutString(std::string(kModuleOptionsSection) + "AuthApp", "app");
    const std::string browserLine = std::string("access_token=") + kAccess +
                                    "&access_token=" + kAccess2 +
                                    "&expires_in=60&id_token=" + IdToken();
    BrowserRunner browser = [&browserLine](const std::string&, std::string& out) {
        out.assign(browserLine);
        return true;
    };
    std::string access;
    access.reserve(64);
    Watch(true);
    {
        KelContainerConnector c("https://auth.test/a", "https://sign.test/s", "", browser);
        c.SignInInteractive("");
        access.assign(c.AccessToken().value);
    }
    Watch(false);
    EXPECT_EQ(access, kAccess2);
    ExpectNoModuleLeak();
}

TEST_F(SecretWipe, BrowserRunnerLeavesNoCopiesOfCommandOrAnswer) {
    // The command line carries sign-in hints; the answer line is long enough
    // to arrive in many reads.
    nimbex_test::TempDir dir;
    const std::string answerFile = dir.path() + "/answer";
    std::ofstream(answerFile) << "access_token=" << kAccess << "&state=" << std::string(3000, 'x')
                              << "\n";
    const std::string command = "cat '" + answerFile + "' # id_token_hint=" + kAccess2;
    std::string out;
    out.reserve(4096);
    Watch(true);
    const bool answered = RunBrowserCommand(command, out, 10000);
    Watch(false);
    EXPECT_TRUE(answered);
    EXPECT_NE(out.find(kAccess), std::string::npos);
    WipeString(out);
    ExpectNoModuleLeak();
}
