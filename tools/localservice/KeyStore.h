#pragma once
#include <json/json.h>

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "CertificateAuthority.h"
#include "Codec.h"
#include "OpenSslPtr.h"
#include "ServiceConfig.h"

namespace localservice {

// CryptoAPI hash algorithm identifiers the service signs with.
enum : uint32_t {
    kCalgSha1 = 0x8004,
    kCalgSha256 = 0x800C,
    kCalgSha384 = 0x800D,
    kCalgSha512 = 0x800E,
    kCalgStreebog256 = 0x8021,  // GOST R 34.11-2012, 256-bit result
    kCalgStreebog512 = 0x8022,  // GOST R 34.11-2012, 512-bit result
};
// The long form of key agreement.
constexpr uint32_t kVkoLongForm = 26146;

// The hash algorithm of a request: the given identifier, or, when it is 0, the one whose
// digest length equals hashLength (20, 32, 48, 64). Null when neither rule gives one. A GOST key
// signs only GOST R 34.11-2012 hashes (0x8021, 0x8022; by length 32 and 64), other keys only
// the SHA family.
const EVP_MD* hashAlgorithmFor(uint32_t algId, size_t hashLength, bool gostKey);

// The users' keys and certificates. Every operation names the owner; a key of another
// user is reported exactly like a missing one.
class KeyStore {
  public:
    KeyStore(std::string stateDir, const CertificateAuthority& ca);

    // Creates (or reloads from the state directory) the keys of the configuration.
    void loadConfigured(const std::vector<UserConfig>& users, uint32_t pinAttempts);

    Json::Value list(const std::string& owner) const;
    Json::Value listByThumbprint(const std::string& owner, const Bytes& sha1) const;
    Json::Value record(const std::string& owner, uint32_t id) const;

    Bytes signHash(const std::string& owner, uint32_t id, const std::string& pin, const Bytes& hash,
                   uint32_t algId);
    Bytes signDocument(const std::string& owner, uint32_t id, const std::string& pin,
                       const Bytes& document, uint32_t algId);
    // The hash of a whole document signed with the key: algId, or when it is 0 SHA-256 (RSA,
    // EC) or GOST R 34.11-2012 of the key's size (GOST); usedAlgId tells which. Null when the
    // key does not sign with that hash.
    const EVP_MD* documentHash(const std::string& owner, uint32_t id, uint32_t algId,
                               uint32_t& usedAlgId) const;
    // Signs a digest in the byte order its hash function writes it.
    Bytes signDigest(const std::string& owner, uint32_t id, const std::string& pin,
                     const Bytes& digest, uint32_t algId);
    Bytes agree(const std::string& owner, uint32_t id, const std::string& pin, const Bytes& peer,
                const Bytes& ukm, const Bytes& mask, uint32_t vkoAlgId);

    Json::Value generate(const std::string& owner, const std::string& oid, uint32_t keyLength,
                         const std::string& pin, uint32_t pinAttempts);
    Json::Value importPfx(const std::string& owner, const Bytes& pfx, const std::string& password,
                          uint32_t pinAttempts);
    Json::Value installCertificate(const std::string& owner, const Bytes& der);
    void remove(const std::string& owner, uint32_t id);
    void changePin(const std::string& owner, uint32_t id, const std::string& oldPin,
                   const std::string& newPin);

    struct PinCheck {
        bool valid;
        uint32_t remaining;
        std::string error;  // "", "invalid_pin" or "key_blocked"
    };
    PinCheck validatePin(const std::string& owner, uint32_t id, const std::string& pin);

    void setParam(const std::string& owner, uint32_t id, const std::string& name,
                  const std::string& value);
    std::string getParam(const std::string& owner, uint32_t id, const std::string& name) const;

    // Restores the configured PINs and full attempt counters.
    void resetPins(uint32_t pinAttempts);

  private:
    struct Entry {
        uint32_t id = 0;
        std::string owner;
        SharedPkey key;
        Bytes certDer;
        std::string friendlyName;
        std::string pin;
        std::string configuredPin;
        bool hasPin = false;
        uint32_t attemptsLeft = 0;
        uint32_t maxAttempts = 0;
        std::map<std::string, std::string> params;
    };
    Entry& find(const std::string& owner, uint32_t id);
    const Entry& find(const std::string& owner, uint32_t id) const;
    PinCheck checkPin(Entry& e, const std::string& pin);
    void requirePin(Entry& e, const std::string& pin);
    static Json::Value toRecord(const Entry& e);
    Json::Value generateGost(const std::string& owner, const std::string& oid, uint32_t keyLength,
                             const std::string& pin, uint32_t pinAttempts);
    Json::Value addGenerated(const std::string& owner, PkeyPtr key, const char* what,
                             const std::string& pin, uint32_t pinAttempts);
    uint32_t addEntry(Entry e);

    std::string stateDir_;
    const CertificateAuthority& ca_;
    mutable std::mutex mutex_;
    std::map<uint32_t, Entry> keys_;
    uint32_t nextId_ = 1;
};

}  // namespace localservice
