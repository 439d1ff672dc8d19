#pragma once
#include <curl/curl.h>

#include <string>

namespace authapp {

// One browser session over libcurl: cookies kept between requests, server certificates
// verified against the configured CA file.
class HttpSession {
  public:
    HttpSession(const std::string& caFile, long timeoutSeconds);
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    // GET (empty form) or POST of a form body; false when the transfer failed.
    // basicUser/basicPassword, when the user is not empty, add HTTP Basic credentials.
    bool request(const std::string& url, const std::string* form, long& status, std::string& body,
                 const std::string& basicUser = "", const std::string& basicPassword = "");
    std::string escape(const std::string& s);

  private:
    CURL* curl_;
};

}  // namespace authapp
