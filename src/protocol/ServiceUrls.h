#pragma once
#include <string>

#include "config/UrlParts.h"

// A configured service URL reduced to origin + "/" + its first path segment.
struct BaseUrl {
    std::string base;     // e.g. "https://host:8443/signserver"
    std::string segment;  // e.g. "signserver"
};

// Splits `url` and keeps the origin and the first path segment; throws
// KelException(errorMessage, 0x80090020) when the URL does not split.
BaseUrl DeriveBaseUrl(const std::string& url, const std::string& errorMessage);

// "urn:veltra:kel:signserver:" + the sign server's first path segment.
std::string MakeResourceUrn(const std::string& signServerSegment);

// The base URLs of one service, as the connector keeps them.
struct ServiceUrls {
    std::string signUrl;
    std::string authUrl;
    std::string docstoreUrl;  // empty when the service has no document store
    std::string resourceUrn;
};

// Derives the base URLs of a service: the sign server first, then the auth
// server, then the document store when one is configured. Throws
// "Wrong sign server URL format", "Wrong auth server URL format" or
// "Wrong document store server URL format" (0x80090020).
ServiceUrls DeriveServiceUrls(const std::string& authUrl, const std::string& restUrl,
                              const std::string& docstoreUrl);

// Operation paths appended to the base URLs.
namespace service_paths {
constexpr const char kRestApi[] = "/rest/api/";
constexpr const char kAuthorize[] = "/oauth/authorize";
constexpr const char kToken[] = "/oauth/token";
constexpr const char kConfirmation[] = "/confirmation";
constexpr const char kConfirmationV2[] = "/v2.0/confirmation";
constexpr const char kSignOut[] = "/Authentication/SignOut";
constexpr const char kDocuments[] = "/api/documents";
}  // namespace service_paths
