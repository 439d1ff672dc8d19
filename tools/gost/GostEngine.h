#pragma once
#include <openssl/evp.h>

#include <string>

namespace gost {

// The GOST engine of OpenSSL 3 (Debian package libengine-gost-openssl), loaded once per process
// from OpenSSL's engines directory ("gost.so"), or from the path in NIMBEX_GOST_ENGINE. Once
// loaded it is the default implementation of its algorithms in this process: GOST R 34.10-2012
// keys in PEM, DER and certificates, their signatures and key agreement, and the GOST R 34.11-2012
// digests. The system's OpenSSL configuration is neither read for this nor changed.
class Engine {
  public:
    // The process's engine; the first call loads it.
    static const Engine& Get();

    bool available() const { return handle_ != nullptr; }
    // The shared object tried.
    const std::string& path() const { return path_; }
    // Why the engine is not available ("" when it is).
    const std::string& problem() const { return problem_; }

    // GOST R 34.11-2012 with a 256-bit and a 512-bit result; null without the engine.
    const EVP_MD* streebog256() const { return streebog256_; }
    const EVP_MD* streebog512() const { return streebog512_; }

    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

  private:
    Engine();
    void* handle_ = nullptr;  // ENGINE*
    std::string path_;
    std::string problem_;
    const EVP_MD* streebog256_ = nullptr;
    const EVP_MD* streebog512_ = nullptr;
};

// Whether key is a GOST R 34.10-2012 key, and its size in bits (256 or 512; 0 for other keys).
unsigned KeyBits(const EVP_PKEY* key);

}  // namespace gost
