// The limits the HTTP client hands to libcurl. This executable defines
// curl_easy_setopt, so the client's calls land here first; each is recorded
// and passed on to libcurl's own.
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <http/UrlRetriever.h>

#include <climits>
#include <cstdarg>
#include <map>
#include <string>

namespace {

std::map<CURLoption, long> g_longOptions;  // the last value of each long option

}  // namespace

extern "C" CURLcode curl_easy_setopt(CURL* curl, CURLoption option, ...) {
    using Setopt = CURLcode (*)(CURL*, CURLoption, ...);
    static const Setopt real = reinterpret_cast<Setopt>(dlsym(RTLD_NEXT, "curl_easy_setopt"));
    va_list args;
    va_start(args, option);
    CURLcode rc;
    if (option < CURLOPTTYPE_OBJECTPOINT) {
        const long value = va_arg(args, long);
        g_longOptions[option] = value;
        rc = real(curl, option, value);
    } else if (option >= CURLOPTTYPE_OFF_T && option < CURLOPTTYPE_BLOB) {
        rc = real(curl, option, va_arg(args, curl_off_t));
    } else {
        rc = real(curl, option, va_arg(args, void*));
    }
    va_end(args);
    return rc;
}

namespace {

// A loopback port nobody listens on (binding it needs privileges): the request
// fails at once, after the client has set every option of the transfer.
const char kRefusedUrl[] = "http://127.0.0.1:1/";

// The long option as the last request set it, -1 when it was not set.
long Option(CURLoption option) {
    auto it = g_longOptions.find(option);
    return it == g_longOptions.end() ? -1 : it->second;
}

}  // namespace

TEST(UrlRetrieverOptions, ConnectLimitFollowsTheConfiguredTimeout) {
    constexpr long kDay = 24L * 3600 * 1000;
    const struct {
        bool set;
        int32_t timeout;
        long connectAtLeast, connectAtMost, total;
    } cases[] = {
        {false, 0, 30000, 30000, -1},        // the client's own: 30 s to connect
        {true, -1, 24 * kDay, LONG_MAX, 0},  // no limit: none on connecting either
        {true, 0, 24 * kDay, LONG_MAX, 0},
        {true, 45000, 45000, 45000, 45000},  // above the client's own 30 s
        {true, 65534, 65534, 65534, 65534},
        {true, 200, 200, 200, 200},
    };
    UrlRetriever client;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.set ? std::to_string(c.timeout) : std::string("not set"));
        client.reset();
        if (c.set) client.set_timeout(c.timeout);
        g_longOptions.clear();
        EXPECT_EQ(client.retrieve_url(kRefusedUrl), 0);
        EXPECT_EQ(client.get_error_code(), http_errors::kCannotConnect);
        ASSERT_FALSE(g_longOptions.empty()) << "curl_easy_setopt was not seen";
        EXPECT_GE(Option(CURLOPT_CONNECTTIMEOUT_MS), c.connectAtLeast);
        EXPECT_LE(Option(CURLOPT_CONNECTTIMEOUT_MS), c.connectAtMost);
        EXPECT_EQ(Option(CURLOPT_TIMEOUT_MS), c.total);
        // Without a time-out a stalled transfer is abandoned after 60 s.
        EXPECT_EQ(Option(CURLOPT_LOW_SPEED_TIME), c.set ? -1 : 60);
    }
}
