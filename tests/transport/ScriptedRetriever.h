#pragma once
#include <http/UrlRetriever.h>

#include <string>
#include <vector>

// A UrlRetriever that sends nothing: it records every operation called on it
// and answers with a scripted result.
class ScriptedRetriever : public UrlRetriever {
  public:
    int result = 1;
    std::string response;
    uint32_t errorCode = 0;
    long status = 0;

    std::vector<std::string> calls;
    std::vector<std::string> headers;
    std::string body;
    bool keepAliveAtPerform = false;

    int retrieve_url(const char* url) override {
        calls.push_back(std::string("perform ") + url);
        keepAliveAtPerform = keep_alive();
        return result;
    }
    void set_post_data(const std::string& b) override {
        calls.push_back("body");
        body = b;
    }
    void set_headers(const std::vector<std::string>& h) override {
        calls.push_back("headers " + std::to_string(h.size()));
        headers = h;
    }
    const char* get_data() const override { return response.data(); }
    size_t get_data_length() const override { return response.size(); }
    uint32_t get_error_code() const override {
        const_cast<ScriptedRetriever*>(this)->calls.push_back("error_code");
        return errorCode;
    }
    long get_http_status() const override {
        const_cast<ScriptedRetriever*>(this)->calls.push_back("status");
        return status;
    }
    void reset() override { calls.push_back("reset"); }
    void set_error_level(uint32_t level) override {
        calls.push_back("error_level " + std::to_string(level));
    }
    void set_follow_redirects(bool on) override { calls.push_back("follow " + std::to_string(on)); }
    void set_accept_compressed(bool on) override {
        calls.push_back("compressed " + std::to_string(on));
    }
    void set_fail_on_http_error(int v) override { calls.push_back("fail " + std::to_string(v)); }
    void set_timeout(int32_t ms) override { calls.push_back("timeout " + std::to_string(ms)); }
    void set_method(const char* m) override { calls.push_back(std::string("method ") + m); }
    void set_keep_error_body(int v) override { calls.push_back("keep_body " + std::to_string(v)); }
};
