// Construction, state, configuration and token handling of KelContainerConnector.
#include "operations/KelContainerConnector.h"

#include <time.h>

#include <boost/make_shared.hpp>
#include <cerrno>

#include "auth/AuthTokenSaver.h"
#include "protocol/HttpMessageSignatureCreator.h"
#include "protocol/ServiceUrls.h"

const char kOAuthClientId[] = "veltra.cloud.csp";

namespace {

void SleepMs(unsigned milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace

KelContainerConnector::KelContainerConnector(const std::string& authUrl, const std::string& signUrl,
                                             const std::string& docstoreUrl, BrowserRunner runner)
    : KelUrlRetriever(0, 0, false, true, true),
      browserRunner_(runner ? std::move(runner) : BrowserRunner(DefaultBrowserRunner)),
      pause_(SleepMs) {
    const ServiceUrls urls = DeriveServiceUrls(authUrl, signUrl, docstoreUrl);
    signUrl_ = urls.signUrl;
    authUrl_ = urls.authUrl;
    docstoreUrl_ = urls.docstoreUrl;
    resourceUrn_ = urls.resourceUrn;
}

KelContainerConnector::~KelContainerConnector() = default;

boost::shared_ptr<ContainerConnectorBase> CreateKelContainerConnector(
    const std::string& authUrl, const std::string& signUrl, const std::string& docstoreUrl) {
    return boost::make_shared<KelContainerConnector>(authUrl, signUrl, docstoreUrl);
}

void KelContainerConnector::ClearTokens() {
    for (TokenRecord* record : {&accessToken_, &idToken_, &confToken_}) {
        record->value.Wipe();
        record->expiry = TSupTime{0};
    }
    tokensCurrent_ = false;
}

void KelContainerConnector::SetCredentials(std::string_view login, std::string_view password) {
    login_ = login;
    password_ = password;
}

void KelContainerConnector::SetSilent(bool silent) {
    silent_ = silent;
}

void KelContainerConnector::SetHttpErrorLevel(uint32_t level) {
    KelUrlRetriever::SetHttpErrorLevel(level);
}

void KelContainerConnector::SetUrlRetriever(boost::shared_ptr<UrlRetriever> client) {
    KelUrlRetriever::SetUrlRetriever(client);
}

void KelContainerConnector::SetPermitHttp(bool permit) {
    KelUrlRetriever::SetPermitHttp(permit);
}

void KelContainerConnector::SetKeepAlive(bool keepAlive) {
    KelUrlRetriever::SetKeepAlive(keepAlive);
}

void KelContainerConnector::SetTimeout(uint16_t milliseconds) {
    KelUrlRetriever::SetTimeout(milliseconds);
}

uint16_t KelContainerConnector::GetTimeout() {
    return KelUrlRetriever::GetTimeout();
}

bool KelContainerConnector::HasDocumentStore() {
    return !docstoreUrl_.empty();
}

void KelContainerConnector::SetAccessToken(std::string_view token) {
    if (token.empty()) return;
    accessToken_.value = token;
    tokensCurrent_ = true;
}

SecretString KelContainerConnector::GetAccessToken() {
    EnsureAuthenticated();
    return accessToken_.value;
}

void KelContainerConnector::SetIdToken(std::string_view token) {
    if (token.empty()) return;
    idToken_.value = token;
    tokensCurrent_ = true;
}

SecretString KelContainerConnector::GetIdToken() {
    EnsureAuthenticated();
    return idToken_.value;
}

void KelContainerConnector::DropTokens() {
    ClearTokens();
    if (tokenSaver_) {
        tokenSaver_->SaveAuthToken(SecretString());
        tokenSaver_->SaveIdToken(SecretString());
        tokenSaver_->SaveConfToken(SecretString());
    }
}

void KelContainerConnector::SetAuthTokenSaver(boost::shared_ptr<AuthTokenSaver> saver) {
    tokenSaver_ = saver;
    if (!tokenSaver_) return;
    // Tokens loaded here are used without an expiry check while current.
    SecretString token = tokenSaver_->LoadAuthToken();
    if (!token.empty()) {
        accessToken_.value = std::move(token);
        tokensCurrent_ = true;
    }
    token = tokenSaver_->LoadIdToken();
    if (!token.empty()) {
        idToken_.value = std::move(token);
        tokensCurrent_ = true;
    }
    confToken_.value = tokenSaver_->LoadConfToken();
}

void KelContainerConnector::SetMessageSignatureCreator(
    boost::shared_ptr<HttpMessageSignatureCreatorBase> creator) {
    signatureCreator_ = creator;
}
