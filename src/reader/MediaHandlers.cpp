// The media queries (get_media_info) and parameters (set_media_param).
#include <nimbex/reader.h>

#include <cstring>
#include <vector>

#include "base/ErrorBoundary.h"
#include "base/ErrorCodes.h"
#include "base/Wipe.h"
#include "config/SavedCredentials.h"
#include "reader/CloudReaderContext.h"
#include "reader/ReaderHandlers.h"

namespace {

CloudReaderContext* AsContext(void* context) {
    return static_cast<CloudReaderContext*>(context);
}

// The flag bytes of get_media_info: the two low bytes of the value word.
struct FlagBytes {
    uintptr_t& word;
    unsigned char Low() const { return static_cast<unsigned char>(word & 0xFF); }
    unsigned char High() const { return static_cast<unsigned char>((word >> 8) & 0xFF); }
    void Set(unsigned char low, unsigned char high) {
        word = (word & ~static_cast<uintptr_t>(0xFFFF)) | low | (static_cast<uintptr_t>(high) << 8);
    }
};

uint32_t PinNeeded(CloudReaderContext& ctx, uintptr_t version) {
    if ((version & 0xF0) != CLOUD_RECORD_VERSION) return codes::kNotSupported;
    if (ctx.noPinNeeded) return codes::kSuccess;
    boost::shared_ptr<ContainerConnectorBase> connector = ctx.connector;
    boost::shared_ptr<CloudContainerBase> container = ctx.container;
    if (!connector || !container) return codes::kPinRequired;
    return Boundary([&]() -> uint32_t {
        const CertificateRecord record = connector->GetCertificate(ctx.CertificateId());
        if (record.hasPin == 2) ctx.noPinNeeded = true;
        return ctx.noPinNeeded ? codes::kSuccess : codes::kPinRequired;
    });
}

// Sub-codes 11 to 14: a secret of `length` bytes (cut at a NUL) for the
// selected service or its connector; the copy is wiped.
uint32_t SetServiceSecret(CloudReaderContext& ctx, uintptr_t subCode, uintptr_t length,
                          const void* data) {
    const char* text = static_cast<const char*>(data);
    std::string secret(text, strnlen(text, length));
    WipeOnExit wipe(secret);
    if (subCode == CLOUD_PARAM_USER_NAME || subCode == CLOUD_PARAM_PASSWORD) {
        if (ctx.selectedIndex < 0) return codes::kNotFound;
        if (subCode == CLOUD_PARAM_USER_NAME)
            SaveUserName(ctx.selectedService.name, secret);
        else
            SavePassword(ctx.selectedService.name, secret);
        return codes::kSuccess;
    }
    boost::shared_ptr<ContainerConnectorBase> connector = ctx.connector;
    if (!connector) return codes::kNotFound;
    if (subCode == CLOUD_PARAM_ACCESS_TOKEN)
        connector->SetAccessToken(secret);
    else
        connector->SetIdToken(secret);
    return codes::kSuccess;
}

uint32_t SetContainerParam(CloudContainerBase& container, uintptr_t subCode, uintptr_t value,
                           const void* data) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    switch (subCode) {
        case CLOUD_PARAM_AUTH_SERVER:
        case CLOUD_PARAM_SIGN_SERVER: {
            if (!data) return codes::kInvalidParameter;
            const std::string url(static_cast<const char*>(data));
            if (subCode == CLOUD_PARAM_AUTH_SERVER)
                container.set_auth_server(url);
            else
                container.set_sign_server(url);
            return codes::kSuccess;
        }
        case CLOUD_PARAM_CERTIFICATE:
        case CLOUD_PARAM_EXTENSIONS: {
            if (!data && value) return codes::kInvalidParameter;
            const std::vector<unsigned char> copy(bytes, bytes + (data ? value : 0));
            if (subCode == CLOUD_PARAM_CERTIFICATE)
                container.set_certificate(copy);
            else
                container.set_extensions(copy);
            return codes::kSuccess;
        }
        case CLOUD_PARAM_CERTIFICATE_ID:
            container.set_certificate_id(static_cast<uint32_t>(value));
            return codes::kSuccess;
        default:  // CLOUD_PARAM_KEY_PERMISSIONS
            container.set_key_permissions(static_cast<uint32_t>(value));
            return codes::kSuccess;
    }
}

}  // namespace

namespace cloud_reader {

uintptr_t get_media_info(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* info = static_cast<CloudMediaInfoRecord*>(record);
    if (!ctx || !info) return codes::kInvalidParameter;
    FlagBytes flags{info->value};
    switch (info->subCode) {
        case CLOUD_MEDIA_INFO_CAPABILITIES: {
            const bool canCreate =
                ctx->options.enableKeyCreation && ctx->selectedService.keyCreationAllowed;
            // Bits 3 and 7 are the caller's; 4 and 6 are set, 1 tells key creation.
            unsigned char low = flags.Low() & 0x88;
            low |= 0x50 | (canCreate ? CLOUD_MEDIA_CAN_CREATE_KEYS : 0);
            flags.Set(low, flags.High() | 0x27);
            return codes::kSuccess;
        }
        case CLOUD_MEDIA_INFO_KIND:
            info->value = 4;
            return codes::kSuccess;
        case CLOUD_MEDIA_INFO_FLAGS:
            flags.Set(static_cast<unsigned char>((flags.Low() | 0x0F) & ~0x10), flags.High());
            return codes::kSuccess;
        case CLOUD_MEDIA_INFO_PIN_NEEDED:
            return PinNeeded(*ctx, info->value);
        default:
            return codes::kNotSupported;
    }
}

uintptr_t set_media_param(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* param = static_cast<const CloudMediaParamRecord*>(record);
    if (!ctx || !param) return codes::kInvalidParameter;
    const uintptr_t subCode = param->subCode;
    const bool known =
        (subCode >= CLOUD_PARAM_AUTH_SERVER && subCode <= CLOUD_PARAM_CERTIFICATE_ID) ||
        subCode == CLOUD_PARAM_EXTENSIONS || subCode == CLOUD_PARAM_KEY_PERMISSIONS;
    if (!known) return codes::kNotSupported;
    const bool secret = subCode >= CLOUD_PARAM_USER_NAME && subCode <= CLOUD_PARAM_ID_TOKEN;
    if (secret && (param->value == 0 || !param->data)) return codes::kInvalidParameter;
    return Boundary([&]() -> uint32_t {
        // Every sub-code, the service's credentials and tokens as well, is
        // taken only while a container is open.
        boost::shared_ptr<CloudContainerBase> container = ctx->container;
        if (!container) return codes::kNoContainer;
        if (secret) return SetServiceSecret(*ctx, subCode, param->value, param->data);
        return SetContainerParam(*container, subCode, param->value, param->data);
    });
}

}  // namespace cloud_reader
