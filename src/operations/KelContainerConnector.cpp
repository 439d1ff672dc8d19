// Construction, state, configuration and token handling of KelContainerConnector.
#include "operations/KelContainerConnector.h"

#include <time.h>

#include <boost/make_shared.hpp>
#include <cerrno>

#include "auth/AuthTokenSaver.h"
#include "base/Wipe.h"
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

KelContainerConnector::~KelContainerConnector() {
    WipeString(login_);
    WipeString(password_);
    ClearTokens();
    WipeString(pendingConfirmation_);
}

boost::shared_ptr<ContainerConnectorBase> CreateKelContainerConnector(
    const std::string& authUrl, const std::string& signUrl, const std::string& docstoreUrl) {
    return boost::make_shared<KelContainerConnector>(authUrl, signUrl, docstoreUrl);
}

void KelContainerConnector::SetToken(TokenRecord& record, const std::string& value) {
    WipeString(record.value);
    record.value.assign(value);
}

void KelContainerConnector::ClearTokens() {
    for (TokenRecord* record : {&accessToken_, &idToken_, &confToken_}) {
        WipeString(record->value);
        record->expiry = TSupTime{0};
    }
    tokensCurrent_ = false;
}

void KelContainerConnector::SetPauseFunction(PauseFunction pause) {
    pause_ = pause ? std::move(pause) : PauseFunction(SleepMs);
}

void KelContainerConnector::SetCredentials(const std::string& login, const std::string& password) {
    WipeString(login_);
    login_.assign(login);
    WipeString(password_);
    password_.assign(password);
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

void KelContainerConnector::SetAccessToken(const std::string& token) {
    if (token.empty()) return;
    SetToken(accessToken_, token);
    tokensCurrent_ = true;
}

std::string KelContainerConnector::GetAccessToken() {
    EnsureAuthenticated();
    return accessToken_.value;
}

void KelContainerConnector::SetIdToken(const std::string& token) {
    if (token.empty()) return;
    SetToken(idToken_, token);
    tokensCurrent_ = true;
}

std::string KelContainerConnector::GetIdToken() {
    EnsureAuthenticated();
    return idToken_.value;
}

void KelContainerConnector::DropTokens() {
    ClearTokens();
    if (tokenSaver_) {
        tokenSaver_->SaveAuthToken(std::string());
        tokenSaver_->SaveIdToken(std::string());
        tokenSaver_->SaveConfToken(std::string());
    }
}

void KelContainerConnector::SetAuthTokenSaver(boost::shared_ptr<AuthTokenSaver> saver) {
    tokenSaver_ = saver;
    if (!tokenSaver_) return;
    std::string token = tokenSaver_->LoadAuthToken();
    SetAccessToken(token);
    WipeString(token);
    token = tokenSaver_->LoadIdToken();
    SetIdToken(token);
    WipeString(token);
    token = tokenSaver_->LoadConfToken();
    SetToken(confToken_, token);
    WipeString(token);
}

void KelContainerConnector::SetMessageSignatureCreator(
    boost::shared_ptr<HttpMessageSignatureCreatorBase> creator) {
    signatureCreator_ = creator;
}
