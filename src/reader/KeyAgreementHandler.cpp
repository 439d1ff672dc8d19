// Key agreement with a peer's public key on the service (agree_key). The
// peer's coordinates and the user keying material come least significant
// byte first and are reversed for the service.
#include <nimbex/reader.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/ErrorBoundary.h"
#include "base/ErrorCodes.h"
#include "base/SecretString.h"
#include "reader/CloudReaderContext.h"
#include "reader/PinAcquisition.h"
#include "reader/ReaderHandlers.h"

namespace {

constexpr uintptr_t kCoordinateSlot = 64;
constexpr uintptr_t kUkmSize = 16;
constexpr uintptr_t kLongResult = 64;
constexpr uint32_t kShortAlgorithm = 0x661E;
constexpr uint32_t kLongAlgorithm = 0x6622;

CloudReaderContext* AsContext(void* context) {
    return static_cast<CloudReaderContext*>(context);
}

}  // namespace

namespace cloud_reader {

uintptr_t agree_key(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* agree = static_cast<CloudAgreeKeyRecord*>(record);
    if (!ctx || !agree) return codes::kInvalidParameter;
    boost::shared_ptr<ContainerConnectorBase> connector = ctx->connector;
    boost::shared_ptr<CloudContainerBase> container = ctx->container;
    if (!container || !connector) return codes::kNoContainer;
    // Each coordinate has its 64-byte slot and the keying material 16 bytes.
    const uintptr_t coordinate = agree->coordinateLength;
    if (coordinate > kCoordinateSlot || agree->ukmLength > kUkmSize)
        return codes::kInvalidParameter;
    if ((coordinate && !agree->peerKey) || (agree->ukmLength && !agree->ukm) ||
        (agree->maskLength && !agree->mask))
        return codes::kInvalidParameter;
    SecretString pin;
    return Boundary([&]() -> uint32_t {
        const uint32_t rc = AcquirePin(*ctx, pin);
        if (rc != codes::kSuccess) return rc;
        std::vector<unsigned char> peer(2 * coordinate);
        if (coordinate) {
            std::reverse_copy(agree->peerKey, agree->peerKey + coordinate, peer.begin());
            std::reverse_copy(agree->peerKey + kCoordinateSlot,
                              agree->peerKey + kCoordinateSlot + coordinate,
                              peer.begin() + coordinate);
        }
        unsigned char ukm[kUkmSize] = {};
        if (agree->ukmLength) std::reverse_copy(agree->ukm, agree->ukm + agree->ukmLength, ukm);
        const uint32_t algorithm =
            agree->resultLength == kLongResult ? kLongAlgorithm : kShortAlgorithm;
        uint32_t length = static_cast<uint32_t>(agree->resultLength);
        connector->AgreeKey(ctx->CertificateId(), peer.data(), static_cast<uint32_t>(peer.size()),
                            ukm, static_cast<uint32_t>(agree->ukmLength), agree->mask,
                            static_cast<uint32_t>(agree->maskLength), pin, algorithm, agree->result,
                            &length);
        agree->resultLength = length;
        return length == agree->maskLength ? codes::kSuccess : codes::kFail;
    });
}

}  // namespace cloud_reader
