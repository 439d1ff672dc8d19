// Session: PIN, document hashes, signing, key agreement and key generation.
#include <nimbex/reader.h>

#include <algorithm>
#include <cstring>

#include "Host.h"

namespace csphost {

namespace {

const uint32_t kWrongPin = 0x8010006B;
const uint32_t kNotSupportedSelector = 50;
const size_t kSlot = 64;
const size_t kUkmSize = 16;

}  // namespace

uint32_t Session::CheckPin(const std::string& pin, uint32_t* triesLeft) {
    CloudVerifyPinRecord record{0, pin.size(), pin.c_str(), 0};
    const uint32_t rc = module_->Call(CLOUD_VERIFY_PIN, context_, &record);
    if (rc == kWrongPin && triesLeft) *triesLeft = static_cast<uint32_t>(record.triesLeft);
    return rc;
}

void Session::ChangePin(const std::string& newPin) {
    CloudChangePinRecord record{CLOUD_RECORD_VERSION, newPin.size(), newPin.c_str()};
    module_->Require(CLOUD_CHANGE_PIN, context_, &record, "change_pin");
}

void Session::DropAuth() {
    module_->Require(CLOUD_DROP_AUTH, context_, nullptr, "drop_auth");
}

uint32_t Session::CreateHash(uint32_t algId) {
    CloudCreateHashRecord record{algId, 0};
    module_->Require(CLOUD_CREATE_HASH, context_, &record, "create_hash");
    return static_cast<uint32_t>(record.handle);
}

void Session::HashData(uint32_t handle, const unsigned char* data, size_t size) {
    CloudHashDataRecord record{handle, size, data, 0};
    module_->Require(CLOUD_HASH_DATA, context_, &record, "hash_data");
}

std::vector<unsigned char> Session::HashValue(uint32_t handle) {
    CloudHashValueRecord record{};
    record.handle = handle;
    record.valueLength = CLOUD_HASH_VALUE_SIZE;
    module_->Require(CLOUD_GET_HASH_VALUE, context_, &record, "get_hash_value");
    const size_t length = std::min<size_t>(record.valueLength, CLOUD_HASH_VALUE_SIZE);
    return std::vector<unsigned char>(record.value.bytes, record.value.bytes + length);
}

std::vector<unsigned char> Session::Hash(uint32_t algId, const std::vector<unsigned char>& data,
                                         uint32_t* handle) {
    const uint32_t created = CreateHash(algId);
    HashData(created, data.data(), data.size());
    if (handle) *handle = created;
    return HashValue(created);
}

std::vector<unsigned char> Session::SignHashSplit(const std::vector<unsigned char>& hash,
                                                  uint32_t hashHandle) {
    std::vector<unsigned char> reversed(hash.rbegin(), hash.rend());
    unsigned char first[kSlot] = {}, second[kSlot] = {};
    CloudSignHashSplitRecord record{0, reversed.data(), reversed.size(), first, 0, second,
                                    0, hashHandle};
    module_->Require(CLOUD_SIGN_HASH_SPLIT, context_, &record, "sign_hash_split");
    const size_t half = std::min<size_t>(record.firstLength, kSlot);
    std::vector<unsigned char> signature(first, first + half);
    std::reverse(signature.begin(), signature.end());
    signature.insert(signature.end(), std::make_reverse_iterator(second + half),
                     std::make_reverse_iterator(second));
    return signature;
}

std::vector<unsigned char> Session::AgreeKey(const std::vector<unsigned char>& x,
                                             const std::vector<unsigned char>& y,
                                             const std::vector<unsigned char>& ukm,
                                             const std::vector<unsigned char>& mask,
                                             size_t resultLength) {
    if (x.size() != y.size() || x.size() > kSlot || ukm.size() > kUkmSize)
        throw HostError("agree_key: coordinates or keying material too long", 87);
    unsigned char peer[2 * kSlot] = {};
    std::reverse_copy(x.begin(), x.end(), peer);
    std::reverse_copy(y.begin(), y.end(), peer + kSlot);
    const std::vector<unsigned char> reversedUkm(ukm.rbegin(), ukm.rend());
    std::vector<unsigned char> result(std::max<size_t>(resultLength, 1));
    CloudAgreeKeyRecord record{0,           peer,        x.size(),    reversedUkm.data(),
                               ukm.size(),  mask.data(), mask.size(), result.data(),
                               resultLength};
    module_->Require(CLOUD_AGREE_KEY, context_, &record, "agree_key");
    result.resize(std::min<size_t>(record.resultLength, result.size()));
    return result;
}

void Session::GenerateKey(uint32_t keySpec, uint32_t algId, const std::string& paramSet,
                          uint32_t permissions) {
    CloudGenerateKeyRecord record{};
    record.keySpec = keySpec;
    record.algorithm = algId;
    record.paramSet = paramSet.c_str();
    record.permissions = permissions;
    module_->Require(CLOUD_GENERATE_KEY, context_, &record, "generate_key");
}

void Session::GenerateRsaKey(uint32_t keyBits, uint32_t keySpec, uint32_t algId,
                             uint32_t permissions) {
    CloudGenerateRsaKeyRecord record{};
    record.keyLength = keyBits / 8;
    record.keySpec = keySpec;
    record.algorithm = algId;
    record.permissions = permissions;
    module_->Require(CLOUD_GENERATE_RSA_KEY, context_, &record, "generate_rsa_key");
}

std::vector<std::string> Session::ParamSets() {
    CloudMultiStringRecord record{0, nullptr};
    module_->Require(CLOUD_LIST_PARAM_SETS, context_, &record, "list_param_sets");
    std::vector<char> buffer(record.size + 1, '\0');
    record.size = buffer.size();
    record.buffer = buffer.data();
    module_->Require(CLOUD_LIST_PARAM_SETS, context_, &record, "list_param_sets");
    std::vector<std::string> sets;
    for (const char* p = buffer.data(); *p; p += strlen(p) + 1) sets.emplace_back(p);
    return sets;
}

bool Session::SupportsRsa() {
    CloudRsaKeyRangeRecord record{};
    const uint32_t rc = module_->Call(CLOUD_GET_RSA_KEY_RANGE, context_, &record);
    if (rc == kNotSupportedSelector) return false;
    if (rc != 0) throw HostError("get_rsa_key_range", rc);
    return true;
}

}  // namespace csphost
