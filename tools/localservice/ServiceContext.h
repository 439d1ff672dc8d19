#pragma once
#include <memory>
#include <mutex>
#include <string>

#include "CertificateAuthority.h"
#include "DocumentStore.h"
#include "FaultInjector.h"
#include "KeyStore.h"
#include "OperationRegistry.h"
#include "RequestLog.h"
#include "ServiceConfig.h"
#include "TokenIssuer.h"

namespace localservice {

// Everything the endpoints share: configuration, keys, tokens, pending operations, documents,
// the request log and the injected faults.
class ServiceContext {
  public:
    ServiceContext(ServiceConfig config, const std::string& stateDir);

    const ServiceConfig& config() const { return config_; }
    RuntimeSettings runtime() const;
    // Applies a runtime document; false with a message for a bad one.
    bool configure(const Json::Value& doc, std::string& message);
    // Drops tokens, sessions, pending operations and documents and restores the PINs.
    void resetState();

    void setBaseUrl(const std::string& url) { baseUrl_ = url; }
    const std::string& baseUrl() const { return baseUrl_; }
    std::string authUrl(const ServiceEntry& s) const { return baseUrl_ + "/" + s.authSegment(); }
    std::string signUrl(const ServiceEntry& s) const { return baseUrl_ + "/" + s.name; }
    std::string docsUrl(const ServiceEntry& s) const {
        return s.documentStore ? baseUrl_ + "/" + s.docsSegment() : std::string();
    }

    // Login and password check; false for an unknown user or a wrong password.
    bool checkPassword(const std::string& login, const std::string& password) const;
    bool knownUser(const std::string& login) const;

    const CertificateAuthority& ca() const { return *ca_; }
    KeyStore& keys() { return *keys_; }
    TokenIssuer& tokens() { return tokens_; }
    OperationRegistry& operations() { return operations_; }
    DocumentStore& documents() { return *documents_; }
    RequestLog& log() { return log_; }
    FaultInjector& faults() { return faults_; }

  private:
    ServiceConfig config_;
    mutable std::mutex runtimeMutex_;
    RuntimeSettings runtime_;
    std::string baseUrl_;
    std::unique_ptr<CertificateAuthority> ca_;
    std::unique_ptr<KeyStore> keys_;
    TokenIssuer tokens_;
    OperationRegistry operations_;
    std::unique_ptr<DocumentStore> documents_;
    RequestLog log_;
    FaultInjector faults_;
};

}  // namespace localservice
