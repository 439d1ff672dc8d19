#include "HttpSession.h"

#include <stdexcept>

#include "Secret.h"

namespace authapp {

namespace {
size_t collect(char* data, size_t size, size_t n, void* user) {
    static_cast<std::string*>(user)->append(data, size * n);
    return size * n;
}
}  // namespace

HttpSession::HttpSession(const std::string& caFile, long timeoutSeconds) {
    curl_ = curl_easy_init();
    if (!curl_) throw std::runtime_error("curl_easy_init failed");
    curl_easy_setopt(curl_, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(curl_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl_, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT, timeoutSeconds);
    if (!caFile.empty()) curl_easy_setopt(curl_, CURLOPT_CAINFO, caFile.c_str());
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, collect);
}

HttpSession::~HttpSession() {
    curl_easy_cleanup(curl_);
}

bool HttpSession::request(const std::string& url, const std::string* form, long& status,
                          std::string& body, const std::string& basicUser,
                          const std::string& basicPassword) {
    body.clear();
    status = 0;
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &body);
    if (form) {
        curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, form->c_str());
        curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(form->size()));
    } else {
        curl_easy_setopt(curl_, CURLOPT_HTTPGET, 1L);
    }
    if (!basicUser.empty()) {
        curl_easy_setopt(curl_, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
        curl_easy_setopt(curl_, CURLOPT_USERNAME, basicUser.c_str());
        curl_easy_setopt(curl_, CURLOPT_PASSWORD, basicPassword.c_str());
    } else {
        curl_easy_setopt(curl_, CURLOPT_USERNAME, nullptr);
        curl_easy_setopt(curl_, CURLOPT_PASSWORD, nullptr);
    }
    CURLcode rc = curl_easy_perform(curl_);
    curl_easy_setopt(curl_, CURLOPT_USERNAME, nullptr);
    curl_easy_setopt(curl_, CURLOPT_PASSWORD, nullptr);
    if (rc != CURLE_OK) return false;
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
    return true;
}

std::string HttpSession::escape(const std::string& s) {
    char* e = curl_easy_escape(curl_, s.c_str(), static_cast<int>(s.size()));
    std::string out = e ? e : "";
    if (e) {
        explicit_bzero(e, out.size());
        curl_free(e);
    }
    return out;
}

}  // namespace authapp
