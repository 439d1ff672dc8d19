#include "transport/KelUrlRetriever.h"

#include <boost/make_shared.hpp>
#include <typeinfo>

#include "base/ErrorCodes.h"
#include "base/JsonFields.h"
#include "base/KelException.h"
#include "base/Wipe.h"

namespace {

struct ServiceError {
    std::string_view error;
    uint32_t code;
};

// The service's error strings and the codes they become.
constexpr ServiceError ErrorCodeTable[] = {
    {"content_required", codes::kBadData},
    {"invalid_request", codes::kBadKeysetParam},
    {"invalid_certificate", codes::kBadKeyset},
    {"invalid_signature_type", codes::kInvalidParameter},
    {"invalid_signature_params", codes::kInvalidParameter},
    {"invalid_hash_alg", codes::kBadAlgId},
    {"invalid_pin", codes::kWrongPin},
    {"key_blocked", codes::kPinBlocked},
    {"invalid_username", codes::kBadUserName},
    {"invalid_password", codes::kBadPassword},
    {"invalid_grant", codes::kBadUserName},
    {"internal_error", codes::kFail},
    {"unexpected_response", codes::kUnsupportedCard},
    {"launch_failed", codes::kProviderDllFail},
    {"cancelled_by_user", codes::kCancelled},
    {"invalid_http_message_signature", codes::kSecurityViolation},
    {"login_required", codes::kNotAuthenticated},
    {"max_request_length_exceeded", codes::kRequestTooLarge},
    {"authentication_declined", codes::kCancelled},
    {"invalid_transaction", codes::kCancelled},
    {"invalid_conf_token", codes::kSilentContext},
};

// The HTTP client takes std::string: its copies of the request are wiped when
// the request is done, on every path.
struct ClientCopies {
    std::string url;
    std::vector<std::string> headers;
    std::string body;
    ~ClientCopies() {
        WipeString(url);
        for (std::string& line : headers) WipeString(line);
        WipeString(body);
    }
};

}  // namespace

KelUrlRetriever::KelUrlRetriever(uint16_t timeout, uint32_t httpErrorLevel, bool permitHttp,
                                 bool keepAlive, bool clientFlag)
    : clientFlag_(clientFlag),
      permitHttp_(permitHttp),
      keepAlive_(keepAlive),
      timeout_(timeout),
      httpErrorLevel_(httpErrorLevel),
      client_(boost::make_shared<UrlRetriever>()) {}

KelUrlRetriever::~KelUrlRetriever() = default;

void KelUrlRetriever::SetUrlRetriever(boost::shared_ptr<UrlRetriever> client) {
    client_ = std::move(client);
}

uint32_t KelUrlRetriever::LookupErrorCode(std::string_view error) {
    for (const ServiceError& entry : ErrorCodeTable) {
        if (entry.error == error) return entry.code;
    }
    return codes::kFail;
}

std::string KelUrlRetriever::Request(std::string_view url, const std::vector<SecretString>& headers,
                                     std::string_view body, const char* method) {
    size_t length = 0;
    const char* data = Perform(url, headers, body, method, length);
    return length == 0 ? std::string() : std::string(data, length);
}

SecretString KelUrlRetriever::RequestSecret(std::string_view url,
                                            const std::vector<SecretString>& headers,
                                            std::string_view body, const char* method) {
    size_t length = 0;
    const char* data = Perform(url, headers, body, method, length);
    return length == 0 ? SecretString() : SecretString(data, length);
}

const char* KelUrlRetriever::Perform(std::string_view url, const std::vector<SecretString>& headers,
                                     std::string_view body, const char* method, size_t& length) {
    if (url.compare(0, 5, "https") != 0 && !permitHttp_)
        throw KelException("Usage of http protocol is restricted", codes::kHttpRestricted);

    if (!client_) throw KelException("The HTTP client is not set", codes::kFail);
    UrlRetriever& client = *client_;
    ClientCopies copies;
    copies.url.assign(url.data(), url.size());
    client.reset();
    client.set_fail_on_http_error(1);
    if (!headers.empty()) {
        copies.headers.reserve(headers.size());
        for (const SecretString& line : headers) copies.headers.emplace_back(line);
        client.set_headers(copies.headers);
    }
    if (!body.empty()) {
        // The platform's own client sends the caller's bytes where they lie (a
        // 100 MiB document is not copied twice more); a client of another
        // class gets its body setting, from a copy wiped afterwards.
        if (typeid(client) == typeid(UrlRetriever)) {
            client.set_post_data_view(body.data(), body.size());
        } else {
            copies.body.assign(body.data(), body.size());
            client.set_post_data(copies.body);
        }
    }
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

    if (client.retrieve_url(copies.url.c_str()) != 0) {
        length = client.get_data_length();
        return client.get_data();
    }

    uint32_t code = client.get_error_code();
    if (code == codes::kSecureChannelError)
        throw KelException("Connection error: " + std::to_string(code), code);
    if (code == 0) code = codes::kFail;
    long status = client.get_http_status();
    if (status == 400) {
        const size_t size = client.get_data_length();
        if (size == 0)
            throw KelException("No server response data. Server code: " + std::to_string(status),
                               code);
        std::string text(client.get_data(), size);
        std::string key = GetJsonStringField(text, "Message");
        if (key.empty()) key = GetJsonStringField(text, "error");
        throw KelException(text, LookupErrorCode(key));
    }
    std::string text = "Connection error: " + std::to_string(code);
    if (status != 0) text += ", Server code: " + std::to_string(status);
    throw KelException(text, code);
}
