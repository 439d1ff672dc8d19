#include "config/RegistryAccess.h"

#include <cstring>

#include "base/ErrorCodes.h"
#include "base/KelException.h"
#include "base/Wipe.h"

namespace {

// A path copied into a bounded, NUL-terminated buffer (path plus terminator).
class PathBuffer {
  public:
    explicit PathBuffer(const std::string& path) {
        if (path.size() > MaxRegistryPath)
            throw KelException("Too long config parameter", codes::kInvalidParameter);
        std::memcpy(buffer_, path.data(), path.size());
        buffer_[path.size()] = '\0';
    }
    const char* c_str() const { return buffer_; }

  private:
    char buffer_[MaxRegistryPath + 1];
};

[[noreturn]] void ThrowRegistryError(const char* call, TSupErr code) {
    throw KelException(std::string(call) + " error: " + std::to_string(code), code);
}

}  // namespace

std::string RegGetString(const std::string& path) {
    PathBuffer p(path);
    size_t length = 0;
    TSupErr rc = support_registry_get_string(p.c_str(), &length, nullptr);
    if (rc == SUP_NOT_FOUND) return std::string();
    if (rc != SUP_OK) ThrowRegistryError("support_registry_get_string", rc);
    std::vector<char> buffer(length + 1, '\0');
    rc = support_registry_get_string(p.c_str(), &length, buffer.data());
    if (rc != SUP_OK) ThrowRegistryError("support_registry_get_string", rc);
    return std::string(buffer.data(), length < buffer.size() ? length : buffer.size() - 1);
}

void RegPutString(const std::string& path, const std::string& text) {
    PathBuffer p(path);
    TSupErr rc = support_registry_put_string(p.c_str(), text.c_str());
    if (rc != SUP_OK) ThrowRegistryError("support_registry_put_string", rc);
}

bool RegGetLong(const std::string& path, int32_t& value) {
    PathBuffer p(path);
    int32_t local = 0;
    TSupErr rc = support_registry_get_long(p.c_str(), &local);
    if (rc == SUP_NOT_FOUND) return false;
    if (rc != SUP_OK) ThrowRegistryError("support_registry_get_long", rc);
    value = local;
    return true;
}

void RegPutLong(const std::string& path, int32_t value) {
    PathBuffer p(path);
    TSupErr rc = support_registry_put_long(p.c_str(), value);
    if (rc != SUP_OK) ThrowRegistryError("support_registry_put_long", rc);
}

bool RegGetHex(const std::string& path, std::vector<unsigned char>& bytes) {
    PathBuffer p(path);
    size_t length = 0;
    TSupErr rc = support_registry_get_hex(p.c_str(), &length, nullptr);
    if (rc == SUP_NOT_FOUND) return false;
    if (rc != SUP_OK) ThrowRegistryError("support_registry_get_hex", rc);
    std::vector<unsigned char> value(length);
    rc = support_registry_get_hex(p.c_str(), &length, value.data());
    if (rc != SUP_OK) {
        WipeVector(value);
        ThrowRegistryError("support_registry_get_hex", rc);
    }
    if (length < value.size()) {
        WipeBytes(value.data() + length, value.size() - length);
        value.resize(length);
    }
    bytes.swap(value);
    WipeVector(value);  // the caller's previous contents
    return true;
}

void RegPutHex(const std::string& path, const void* data, size_t size) {
    PathBuffer p(path);
    TSupErr rc = support_registry_put_hex(p.c_str(), size, data);
    if (rc != SUP_OK) ThrowRegistryError("support_registry_put_hex", rc);
}

void RegPutHex(const std::string& path, const std::vector<unsigned char>& bytes) {
    RegPutHex(path, bytes.data(), bytes.size());
}

void RegDeleteParam(const std::string& path) {
    PathBuffer p(path);
    TSupErr rc = support_registry_delete_param(p.c_str(), 0);
    if ((rc & ~2u) != 0) ThrowRegistryError("support_registry_delete_param", rc);
}

bool RegDeleteSection(const std::string& parent, const std::string& name) {
    if (parent.size() > MaxRegistryPath || name.size() > MaxRegistryPath)
        throw KelException("Too long config parameter", codes::kInvalidParameter);
    PathBuffer parentPath(parent);
    PathBuffer namePath(name);
    PathBuffer fullPath(parent + "\\" + name);
    // An empty name would address the parent section itself.
    if (name.empty()) throw KelException("Invalid config section name", codes::kInvalidParameter);

    unsigned mode = 1;
    TSupErr rc = support_registry_check_access(fullPath.c_str(), &mode);
    if (rc == SUP_NOT_FOUND) return false;
    if (rc != SUP_OK) ThrowRegistryError("support_registry_check_access", rc);

    rc = support_registry_delete_section(parentPath.c_str(), namePath.c_str());
    if (rc != SUP_OK) ThrowRegistryError("support_registry_delete_section", rc);

    // Deleting the last subsection may take the parent with it; keep the parent.
    mode = 1;
    rc = support_registry_check_access(parentPath.c_str(), &mode);
    if (rc == SUP_NOT_FOUND) rc = support_registry_put_section(parentPath.c_str());
    if (rc != SUP_OK) ThrowRegistryError("support_registry_**_section", rc);
    return true;
}

RegistrySearch::RegistrySearch(const std::string& section) {
    PathBuffer p(section);
    TSupRegSearch* handle = nullptr;
    size_t count = 0;
    TSupErr rc = support_registry_search_open(p.c_str(), &handle, &count, 1);
    if (rc != SUP_OK) {
        if (handle) support_registry_search_close(handle);
        handle = nullptr;
    }
    handle_ = handle;
}

RegistrySearch::~RegistrySearch() {
    if (handle_) support_registry_search_close(handle_);
}

std::string RegistrySearch::Next() {
    if (!handle_ || finished_) return std::string();
    TSupRegValue* value = nullptr;
    if (support_registry_search_next(handle_, &value) != SUP_OK || !value) {
        finished_ = true;
        return std::string();
    }
    std::string name;
    size_t length = 0;
    if (support_registry_value_name(value, &length, nullptr) == SUP_OK) {
        std::vector<char> buffer(length + 1, '\0');
        if (support_registry_value_name(value, &length, buffer.data()) == SUP_OK)
            name = buffer.data();
    }
    support_registry_value_free(value);
    if (name.empty()) finished_ = true;
    return name;
}
