#pragma once
#include <http/UrlRetriever.h>

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>
#include <deque>
#include <string>
#include <vector>

#include "protocol/HttpMessageSignatureCreator.h"

namespace auth_test {

// One request as it reached the HTTP client.
struct SentRequest {
    std::string url;
    std::vector<std::string> headers;
    std::string body;
    std::string method;  // empty: the client's default
};

// One scripted answer.
struct Answer {
    bool ok = true;
    std::string body;
    long status = 200;
    uint32_t errorCode = 0;

    static Answer Ok(const std::string& body) { return Answer{true, body, 200, 0}; }
    // A completed HTTP answer with an error status (the client reports failure, code 0).
    static Answer Status(long status, const std::string& body = std::string()) {
        return Answer{false, body, status, 0};
    }
    // A transport failure without an HTTP answer.
    static Answer Failure(uint32_t code) { return Answer{false, std::string(), 0, code}; }
};

// An HTTP client that sends nothing: it logs every request (kept until the
// object goes) and answers from a script; an exhausted script fails with 12029.
class ScriptedService : public UrlRetriever {
  public:
    std::deque<Answer> script;
    std::vector<SentRequest> sent;

    void Add(const Answer& answer) { script.push_back(answer); }

    int retrieve_url(const char* url) override {
        pending_.url = url;
        sent.push_back(pending_);
        if (script.empty()) {
            current_ = Answer::Failure(12029);
        } else {
            current_ = script.front();
            script.pop_front();
        }
        return current_.ok ? 1 : 0;
    }
    void set_post_data(const std::string& body) override { pending_.body = body; }
    void set_headers(const std::vector<std::string>& headers) override {
        pending_.headers = headers;
    }
    const char* get_data() const override { return current_.body.data(); }
    size_t get_data_length() const override { return current_.body.size(); }
    uint32_t get_error_code() const override { return current_.errorCode; }
    long get_http_status() const override { return current_.status; }
    void reset() override {
        // The previous request stays in the log; only the settings start afresh.
        kept_.push_back(pending_);
        pending_ = SentRequest();
    }
    void set_error_level(uint32_t) override {}
    void set_follow_redirects(bool) override {}
    void set_accept_compressed(bool) override {}
    void set_fail_on_http_error(int) override {}
    void set_timeout(int32_t) override {}
    void set_method(const char* method) override { pending_.method = method ? method : ""; }
    void set_keep_error_body(int) override {}

  private:
    SentRequest pending_;
    std::vector<SentRequest> kept_;  // the settings of earlier requests, kept alive
    Answer current_;
};

// A request signer that numbers its signatures and names the header lines
// it covered, so tests see which lines were signed and that a line is fresh.
class CountingSigner : public HttpMessageSignatureCreatorBase {
  public:
    mutable int count = 0;
    std::string CreateSignature(const std::string& url, const std::vector<std::string>& headers,
                                const std::string& body) const override {
        std::string line = "VL-Signature: n=" + std::to_string(++count) + " url=" + url +
                           " lines=" + std::to_string(headers.size());
        for (const std::string& h : headers) line += "|" + h.substr(0, h.find(':'));
        line += " body=" + std::to_string(body.size());
        return line;
    }
};

}  // namespace auth_test
