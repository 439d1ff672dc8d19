// HTTP client of the platform: one request at a time over a reused connection.
//
// The sixteen virtual operations stay in this order (callers reach them by
// slot); anything added goes after the destructor and is non-virtual.
//
// HTTPS peers are always verified (certificate chain and host name) against
// the system CA store plus the optional extra CA file named by the environment
// variable NIMBEX_CA_FILE or, when that is unset, by the registry string
// "\config\KeyDevices\Cloud\CAFile". Instances in one process share DNS
// answers, TLS sessions and idle connections; a forked child starts afresh.
#ifndef NIMBEX_PLATFORM_HTTP_URLRETRIEVER_H
#define NIMBEX_PLATFORM_HTTP_URLRETRIEVER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Error codes of a failed request (slot 5).
namespace http_errors {
constexpr uint32_t kNone = 0;                       // no transport error (e.g. HTTP status >= 400)
constexpr uint32_t kOutOfMemory = 8;                // allocation failed
constexpr uint32_t kTimeout = 12002;                // time-out elapsed
constexpr uint32_t kInternalError = 12004;          // anything without a code of its own
constexpr uint32_t kInvalidUrl = 12005;             // malformed URL
constexpr uint32_t kUnrecognizedScheme = 12006;     // scheme other than http/https
constexpr uint32_t kNameNotResolved = 12007;        // host name did not resolve
constexpr uint32_t kCannotConnect = 12029;          // connection refused or unreachable
constexpr uint32_t kConnectionError = 12030;        // connection dropped while sending/receiving
constexpr uint32_t kInvalidServerResponse = 12152;  // not a valid HTTP answer
constexpr uint32_t kInvalidHeader = 12153;          // a header line with CR, LF or NUL in it
constexpr uint32_t kRedirectFailed = 12156;         // too many redirects
constexpr uint32_t kSecureChannelError = 12157;     // TLS: untrusted/mismatched cert, handshake
}  // namespace http_errors

class __attribute__((visibility("default"))) UrlRetriever {
  public:
    UrlRetriever();

    // 0: performs a request to url with the settings made since the last
    // reset. Non-zero when it completed, 0 when it failed (transport error,
    // or HTTP status >= 400 while fail-on-HTTP-error is set). The header lines
    // and the body are single-use: wiped from memory once the request is over.
    virtual int retrieve_url(const char* url);
    // 1: request body, sent as is; a non-empty body makes the default method POST.
    virtual void set_post_data(const std::string& body);
    // 2: request header lines ("Name: value"), sent as given. A line with a
    // CR, LF or NUL in it makes the request fail (12153) without sending
    // anything.
    virtual void set_headers(const std::vector<std::string>& headers);
    // 3: the response body bytes of the last request (not NUL-terminated).
    virtual const char* get_data() const;
    // 4: the response body length in bytes.
    virtual size_t get_data_length() const;
    // 5: error code of the last failed request (http_errors), 0 when none.
    virtual uint32_t get_error_code() const;
    // 6: HTTP status of the last response, 0 when there was none.
    virtual long get_http_status() const;
    // 7: forgets the last response and every per-request setting (slots 1, 2,
    // 8 to 14) so that the next request starts from the defaults. Keep-alive
    // and the TLS trust configuration are not per-request and stay.
    virtual void reset();
    // 8: error level. 0: silent; 1 or more: every failed request is reported
    // through the reader-support print facility (module "http", level 1) with
    // method, URL without query and fragment, code, status and reason.
    virtual void set_error_level(uint32_t level);
    // 9: follow redirects to the same origin (scheme, host, port), at most 5.
    // A redirect that is not followed completes the request and its target
    // URL becomes the response body.
    virtual void set_follow_redirects(bool follow);
    // 10: accept compressed answers (gzip, deflate, br) and decompress them.
    virtual void set_accept_compressed(bool accept);
    // 11: non-zero: an HTTP status >= 400 makes the request fail (slot 0
    // answers 0, slot 5 gives 0, slot 6 the status). 0: any answer completes.
    virtual void set_fail_on_http_error(int fail);
    // 12: time-out of the whole request in milliseconds, connect included;
    // -1 (any value <= 0) for no limit at all, connect included. Without a
    // call the client's own limits apply: 30 s to connect and abort when
    // less than 1 byte/s arrives for 60 s.
    virtual void set_timeout(int32_t milliseconds);
    // 13: custom request method (e.g. "DELETE"); null restores the default.
    virtual void set_method(const char* method);
    // 14: non-zero: keep the body of a failed HTTP answer for slots 3 and 4.
    // 0: a failed request leaves no body.
    virtual void set_keep_error_body(int keep);
    // 15
    virtual ~UrlRetriever();

    // Keep-alive (default on): off closes the connection after each request
    // and never reuses a pooled one. Not touched by reset().
    void set_keep_alive(bool keepAlive);
    bool keep_alive() const;

    // Request body sent straight from the caller's memory, like slot 1 but
    // without a copy: the bytes must stay valid and unchanged until
    // retrieve_url returns. The client never writes to them (so it does not
    // wipe them either); like slot 1 the setting is single-use and a later
    // slot 1 or reset() replaces it.
    void set_post_data_view(const char* data, size_t size);

    UrlRetriever(const UrlRetriever&) = delete;
    UrlRetriever& operator=(const UrlRetriever&) = delete;

  private:
    struct Impl;
    Impl* impl_;
};

#endif
