#pragma once
#include <http/UrlRetriever.h>

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/SecretString.h"

// The module's only way to send an HTTP request. Applies the transport options
// to the shared HTTP client before every request and turns every failure into
// a KelException whose code tells a connection error, an HTTP status or a
// service error string apart.
class KelUrlRetriever {
  public:
    KelUrlRetriever(uint16_t timeout, uint32_t httpErrorLevel, bool permitHttp, bool keepAlive,
                    bool clientFlag);
    virtual ~KelUrlRetriever();

    // Sends the request and returns the response body. headers: header lines
    // (none when empty); body: none when empty; method: null for the client's
    // default (GET, or POST with a body). The URL, header lines and body may
    // carry secrets: the copies handed to the HTTP client are wiped afterwards.
    std::string Request(std::string_view url, const std::vector<SecretString>& headers,
                        std::string_view body, const char* method = nullptr);
    // The same for an answer that carries secrets (tokens).
    SecretString RequestSecret(std::string_view url, const std::vector<SecretString>& headers,
                               std::string_view body, const char* method = nullptr);

    // Code of a service error string; 0x80090020 when the string is unknown.
    static uint32_t LookupErrorCode(std::string_view error);

    void SetTimeout(uint16_t timeout) { timeout_ = timeout; }
    void SetHttpErrorLevel(uint32_t level) { httpErrorLevel_ = level; }
    void SetPermitHttp(bool permit) { permitHttp_ = permit; }
    void SetKeepAlive(bool keepAlive) { keepAlive_ = keepAlive; }
    uint16_t GetTimeout() const { return timeout_; }
    uint32_t GetHttpErrorLevel() const { return httpErrorLevel_; }
    bool GetPermitHttp() const { return permitHttp_; }
    bool GetKeepAlive() const { return keepAlive_; }
    bool GetClientFlag() const { return clientFlag_; }

    void SetUrlRetriever(boost::shared_ptr<UrlRetriever> client);
    boost::shared_ptr<UrlRetriever> GetUrlRetriever() const { return client_; }

  private:
    // Performs the request; the answer is the client's data (length bytes).
    const char* Perform(std::string_view url, const std::vector<SecretString>& headers,
                        std::string_view body, const char* method, size_t& length);

    bool clientFlag_;
    bool permitHttp_;
    bool keepAlive_;
    uint16_t timeout_;  // milliseconds; 0 keeps the client's own, 65535 means no limit
    uint32_t httpErrorLevel_;
    boost::shared_ptr<UrlRetriever> client_;
};
