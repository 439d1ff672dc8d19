#pragma once
#include <capi/wincrypt.h>

#include <vector>

// Owners of certificate-store handles and certificate contexts, released on
// every path.
class StoreHandle {
  public:
    StoreHandle() = default;
    explicit StoreHandle(HCERTSTORE store) : store_(store) {}
    ~StoreHandle() { Reset(); }
    StoreHandle(const StoreHandle&) = delete;
    StoreHandle& operator=(const StoreHandle&) = delete;
    HCERTSTORE get() const { return store_; }
    explicit operator bool() const { return store_ != nullptr; }
    void Reset(HCERTSTORE store = nullptr) {
        if (store_) CertCloseStore(store_, 0);
        store_ = store;
    }

  private:
    HCERTSTORE store_ = nullptr;
};

class CertContextHandle {
  public:
    CertContextHandle() = default;
    explicit CertContextHandle(PCCERT_CONTEXT context) : context_(context) {}
    ~CertContextHandle() { Reset(); }
    CertContextHandle(const CertContextHandle&) = delete;
    CertContextHandle& operator=(const CertContextHandle&) = delete;
    PCCERT_CONTEXT get() const { return context_; }
    explicit operator bool() const { return context_ != nullptr; }
    // Gives up ownership.
    PCCERT_CONTEXT release() {
        PCCERT_CONTEXT c = context_;
        context_ = nullptr;
        return c;
    }
    void Reset(PCCERT_CONTEXT context = nullptr) {
        if (context_) CertFreeCertificateContext(context_);
        context_ = context;
    }

  private:
    PCCERT_CONTEXT context_ = nullptr;
};

// A property read with the size query first. False when either call fails
// (the last error tells why). The buffer is 8-byte aligned, so a
// CRYPT_KEY_PROV_INFO block can be read in place.
class PropertyBuffer {
  public:
    bool Read(PCCERT_CONTEXT context, DWORD propId);
    const unsigned char* data() const {
        return reinterpret_cast<const unsigned char*>(words_.data());
    }
    DWORD size() const { return size_; }
    const CRYPT_KEY_PROV_INFO* KeyProvInfo() const {
        return size_ >= sizeof(CRYPT_KEY_PROV_INFO)
                   ? reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(words_.data())
                   : nullptr;
    }
    std::vector<unsigned char> Bytes() const { return {data(), data() + size_}; }

  private:
    std::vector<unsigned long long> words_;
    DWORD size_ = 0;
};
