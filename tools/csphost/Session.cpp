#include "Session.h"

#include <nimbex/reader.h>

#include <algorithm>
#include <cstring>

#include "Host.h"

namespace csphost {

namespace {

const uint32_t kNotFound = 2;
const uint32_t kMoreData = 234;
const uint32_t kPinRequired = 0x252D1230;
const size_t kMaxSignature = 1024;

// A text through a size/buffer record: the length first, then the text.
std::string AskText(const ReaderModule& module, uintptr_t id, void* context, const char* what,
                    bool absentIsEmpty) {
    CloudSizeBufferRecord record{0, nullptr};
    uint32_t rc = module.Call(id, context, &record);
    for (int attempt = 0; rc == 0 && attempt < 3; ++attempt) {
        std::vector<char> buffer(record.size + 1, '\0');
        record.size = buffer.size();
        record.buffer = buffer.data();
        rc = module.Call(id, context, &record);
        if (rc == 0)
            return std::string(buffer.data(), std::min<size_t>(record.size, buffer.size()));
        if (rc == kMoreData) rc = 0;  // grew in between: ask again with the new size
    }
    if (rc == kNotFound && absentIsEmpty) return "";
    throw HostError(what, rc);
}

}  // namespace

Session::Session(const ReaderModule& module, CspCallbacks& callbacks, const HostOptions& options)
    : module_(&module), callbacks_(&callbacks), options_(&options) {
    CloudContextRecord created{nullptr};
    module_->Require(CLOUD_CREATE_CONTEXT, nullptr, &created, "create_context");
    context_ = created.context;
    GiveCallbacks();
}

Session::Session(const ReaderModule& module, CspCallbacks& callbacks, const HostOptions& options,
                 void* context)
    : module_(&module), callbacks_(&callbacks), options_(&options), context_(context) {
    GiveCallbacks();
}

Session::Session(Session&& other) noexcept
    : module_(other.module_),
      callbacks_(other.callbacks_),
      options_(other.options_),
      context_(other.context_) {
    other.context_ = nullptr;
}

Session::~Session() {
    if (context_) module_->Call(CLOUD_FREE_CONTEXT, context_, nullptr);
}

void Session::GiveCallbacks() {
    try {
        CloudCallbacksRecord record{};
        record.caller = callbacks_->Caller(options_->silent, options_->localContext);
        record.callbacks = callbacks_->Table();
        module_->Require(CLOUD_SET_CALLBACKS, context_, &record, "set_callbacks");
        if (options_->machine) SetMachineFlag(true);
    } catch (...) {
        module_->Call(CLOUD_FREE_CONTEXT, context_, nullptr);
        context_ = nullptr;
        throw;
    }
}

Session Session::Clone() const {
    CloudContextRecord created{nullptr};
    module_->Require(CLOUD_CLONE_CONTEXT, context_, &created, "clone_context");
    return Session(*module_, *callbacks_, *options_, created.context);
}

void Session::Lock() {
    CloudLockRecord caller = callbacks_->Caller(options_->silent, options_->localContext);
    module_->Require(CLOUD_LOCK_READER, context_, &caller, "lock_reader");
}

void Session::Unlock() {
    module_->Require(CLOUD_UNLOCK_READER, context_, nullptr, "unlock_reader");
}

size_t Session::ServiceCount() const {
    CloudCountServicesRecord record{};
    const uint32_t rc = module_->Call(CLOUD_COUNT_SERVICES, context_, &record);
    if (rc == kNotFound) return 0;
    if (rc != 0) throw HostError("count_services", rc);
    return record.count;
}

void Session::Select(size_t index) {
    CloudSelectServiceRecord record{index};
    module_->Require(CLOUD_SELECT_SERVICE, context_, &record, "select_service");
}

std::string Session::ServiceName() const {
    return AskText(*module_, CLOUD_GET_SERVICE_NAME, context_, "get_service_name", false);
}

std::string Session::DefaultContainer() const {
    return AskText(*module_, CLOUD_GET_DEFAULT_CONTAINER, context_, "get_default_container", true);
}

void Session::SetDefaultContainer(const std::string& name) {
    CloudDefaultContainerRecord record{name.size(), name.c_str()};
    module_->Require(CLOUD_SET_DEFAULT_CONTAINER, context_, &record, "set_default_container");
}

void Session::SetMachineFlag(bool machine) {
    CloudMachineFlagRecord record{machine ? 1u : 0u};
    module_->Require(CLOUD_SET_MACHINE_FLAG, context_, &record, "set_machine_flag");
}

uint16_t Session::MediaCapabilities() const {
    CloudMediaInfoRecord record{CLOUD_MEDIA_INFO_CAPABILITIES, 0};
    module_->Require(CLOUD_GET_MEDIA_INFO, context_, &record, "get_media_info");
    return static_cast<uint16_t>(record.value & 0xFFFF);
}

bool Session::CanCreateKeys() const {
    return (MediaCapabilities() & CLOUD_MEDIA_CAN_CREATE_KEYS) != 0;
}

bool Session::PinRequired() const {
    CloudMediaInfoRecord record{CLOUD_MEDIA_INFO_PIN_NEEDED, CLOUD_RECORD_VERSION};
    const uint32_t rc = module_->Call(CLOUD_GET_MEDIA_INFO, context_, &record);
    if (rc == kPinRequired) return true;
    if (rc != 0) throw HostError("get_media_info", rc);
    return false;
}

void Session::SetText(uintptr_t subCode, const std::string& text, const char* what) {
    CloudMediaParamRecord record{subCode, text.size(), text.c_str()};
    module_->Require(CLOUD_SET_MEDIA_PARAM, context_, &record, what);
}

void Session::SetUserName(const std::string& userName) {
    SetText(CLOUD_PARAM_USER_NAME, userName, "set_media_param (user name)");
}

void Session::SetPassword(const std::string& password) {
    SetText(CLOUD_PARAM_PASSWORD, password, "set_media_param (password)");
}

void Session::SetAccessToken(const std::string& token) {
    SetText(CLOUD_PARAM_ACCESS_TOKEN, token, "set_media_param (access token)");
}

void Session::SetIdToken(const std::string& token) {
    SetText(CLOUD_PARAM_ID_TOKEN, token, "set_media_param (id token)");
}

void Session::SetMediaParam(uintptr_t subCode, uintptr_t value, const void* data) {
    CloudMediaParamRecord record{subCode, value, data};
    module_->Require(CLOUD_SET_MEDIA_PARAM, context_, &record, "set_media_param");
}

void Session::OpenContainer(const std::string& name, bool create) {
    CloudOpenContainerRecord record{name.size(), name.c_str(), 0,
                                    create ? CLOUD_OPEN_CONTAINER_CREATE : 0u};
    module_->Require(CLOUD_OPEN_CONTAINER, context_, &record, "open_container");
}

void Session::CloseContainer() {
    module_->Require(CLOUD_CLOSE_CONTAINER, context_, nullptr, "close_container");
}

// Word 2 PIN length, word 3 PIN, word 4 tries left (out).
void Session::VerifyPin() {
    std::string pin;
    if (!callbacks_->pinSource().Read(pin)) throw HostError("No PIN to verify", kPinRequired);
    uintptr_t record[4] = {0, pin.size(), reinterpret_cast<uintptr_t>(pin.c_str()), 0};
    const uint32_t rc = module_->Call(CLOUD_VERIFY_PIN, context_, record);
    Wipe(pin);
    if (rc != 0) throw HostError("verify_pin (" + std::to_string(record[3]) + " tries left)", rc);
}

// Word 2 hash, 3 its length, 5 signature buffer, 6 its length (in/out),
// 7 hash handle, 9 hash algorithm id.
std::vector<unsigned char> Session::SignHash(const std::vector<unsigned char>& hash, uint32_t algId,
                                             uint32_t hashHandle) {
    std::vector<unsigned char> reversed(hash.rbegin(), hash.rend());
    std::vector<unsigned char> signature(kMaxSignature);
    uintptr_t record[9] = {0,
                           reinterpret_cast<uintptr_t>(reversed.data()),
                           reversed.size(),
                           0,
                           reinterpret_cast<uintptr_t>(signature.data()),
                           signature.size(),
                           hashHandle,
                           0,
                           algId};
    module_->Require(CLOUD_SIGN_HASH, context_, record, "sign_hash");
    signature.resize(std::min<size_t>(record[5], signature.size()));
    std::reverse(signature.begin(), signature.end());
    return signature;
}

}  // namespace csphost
