#include "DocumentStore.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace localservice {

DocumentStore::DocumentStore(std::string dir) : dir_(std::move(dir)) {
    mkdir(dir_.c_str(), 0700);
}

DocumentStore::~DocumentStore() {
    clear();
}

std::string DocumentStore::newTempPath() {
    std::lock_guard<std::mutex> lock(mutex_);
    return dir_ + "/upload-" + std::to_string(getpid()) + "-" + std::to_string(++counter_) + "-" +
           randomId("", 6);
}

std::string DocumentStore::adopt(const std::string& tempPath, uint64_t size,
                                 const std::string& owner, const std::string& service) {
    std::string id = randomId("doc-", 12);
    std::string path = dir_ + "/" + id;
    if (rename(tempPath.c_str(), path.c_str()) != 0) return {};
    std::lock_guard<std::mutex> lock(mutex_);
    docs_[id] = {path, size, owner, service};
    return id;
}

std::string DocumentStore::addBytes(const Bytes& data, const std::string& owner,
                                    const std::string& service) {
    std::string temp = newTempPath();
    {
        std::ofstream out(temp, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data.data()),
                  static_cast<std::streamsize>(data.size()));
        if (!out) return {};
    }
    return adopt(temp, data.size(), owner, service);
}

bool DocumentStore::find(const std::string& id, const std::string& owner,
                         const std::string& service, Document& out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = docs_.find(id);
    if (it == docs_.end() || it->second.owner != owner || it->second.service != service)
        return false;
    out = it->second;
    return true;
}

bool DocumentStore::read(const std::string& id, const std::string& owner,
                         const std::string& service, uint64_t maxSize, Bytes& out) const {
    Document d;
    if (!find(id, owner, service, d) || d.size > maxSize) return false;
    std::ifstream in(d.path, std::ios::binary);
    out.resize(d.size);
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(d.size));
    return static_cast<uint64_t>(in.gcount()) == d.size;
}

bool DocumentStore::digest(const std::string& id, const std::string& owner,
                           const std::string& service, const EVP_MD* md, Bytes& out) const {
    Document d;
    if (!find(id, owner, service, d)) return false;
    std::ifstream in(d.path, std::ios::binary);
    if (!in) return false;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, md, nullptr);
    char buf[65536];
    while (in) {
        in.read(buf, sizeof(buf));
        if (in.gcount() > 0) EVP_DigestUpdate(ctx, buf, static_cast<size_t>(in.gcount()));
    }
    out.resize(static_cast<size_t>(EVP_MD_get_size(md)));
    unsigned int len = 0;
    EVP_DigestFinal_ex(ctx, out.data(), &len);
    EVP_MD_CTX_free(ctx);
    return true;
}

bool DocumentStore::remove(const std::string& id, const std::string& owner,
                           const std::string& service) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = docs_.find(id);
    if (it == docs_.end() || it->second.owner != owner || it->second.service != service)
        return false;
    unlink(it->second.path.c_str());
    docs_.erase(it);
    return true;
}

void DocumentStore::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& d : docs_) unlink(d.second.path.c_str());
    docs_.clear();
}

}  // namespace localservice
