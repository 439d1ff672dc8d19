#pragma once
#include <http/UrlRetriever.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace nimbex_test {

// One request as it reached the HTTP client, with the settings it was sent with.
struct SentRequest {
    std::string url;
    std::vector<std::string> headers;
    std::string body;
    std::string method;   // empty: the client's default
    int32_t timeout = 0;  // 0: not set
    uint32_t errorLevel = 0;
    bool followRedirects = false;
    bool acceptCompressed = false;
    bool keepAlive = false;
};

// One scripted answer.
struct Answer {
    bool ok = true;
    std::string body;
    long status = 200;
    uint32_t errorCode = 0;

    static Answer Ok(std::string body) { return Answer{true, std::move(body), 200, 0}; }
    // A completed HTTP answer with an error status (the client fails with code 0).
    static Answer Status(long status, std::string body = std::string()) {
        return Answer{false, std::move(body), status, 0};
    }
    // A transport failure without an HTTP answer.
    static Answer Failure(uint32_t code) { return Answer{false, std::string(), 0, code}; }
};

// An HTTP client that sends nothing: it logs every request and answers from
// the script in order; past the end it fails with 12029. Nothing handed to it
// or scripted is released before it goes, so a freed-memory scan sees only
// the module's own copies.
class ScriptedHttpClient : public UrlRetriever {
  public:
    std::vector<SentRequest> sent;

    void Add(Answer answer) { script_.push_back(std::move(answer)); }

    int retrieve_url(const char* url) override {
        pending_.url = url;
        pending_.keepAlive = keep_alive();
        sent.push_back(std::move(pending_));
        current_ = next_ < script_.size() ? &script_[next_++] : &exhausted_;
        return current_->ok ? 1 : 0;
    }
    void set_post_data(const std::string& body) override { pending_.body = body; }
    void set_headers(const std::vector<std::string>& headers) override {
        pending_.headers = headers;
    }
    const char* get_data() const override { return current_->body.data(); }
    size_t get_data_length() const override { return current_->body.size(); }
    uint32_t get_error_code() const override { return current_->errorCode; }
    long get_http_status() const override { return current_->status; }
    void reset() override { pending_ = SentRequest(); }
    void set_error_level(uint32_t level) override { pending_.errorLevel = level; }
    void set_follow_redirects(bool on) override { pending_.followRedirects = on; }
    void set_accept_compressed(bool on) override { pending_.acceptCompressed = on; }
    void set_fail_on_http_error(int) override {}
    void set_timeout(int32_t milliseconds) override { pending_.timeout = milliseconds; }
    void set_method(const char* method) override { pending_.method = method ? method : ""; }
    void set_keep_error_body(int) override {}

  private:
    std::vector<Answer> script_;
    size_t next_ = 0;
    SentRequest pending_;
    Answer exhausted_ = Answer::Failure(12029);
    const Answer* current_ = &exhausted_;
};

}  // namespace nimbex_test
