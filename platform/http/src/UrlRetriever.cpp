#include "http/UrlRetriever.h"

#include <curl/curl.h>
#include <openssl/crypto.h>
#include <openssl/ssl.h>
#include <strings.h>
#include <support/support.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>

#include "HttpErrors.h"
#include "HttpShare.h"
#include "TrustStore.h"

namespace {

constexpr long kConnectTimeoutMs = 30000;
// libcurl reads a connect limit of 0 as its own default (300 s): "no limit"
// is the largest value a long holds on every target.
constexpr long kNoConnectLimitMs = 0x7FFFFFFF;
constexpr long kLowSpeedTimeS = 60;
constexpr int kMaxRedirects = 5;
constexpr curl_off_t kMaxReserve = curl_off_t(256) << 20;

void WipeAndFree(curl_slist* list) {
    for (curl_slist* item = list; item != nullptr; item = item->next)
        if (item->data != nullptr) OPENSSL_cleanse(item->data, std::strlen(item->data));
    curl_slist_free_all(list);
}

void Wipe(std::string& s) {
    if (s.capacity() != 0) OPENSSL_cleanse(&s[0], s.capacity());
    s.clear();
}

// scheme://host:port of a URL, lower case; empty when it does not parse.
std::string Origin(const char* url) {
    std::string origin;
    CURLU* u = curl_url();
    if (u == nullptr) return origin;
    char *scheme = nullptr, *host = nullptr, *port = nullptr;
    if (curl_url_set(u, CURLUPART_URL, url, 0) == CURLUE_OK &&
        curl_url_get(u, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
        curl_url_get(u, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
        origin = std::string(scheme) + "://" + host + ":" + port;
        std::transform(origin.begin(), origin.end(), origin.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    }
    curl_free(scheme);
    curl_free(host);
    curl_free(port);
    curl_url_cleanup(u);
    return origin;
}

// URL without query and fragment, for failure reports (queries may carry tokens).
std::string WithoutQuery(const char* url) {
    std::string s(url);
    size_t cut = s.find_first_of("?#");
    if (cut != std::string::npos) s.erase(cut);
    return s;
}

TSupportPrint* LogHandle() {
    static TSupportPrint* handle = support_print_init2("http", 0x7F);
    return handle;
}

}  // namespace

struct UrlRetriever::Impl {
    // Connection state.
    CURL* curl = nullptr;
    uint64_t generation = 0;
    std::vector<CURL*> abandoned;  // handles inherited from a parent process
    bool keepAlive = true;
    bool caResolved = false;
    std::string caFile;

    // Per-request settings (cleared by reset).
    std::string body;
    const char* bodyView = nullptr;  // the caller's bytes, when the body is not copied
    size_t bodyViewSize = 0;
    bool hasBody = false;
    curl_slist* headers = nullptr;
    bool badHeader = false;
    curl_slist* noExpect = nullptr;  // used when no header lines are set
    std::string method;
    bool hasMethod = false;
    int32_t timeoutMs = 0;
    bool hasTimeout = false;
    uint32_t errorLevel = 0;
    bool follow = false;
    bool compressed = false;
    int failOnHttpError = 0;
    int keepErrorBody = 1;

    // Last response.
    std::string response;
    uint32_t errorCode = 0;
    long status = 0;
    char errorText[CURL_ERROR_SIZE] = {};

    ~Impl() {
        ClearRequest();
        Wipe(response);
        curl_slist_free_all(noExpect);
        if (curl != nullptr && generation == HttpForkGeneration()) HttpParkHandle(curl);
    }

    void ForgetSecrets() {
        Wipe(body);
        bodyView = nullptr;
        bodyViewSize = 0;
        hasBody = false;
        WipeAndFree(headers);
        headers = nullptr;
        badHeader = false;
    }

    void ClearRequest() {
        ForgetSecrets();
        method.clear();
        hasMethod = false;
        timeoutMs = 0;
        hasTimeout = false;
        errorLevel = 0;
        follow = false;
        compressed = false;
        failOnHttpError = 0;
        keepErrorBody = 1;
    }

    bool EnsureHandle() {
        uint64_t current = HttpForkGeneration();
        if (curl != nullptr && generation != current) {
            abandoned.push_back(curl);  // the parent's; never touched here
            curl = nullptr;
        }
        if (curl == nullptr) {
            curl = HttpTakeHandle();
            generation = current;
        }
        if (!caResolved) {
            caFile = ConfiguredCaFile();
            caResolved = true;
        }
        return curl != nullptr;
    }

    static size_t OnData(char* data, size_t size, size_t count, void* user) {
        Impl* self = static_cast<Impl*>(user);
        size_t n = size * count;
        try {
            if (self->response.empty()) {
                curl_off_t expected = -1;
                if (curl_easy_getinfo(self->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected) ==
                        CURLE_OK &&
                    expected > 0)
                    self->response.reserve(size_t(std::min(expected, kMaxReserve)));
            }
            self->response.append(data, n);
        } catch (...) {
            return 0;  // aborts the transfer with a write error
        }
        return n;
    }

    static CURLcode OnSslContext(CURL*, void* sslContext, void* user) {
        Impl* self = static_cast<Impl*>(user);
        X509_STORE* store = AcquireTrustStore(self->caFile);
        if (store == nullptr) return CURLE_SSL_CACERT_BADFILE;
        SSL_CTX_set_cert_store(static_cast<SSL_CTX*>(sslContext), store);  // takes our reference
        return CURLE_OK;
    }

    // Sets every option of one transfer on the (reset) handle.
    CURLcode Configure(const char* url, bool asGet) {
        CURLcode rc = CURLE_OK;
        auto set = [&](CURLoption option, auto value) {
            if (rc == CURLE_OK) rc = curl_easy_setopt(curl, option, value);
        };
        set(CURLOPT_URL, url);
        set(CURLOPT_PROTOCOLS_STR, "http,https");
        set(CURLOPT_NOSIGNAL, 1L);
        set(CURLOPT_ERRORBUFFER, errorText);
        set(CURLOPT_WRITEFUNCTION, &Impl::OnData);
        set(CURLOPT_WRITEDATA, this);

        // Verification is always on; trust = system CAs + the configured file.
        set(CURLOPT_SSL_VERIFYPEER, 1L);
        set(CURLOPT_SSL_VERIFYHOST, 2L);
        set(CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2));
        // The extra file's path also tells pooled connections and TLS sessions
        // made under different trust apart.
        set(CURLOPT_CAINFO, caFile.empty() ? nullptr : caFile.c_str());
        set(CURLOPT_CAPATH, static_cast<const char*>(nullptr));
        set(CURLOPT_SSL_CTX_FUNCTION, &Impl::OnSslContext);
        set(CURLOPT_SSL_CTX_DATA, this);

        // A configured time-out covers the connect as well: the client's own
        // 30-s connect limit applies only without one.
        if (hasTimeout) {
            set(CURLOPT_CONNECTTIMEOUT_MS, timeoutMs > 0 ? long(timeoutMs) : kNoConnectLimitMs);
            set(CURLOPT_TIMEOUT_MS, long(timeoutMs > 0 ? timeoutMs : 0));
        } else {
            set(CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
            set(CURLOPT_LOW_SPEED_LIMIT, 1L);
            set(CURLOPT_LOW_SPEED_TIME, kLowSpeedTimeS);
        }
        if (keepAlive) {
            set(CURLOPT_TCP_KEEPALIVE, 1L);
        } else {
            set(CURLOPT_FORBID_REUSE, 1L);
            set(CURLOPT_FRESH_CONNECT, 1L);
        }
        if (compressed) set(CURLOPT_ACCEPT_ENCODING, "");
        if (headers != nullptr) {
            set(CURLOPT_HTTPHEADER, headers);
        } else if (!asGet && hasBody) {
            // No "100-continue" round trip before large bodies.
            if (noExpect == nullptr) noExpect = curl_slist_append(nullptr, "Expect:");
            set(CURLOPT_HTTPHEADER, noExpect);
        }

        if (!asGet && hasBody) {
            // Not copied by libcurl: the bytes stay ours until the transfer is over.
            set(CURLOPT_POSTFIELDS, bodyView ? bodyView : body.data());
            set(CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(bodyView ? bodyViewSize : body.size()));
        }
        if (!asGet && hasMethod) {
            set(CURLOPT_CUSTOMREQUEST, method.c_str());
            if (strcasecmp(method.c_str(), "HEAD") == 0) set(CURLOPT_NOBODY, 1L);
        }
        return rc;
    }

    void Report(const char* url) {
        if (errorLevel == 0) return;
        TSupportPrint* log = LogHandle();
        if (log == nullptr || !support_print_is(log, 0x1041041)) return;
        support_print(log, 1, "", __LINE__, "retrieve_url", "%s %s failed: code %u, status %ld, %s",
                      hasMethod ? method.c_str() : (hasBody ? "POST" : "GET"),
                      WithoutQuery(url).c_str(), errorCode, status, errorText);
    }

    int Perform(const char* url) {
        Wipe(response);
        errorCode = 0;
        status = 0;
        errorText[0] = '\0';
        if (url == nullptr) {
            errorCode = http_errors::kInvalidUrl;
            return 0;
        }
        if (badHeader) {
            errorCode = http_errors::kInvalidHeader;
            Report(url);
            return 0;
        }
        if (!EnsureHandle()) {
            errorCode = http_errors::kOutOfMemory;
            return 0;
        }

        std::string current = url;
        std::string origin;  // worked out at the first redirect: most requests have none
        bool asGet = false;
        for (int hop = 0;; ++hop) {
            curl_easy_reset(curl);
            CURLcode rc = Configure(current.c_str(), asGet);
            if (rc == CURLE_OK) rc = curl_easy_perform(curl);
            curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
            if (rc != CURLE_OK) {
                errorCode = HttpErrorFromCurl(rc);
                Wipe(response);
                Report(url);
                return 0;
            }
            if (status >= 300 && status < 400) {
                char* target = nullptr;
                curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &target);
                if (target != nullptr) {
                    std::string next = target;
                    if (follow && origin.empty()) origin = Origin(url);
                    if (follow && !origin.empty() && Origin(next.c_str()) == origin) {
                        if (hop + 1 > kMaxRedirects) {
                            errorCode = http_errors::kRedirectFailed;
                            Wipe(response);
                            Report(url);
                            return 0;
                        }
                        // 303, and 301/302 after anything but GET, continue as GET.
                        if (status == 303 ||
                            ((status == 301 || status == 302) && (hasBody || hasMethod)))
                            asGet = true;
                        current = next;
                        Wipe(response);
                        continue;
                    }
                    // Not followed: the answer is where it points.
                    Wipe(response);
                    response = next;
                    return 1;
                }
            }
            if (status >= 400 && failOnHttpError != 0) {
                if (keepErrorBody == 0) Wipe(response);
                Report(url);
                return 0;
            }
            return 1;
        }
    }
};

UrlRetriever::UrlRetriever() : impl_(new Impl) {}

UrlRetriever::~UrlRetriever() {
    delete impl_;
}

int UrlRetriever::retrieve_url(const char* url) {
    int result = impl_->Perform(url);
    // Header lines (bearer tokens) and bodies (password grants) are single-use.
    impl_->ForgetSecrets();
    return result;
}

void UrlRetriever::set_post_data(const std::string& body) {
    Wipe(impl_->body);
    impl_->bodyView = nullptr;
    impl_->bodyViewSize = 0;
    impl_->body = body;
    impl_->hasBody = true;
}

void UrlRetriever::set_post_data_view(const char* data, size_t size) {
    Wipe(impl_->body);
    impl_->bodyView = size != 0 ? data : "";
    impl_->bodyViewSize = data != nullptr ? size : 0;
    impl_->hasBody = true;
}

void UrlRetriever::set_headers(const std::vector<std::string>& headers) {
    WipeAndFree(impl_->headers);
    impl_->headers = nullptr;
    impl_->badHeader = false;
    bool hasExpect = false;
    for (const std::string& line : headers) {
        if (strncasecmp(line.c_str(), "Expect:", 7) == 0) hasExpect = true;
        // A line break would smuggle further header lines into the request; a
        // NUL would send the line cut short of what the caller built.
        for (char c : line)
            if (c == '\r' || c == '\n' || c == '\0') impl_->badHeader = true;
        curl_slist* next = curl_slist_append(impl_->headers, line.c_str());
        if (next == nullptr) break;
        impl_->headers = next;
    }
    // No "100-continue" round trip before large bodies.
    if (!hasExpect) {
        if (curl_slist* next = curl_slist_append(impl_->headers, "Expect:")) impl_->headers = next;
    }
}

const char* UrlRetriever::get_data() const {
    return impl_->response.data();
}

size_t UrlRetriever::get_data_length() const {
    return impl_->response.size();
}

uint32_t UrlRetriever::get_error_code() const {
    return impl_->errorCode;
}

long UrlRetriever::get_http_status() const {
    return impl_->status;
}

void UrlRetriever::reset() {
    impl_->ClearRequest();
    Wipe(impl_->response);
    impl_->errorCode = 0;
    impl_->status = 0;
    impl_->errorText[0] = '\0';
}

void UrlRetriever::set_error_level(uint32_t level) {
    impl_->errorLevel = level;
}

void UrlRetriever::set_follow_redirects(bool follow) {
    impl_->follow = follow;
}

void UrlRetriever::set_accept_compressed(bool accept) {
    impl_->compressed = accept;
}

void UrlRetriever::set_fail_on_http_error(int fail) {
    impl_->failOnHttpError = fail;
}

void UrlRetriever::set_timeout(int32_t milliseconds) {
    impl_->timeoutMs = milliseconds;
    impl_->hasTimeout = true;
}

void UrlRetriever::set_method(const char* method) {
    impl_->hasMethod = method != nullptr;
    impl_->method = method != nullptr ? method : "";
}

void UrlRetriever::set_keep_error_body(int keep) {
    impl_->keepErrorBody = keep;
}

void UrlRetriever::set_keep_alive(bool keepAlive) {
    impl_->keepAlive = keepAlive;
}

bool UrlRetriever::keep_alive() const {
    return impl_->keepAlive;
}
