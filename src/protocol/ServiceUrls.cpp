#include "protocol/ServiceUrls.h"

#include "base/ErrorCodes.h"
#include "base/KelException.h"

BaseUrl DeriveBaseUrl(const std::string& url, const std::string& errorMessage) {
    UrlParts parts = SplitUrl(url);
    if (!parts.parsed) throw KelException(errorMessage, codes::kFail);
    // The path starts with "/"; the segment runs to the next "/" (a query
    // with no "/" before it stays in the segment).
    std::string::size_type next = parts.path.find('/', 1);
    BaseUrl result;
    result.segment = parts.path.substr(1, next == std::string::npos ? std::string::npos : next - 1);
    result.base = parts.base + "/" + result.segment;
    return result;
}

std::string MakeResourceUrn(const std::string& signServerSegment) {
    return "urn:veltra:kel:signserver:" + signServerSegment;
}

ServiceUrls DeriveServiceUrls(const std::string& authUrl, const std::string& restUrl,
                              const std::string& docstoreUrl) {
    ServiceUrls urls;
    BaseUrl sign = DeriveBaseUrl(restUrl, "Wrong sign server URL format");
    urls.signUrl = sign.base;
    urls.resourceUrn = MakeResourceUrn(sign.segment);
    urls.authUrl = DeriveBaseUrl(authUrl, "Wrong auth server URL format").base;
    if (!docstoreUrl.empty())
        urls.docstoreUrl =
            DeriveBaseUrl(docstoreUrl, "Wrong document store server URL format").base;
    return urls;
}
