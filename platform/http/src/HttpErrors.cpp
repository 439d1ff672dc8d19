#include "HttpErrors.h"

#include "http/UrlRetriever.h"

uint32_t HttpErrorFromCurl(CURLcode code) {
    using namespace http_errors;
    switch (code) {
        case CURLE_OK:
            return kNone;
        case CURLE_OUT_OF_MEMORY:
            return kOutOfMemory;
        case CURLE_OPERATION_TIMEDOUT:
            return kTimeout;
        case CURLE_URL_MALFORMAT:
            return kInvalidUrl;
        case CURLE_UNSUPPORTED_PROTOCOL:
            return kUnrecognizedScheme;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return kNameNotResolved;
        case CURLE_COULDNT_CONNECT:
            return kCannotConnect;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
            return kConnectionError;
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
        case CURLE_BAD_CONTENT_ENCODING:
            return kInvalidServerResponse;
        case CURLE_TOO_MANY_REDIRECTS:
            return kRedirectFailed;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_SSL_CLIENTCERT:
        case CURLE_USE_SSL_FAILED:
            return kSecureChannelError;
        default:
            return kInternalError;
    }
}
