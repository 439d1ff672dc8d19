#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "config/ServerSettings.h"

// An open cloud container: the handle to one key pair on the service. The
// setters change the object only; save() makes them persistent. Once deleted,
// every getter except name() and key_spec() throws
// KelException("The requested container is deleted", 0x8009000B).
class CloudContainerBase {
  public:
    static constexpr uint32_t kIdNotAsked = 0xFFFFFFFFu;
    static constexpr uint32_t kIdUnknown = 0xFFFFFFFEu;

    virtual ~CloudContainerBase();

    // Removes the link (or, with real_delete or for a placeholder, the
    // certificate) from the store.
    virtual void remove(bool real_delete) = 0;
    virtual void set_certificate(const std::vector<unsigned char>& certificate);
    virtual void set_auth_server(const std::string& url);
    virtual void set_sign_server(const std::string& url);
    virtual void set_certificate_id(uint32_t id);
    virtual void set_key_permissions(uint32_t value);
    virtual void set_extensions(const std::vector<unsigned char>& extensions);
    // Writes the container's data back to where it lives.
    virtual void save() = 0;
    virtual std::vector<unsigned char> certificate() const;
    virtual std::string auth_server() const;
    virtual std::string sign_server() const;
    // kIdNotAsked is returned as it is; kIdUnknown throws code 2.
    virtual uint32_t certificate_id() const;
    virtual uint32_t key_permissions() const;
    virtual std::vector<unsigned char> extensions() const;
    virtual std::string name() const;
    virtual uint32_t key_spec() const;

    // 0 found, 2 not found or deleted, 87 empty name, 0x80090020 before lookup.
    uint32_t status() const { return status_; }
    bool deleted() const { return deleted_ != 0; }
    bool machine() const { return machine_ != 0; }
    const ServerSettings& service() const { return service_; }

  protected:
    CloudContainerBase() = default;
    void ThrowIfDeleted() const;

    std::string name_;
    ServerSettings service_;
    std::vector<unsigned char> certificate_;
    std::vector<unsigned char> extensions_;
    uint32_t keyPermissions_ = 0;
    uint32_t certificateId_ = kIdNotAsked;
    uint32_t keySpec_ = 0;
    unsigned char deleted_ = 0;
    unsigned char machine_ = 0;
    uint32_t status_ = 0x80090020u;
};
