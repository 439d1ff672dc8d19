#pragma once
#include <openssl/evp.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "Codec.h"

namespace localservice {

// Documents kept on disk under the state directory, each owned by one user of one service.
class DocumentStore {
  public:
    struct Document {
        std::string path;
        uint64_t size = 0;
        std::string owner;
        std::string service;
    };

    explicit DocumentStore(std::string dir);
    ~DocumentStore();

    // A fresh path under the store for a body that is being streamed in.
    std::string newTempPath();
    // Takes over a file written at a path from newTempPath; returns the new document id.
    std::string adopt(const std::string& tempPath, uint64_t size, const std::string& owner,
                      const std::string& service);
    std::string addBytes(const Bytes& data, const std::string& owner, const std::string& service);
    bool find(const std::string& id, const std::string& owner, const std::string& service,
              Document& out) const;
    // Reads a document of at most maxSize bytes.
    bool read(const std::string& id, const std::string& owner, const std::string& service,
              uint64_t maxSize, Bytes& out) const;
    // Hashes a document without loading it whole.
    bool digest(const std::string& id, const std::string& owner, const std::string& service,
                const EVP_MD* md, Bytes& out) const;
    bool remove(const std::string& id, const std::string& owner, const std::string& service);
    void clear();

  private:
    std::string dir_;
    mutable std::mutex mutex_;
    std::map<std::string, Document> docs_;
    uint64_t counter_ = 0;
};

}  // namespace localservice
