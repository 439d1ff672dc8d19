// The PIN of the open container on the service (verify_pin, change_pin) and
// dropping the connection's authentication (drop_auth).
#include <nimbex/reader.h>

#include <cstring>

#include "base/ErrorBoundary.h"
#include "base/ErrorCodes.h"
#include "base/SecretString.h"
#include "reader/CloudReaderContext.h"
#include "reader/PinAcquisition.h"
#include "reader/ReaderHandlers.h"

namespace {

constexpr uintptr_t kMaxPinBytes = 64;
constexpr uint32_t kTriesNotReported = 0xFFFFFFFFu;

CloudReaderContext* AsContext(void* context) {
    return static_cast<CloudReaderContext*>(context);
}

// A PIN given in a record is text: at most `length` bytes, cut at a NUL.
// Assigned in place, so that no temporary holds it.
void AssignPin(SecretString& pin, const char* text, uintptr_t length) {
    pin.assign(text, strnlen(text, length));
}

}  // namespace

namespace cloud_reader {

uintptr_t verify_pin(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* verify = static_cast<CloudVerifyPinRecord*>(record);
    if (!ctx || !verify || !verify->pin) return codes::kInvalidParameter;
    if (verify->pinLength > kMaxPinBytes) return codes::kPinTooLong;
    boost::shared_ptr<ContainerConnectorBase> connector = ctx->connector;
    boost::shared_ptr<CloudContainerBase> container = ctx->container;
    if (!container || !connector) return codes::kNoContainer;
    SecretString pin;
    return Boundary([&]() -> uint32_t {
        AssignPin(pin, verify->pin, verify->pinLength);
        if (connector->ValidatePin(ctx->CertificateId(), pin, &ctx->pinTriesLeft)) {
            ctx->noPinNeeded = pin.empty();
            return codes::kSuccess;
        }
        if (ctx->pinTriesLeft == 0) return codes::kPinBlocked;
        if (ctx->pinTriesLeft != kTriesNotReported) verify->triesLeft = ctx->pinTriesLeft;
        return codes::kWrongPin;
    });
}

uintptr_t change_pin(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* change = static_cast<CloudChangePinRecord*>(record);
    if (!ctx || !change) return codes::kInvalidParameter;
    boost::shared_ptr<ContainerConnectorBase> connector = ctx->connector;
    boost::shared_ptr<CloudContainerBase> container = ctx->container;
    if (!container || !connector) return codes::kNoContainer;
    if ((change->version & 0xF0) != CLOUD_RECORD_VERSION) return codes::kFail;
    if (change->pinLength > kMaxPinBytes) return codes::kPinTooLong;
    if (!change->pin && change->pinLength) return codes::kInvalidParameter;
    SecretString newPin, oldPin;
    return Boundary([&]() -> uint32_t {
        if (change->pin) AssignPin(newPin, change->pin, change->pinLength);
        const uint32_t rc = AcquirePin(*ctx, oldPin);
        if (rc != codes::kSuccess) return rc;
        connector->ChangePin(ctx->CertificateId(), oldPin, newPin);
        ctx->noPinNeeded = newPin.empty();
        return codes::kSuccess;
    });
}

uintptr_t drop_auth(void* context, void*) {
    CloudReaderContext* ctx = AsContext(context);
    if (!ctx) return codes::kInvalidParameter;
    boost::shared_ptr<ContainerConnectorBase> connector = ctx->connector;
    if (!ctx->container || !connector) return codes::kSuccess;
    return Boundary([&]() -> uint32_t {
        connector->DropTokens();
        return codes::kSuccess;
    });
}

}  // namespace cloud_reader
