#include "transport/KelUrlRetriever.h"

#include <boost/make_shared.hpp>

#include "base/ErrorCodes.h"
#include "base/JsonFields.h"
#include "base/KelException.h"

KelUrlRetriever::KelUrlRetriever(uint16_t timeout, uint32_t httpErrorLevel, bool permitHttp,
                                 bool keepAlive, bool clientFlag)
    : clientFlag_(clientFlag),
      permitHttp_(permitHttp),
      keepAlive_(keepAlive),
      timeout_(timeout),
      httpErrorLevel_(httpErrorLevel),
      client_(boost::make_shared<UrlRetriever>()),
      ErrorCodeTable{
          {"content_required", codes::kBadData},
          {"invalid_request", codes::kBadKeysetParam},
          {"invalid_certificate", codes::kBadKeyset},
          {"invalid_signature_type", codes::kInvalidParameter},
          {"invalid_signature_params", codes::kInvalidParameter},
          {"invalid_hash_alg", codes::kBadAlgId},
          {"invalid_pin", codes::kWrongPin},
          {"key_blocked", codes::kPinBlocked},
          {"invalid_username", 2202},
          {"invalid_password", 86},
          {"invalid_grant", 2202},
          {"internal_error", codes::kFail},
          {"unexpected_response", codes::kUnsupportedCard},
          {"launch_failed", codes::kProviderDllFail},
          {"cancelled_by_user", codes::kCancelled},
          {"invalid_http_message_signature", codes::kSecurityViolation},
          {"login_required", 1244},
          {"max_request_length_exceeded", 4336},
          {"authentication_declined", codes::kCancelled},
          {"invalid_transaction", codes::kCancelled},
          {"invalid_conf_token", codes::kSilentContext},
      } {}

KelUrlRetriever::~KelUrlRetriever() = default;

void KelUrlRetriever::SetUrlRetriever(boost::shared_ptr<UrlRetriever> client) {
    client_ = std::move(client);
}

uint32_t KelUrlRetriever::LookupErrorCode(const std::string& error) const {
    auto it = ErrorCodeTable.find(error);
    return it == ErrorCodeTable.end() ? codes::kFail : it->second;
}

std::string KelUrlRetriever::Request(const std::string& url,
                                     const std::vector<std::string>& headers,
                                     const std::string& body, const char* method) {
    if (url.compare(0, 5, "https") != 0 && !permitHttp_)
        throw KelException("Usage of http protocol is restricted", codes::kHttpRestricted);

    if (!client_) throw KelException("The HTTP client is not set", codes::kFail);
    UrlRetriever& client = *client_;
    client.reset();
    client.set_fail_on_http_error(1);
    if (!headers.empty()) client.set_headers(headers);
    if (!body.empty()) client.set_post_data(body);
    if (timeout_ != 0) client.set_timeout(timeout_ == 65535 ? -1 : int32_t(timeout_));
    client.set_follow_redirects(clientFlag_);
    client.set_accept_compressed(clientFlag_);
    client.set_error_level(httpErrorLevel_);
    if (method != nullptr) client.set_method(method);
    client.set_keep_error_body(1);
    // Keep-alive is a connection setting of the client, outside the numbered
    // operations; it is handed over with every request so that a change of
    // the option takes effect on the next one.
    client.set_keep_alive(keepAlive_);

    if (client.retrieve_url(url.c_str()) != 0) {
        size_t length = client.get_data_length();
        if (length == 0) return std::string();
        return std::string(client.get_data(), length);
    }

    uint32_t code = client.get_error_code();
    if (code == codes::kSecureChannelError)
        throw KelException("Connection error: " + std::to_string(code), code);
    if (code == 0) code = codes::kFail;
    long status = client.get_http_status();
    if (status == 400) {
        size_t length = client.get_data_length();
        if (length == 0)
            throw KelException("No server response data. Server code: " + std::to_string(status),
                               code);
        std::string text(client.get_data(), length);
        std::string key = GetJsonStringField(text, "Message");
        if (key.empty()) key = GetJsonStringField(text, "error");
        throw KelException(text, LookupErrorCode(key));
    }
    std::string text = "Connection error: " + std::to_string(code);
    if (status != 0) text += ", Server code: " + std::to_string(status);
    throw KelException(text, code);
}
