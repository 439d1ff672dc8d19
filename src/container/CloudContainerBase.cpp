#include "container/CloudContainerBase.h"

#include "base/ErrorCodes.h"
#include "base/KelException.h"

CloudContainerBase::~CloudContainerBase() = default;

void CloudContainerBase::ThrowIfDeleted() const {
    if (deleted_) throw KelException("The requested container is deleted", codes::kKeysetDeleted);
}

void CloudContainerBase::set_certificate(const std::vector<unsigned char>& certificate) {
    certificate_ = certificate;
}

void CloudContainerBase::set_auth_server(const std::string& url) {
    service_.authUrl = url;
}

void CloudContainerBase::set_sign_server(const std::string& url) {
    service_.restUrl = url;
}

void CloudContainerBase::set_certificate_id(uint32_t id) {
    certificateId_ = id;
}

void CloudContainerBase::set_key_permissions(uint32_t value) {
    keyPermissions_ = value;
}

void CloudContainerBase::set_extensions(const std::vector<unsigned char>& extensions) {
    extensions_ = extensions;
}

std::vector<unsigned char> CloudContainerBase::certificate() const {
    ThrowIfDeleted();
    if (certificate_.empty())
        throw KelException("The requested certificate is wrong", codes::kNotFound);
    return certificate_;
}

std::string CloudContainerBase::auth_server() const {
    ThrowIfDeleted();
    if (service_.authUrl.empty())
        throw KelException("The requested authentication server is wrong", codes::kNotFound);
    return service_.authUrl;
}

std::string CloudContainerBase::sign_server() const {
    ThrowIfDeleted();
    if (service_.restUrl.empty())
        throw KelException("The requested sign server is wrong", codes::kNotFound);
    return service_.restUrl;
}

uint32_t CloudContainerBase::certificate_id() const {
    ThrowIfDeleted();
    if (certificateId_ == kIdUnknown)
        throw KelException("The requested certificate id is wrong", codes::kNotFound);
    return certificateId_;
}

uint32_t CloudContainerBase::key_permissions() const {
    ThrowIfDeleted();
    return keyPermissions_;
}

std::vector<unsigned char> CloudContainerBase::extensions() const {
    ThrowIfDeleted();
    return extensions_;
}

std::string CloudContainerBase::name() const {
    return name_;
}

uint32_t CloudContainerBase::key_spec() const {
    return keySpec_;
}
