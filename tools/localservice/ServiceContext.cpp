#include "ServiceContext.h"

#include <stdexcept>

namespace localservice {

ServiceContext::ServiceContext(ServiceConfig config, const std::string& stateDir)
    : config_(std::move(config)), runtime_(config_.runtime) {
    ca_ = std::make_unique<CertificateAuthority>(stateDir);
    keys_ = std::make_unique<KeyStore>(stateDir, *ca_);
    keys_->loadConfigured(config_.users, runtime_.pinAttempts);
    documents_ = std::make_unique<DocumentStore>(stateDir + "/documents");
}

RuntimeSettings ServiceContext::runtime() const {
    std::lock_guard<std::mutex> lock(runtimeMutex_);
    return runtime_;
}

bool ServiceContext::configure(const Json::Value& doc, std::string& message) {
    std::lock_guard<std::mutex> lock(runtimeMutex_);
    try {
        ServiceConfig::applyRuntime(runtime_, doc);
        return true;
    } catch (const std::exception& e) {
        message = e.what();
        return false;
    }
}

void ServiceContext::resetState() {
    tokens_.clear();
    operations_.clear();
    documents_->clear();
    keys_->resetPins(runtime().pinAttempts);
}

bool ServiceContext::checkPassword(const std::string& login, const std::string& password) const {
    for (const auto& u : config_.users)
        if (u.login == login) return u.password == password;
    return false;
}

bool ServiceContext::knownUser(const std::string& login) const {
    for (const auto& u : config_.users)
        if (u.login == login) return true;
    return false;
}

}  // namespace localservice
