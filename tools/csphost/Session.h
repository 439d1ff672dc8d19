#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace csphost {

class ReaderModule;
class CspCallbacks;
struct HostOptions;

// One reader context of the host: created with the host's callbacks, freed
// on destruction. Every method calls one reader function and throws
// HostError with its answer unless it is 0 (exceptions are noted).
class Session {
  public:
    Session(const ReaderModule& module, CspCallbacks& callbacks, const HostOptions& options);
    Session(Session&& other) noexcept;
    Session& operator=(Session&&) = delete;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session();

    // clone_context: a new context from this one, given the host's callbacks.
    Session Clone() const;

    // ---- the cloud lock
    void Lock();
    void Unlock();

    // ---- services
    // The number of configured services (0 when the reader answers 2).
    size_t ServiceCount() const;
    void Select(size_t index);
    std::string ServiceName() const;
    // "" when the service has none (answer 2).
    std::string DefaultContainer() const;
    void SetDefaultContainer(const std::string& name);
    void SetMachineFlag(bool machine);

    // ---- media information and parameters
    // Sub-code 3: the two flag bytes (low byte first) after the reader's changes.
    uint16_t MediaCapabilities() const;
    bool CanCreateKeys() const;
    // Sub-code 7: false when the reader answers 0, true for "PIN required".
    bool PinRequired() const;
    // Saved for the selected service (sub-codes 11, 12); a container must be open.
    void SetUserName(const std::string& userName);
    void SetPassword(const std::string& password);
    // Handed to the connection to the selected service (13, 14).
    void SetAccessToken(const std::string& token);
    void SetIdToken(const std::string& token);
    // Any other parameter: a value and optional data.
    void SetMediaParam(uintptr_t subCode, uintptr_t value, const void* data);

    // ---- containers, PIN and signing
    // open_container: the container of the selected service; with `create`,
    // a name without a container is kept for key generation (an existing
    // one answers 0x8009000F).
    void OpenContainer(const std::string& name, bool create = false);
    void CloseContainer();
    // The names of the selected service's containers, in the reader's order.
    std::vector<std::string> ContainerNames();
    // delete_container: the open container (on the service too when the
    // module's option RealDelete is set).
    void DeleteContainer();
    // A file of the open container (CLOUD_FILE_*), read whole.
    std::vector<unsigned char> ReadFile(uintptr_t kind);
    // Writes a file of the open container: a certificate (kinds 8, 9) is
    // installed on the service and in the store, extensions (10) are set.
    void WriteFile(uintptr_t kind, const std::vector<unsigned char>& data);
    // get_key_info for the key of that KeySpec; the permissions are asked too.
    struct KeyInfo {
        uintptr_t keySpec = 0, keyType = 0, algorithm = 0, permissions = 0;
    };
    KeyInfo GetKeyInfo(uintptr_t keySpec);
    // Checks the PIN from the host's PIN source against the service.
    void VerifyPin();
    // Signs a hash given in its natural byte order; the signature comes back
    // in its natural order too (the reader's side is least significant
    // byte first). hashHandle 0: none.
    std::vector<unsigned char> SignHash(const std::vector<unsigned char>& hash, uint32_t algId,
                                        uint32_t hashHandle = 0);

    // ---- PIN, document hashes, signing, key agreement and key generation
    // (SessionKeys.cpp). Byte order as for SignHash: the host's side is
    // natural, the reader's least significant byte first.

    // verify_pin with `pin`: 0 when accepted, else the reader's answer;
    // after 0x8010006B (wrong PIN) *triesLeft is what the reader wrote.
    uint32_t CheckPin(const std::string& pin, uint32_t* triesLeft = nullptr);
    // change_pin to `newPin`; the current PIN comes from the PIN source.
    void ChangePin(const std::string& newPin);
    // drop_auth: the connection forgets its tokens.
    void DropAuth();

    // A hash object of the reader (create_hash, hash_data, get_hash_value):
    // the reader keeps the data so that a signature can name its document.
    uint32_t CreateHash(uint32_t algId);
    void HashData(uint32_t handle, const unsigned char* data, size_t size);
    std::vector<unsigned char> HashValue(uint32_t handle);
    // The three at once: the value of `data` hashed through the reader.
    std::vector<unsigned char> Hash(uint32_t algId, const std::vector<unsigned char>& data,
                                    uint32_t* handle = nullptr);

    // sign_hash_split: the two halves put back together in natural order.
    std::vector<unsigned char> SignHashSplit(const std::vector<unsigned char>& hash,
                                             uint32_t hashHandle = 0);
    // agree_key with the peer's public point (x and y, big-endian, at most
    // 64 bytes each), the keying material and the mask; `resultLength` 64
    // asks for the long form. The reader's result as it stands.
    std::vector<unsigned char> AgreeKey(const std::vector<unsigned char>& x,
                                        const std::vector<unsigned char>& y,
                                        const std::vector<unsigned char>& ukm,
                                        const std::vector<unsigned char>& mask,
                                        size_t resultLength);
    // generate_key / generate_rsa_key into the container named by
    // OpenContainer(name, true); the new container is open afterwards.
    void GenerateKey(uint32_t keySpec, uint32_t algId, const std::string& paramSet,
                     uint32_t permissions = 0);
    void GenerateRsaKey(uint32_t keyBits, uint32_t keySpec, uint32_t algId,
                        uint32_t permissions = 0);
    // list_param_sets (none when the reader answers 2); get_rsa_key_range
    // (false when the reader answers 50).
    std::vector<std::string> ParamSets();
    bool SupportsRsa();

    void* context() const { return context_; }

  private:
    Session(const ReaderModule& module, CspCallbacks& callbacks, const HostOptions& options,
            void* context);
    void GiveCallbacks();
    void SetText(uintptr_t subCode, const std::string& text, const char* what);

    const ReaderModule* module_;
    CspCallbacks* callbacks_;
    const HostOptions* options_;
    void* context_ = nullptr;
};

}  // namespace csphost
