// Signing a hash on the service (sign_hash, sign_hash_split). The hash comes
// least significant byte first and goes to the service reversed; when the
// hash storage knows what the hash was computed over, that data (and the
// document behind it) travels along so the service sees what is signed.
#include <nimbex/reader.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/ErrorBoundary.h"
#include "base/ErrorCodes.h"
#include "base/Wipe.h"
#include "reader/CloudReaderContext.h"
#include "reader/PinAcquisition.h"
#include "reader/ReaderHandlers.h"

namespace {

using HashStorage::DocumentHashStorage;

constexpr uint32_t kSplitCapacity = 128;

CloudReaderContext* AsContext(void* context) {
    return static_cast<CloudReaderContext*>(context);
}

// What one signature sends: the data (the hash, or what was hashed) and the
// display document.
struct SignatureInput {
    const std::vector<unsigned char>* data = nullptr;
    bool isDocument = false;
    const std::vector<unsigned char>* display = nullptr;
};

SignatureInput ChooseInput(ContainerConnectorBase& connector, const DocumentHashStorage* storage,
                           uint32_t hashId, uint32_t documentId,
                           const std::vector<unsigned char>& hash) {
    SignatureInput input;
    input.data = &hash;
    if (!storage || hashId == DocumentHashStorage::kNoRecord) return input;
    const std::vector<unsigned char>& hashed = storage->GetRecord(hashId).data;
    const std::vector<unsigned char>* document =
        storage->HasRecord(documentId) ? &storage->GetRecord(documentId).data : nullptr;
    if (connector.HasDocumentStore()) {
        input.display = document ? document : &hashed;
    } else {
        input.data = &hashed;
        input.isDocument = true;
        input.display = document;
    }
    return input;
}

// The signature over `hash` (as the CSP gives it, least significant byte
// first) into `signature` (*length: capacity in, length out). A reader code.
uint32_t SignReversedHash(CloudReaderContext& ctx, const unsigned char* hash, size_t hashLength,
                          uintptr_t handle, uint32_t algorithm, unsigned char* signature,
                          uint32_t* length) {
    boost::shared_ptr<ContainerConnectorBase> connector = ctx.connector;
    boost::shared_ptr<CloudContainerBase> container = ctx.container;
    boost::shared_ptr<DocumentHashStorage> storage = ctx.hashStorage;
    if (!connector || !container) return codes::kNoContainer;
    if (!hash && hashLength) return codes::kInvalidParameter;
    std::string pin;
    WipeOnExit wipe(pin);
    return Boundary([&]() -> uint32_t {
        const uint32_t rc = AcquirePin(ctx, pin);
        if (rc != codes::kSuccess) return rc;
        const std::vector<unsigned char> reversed(
            std::reverse_iterator<const unsigned char*>(hash + hashLength),
            std::reverse_iterator<const unsigned char*>(hash));
        uint32_t hashId = DocumentHashStorage::kNoRecord;
        uint32_t documentId = DocumentHashStorage::kNoRecord;
        if (storage) {
            if (handle) {
                if (storage->HasRecord(static_cast<uint32_t>(handle)))
                    hashId = static_cast<uint32_t>(handle);
            } else {
                storage->FindLinkedRecords(reversed.data(), reversed.size(), &hashId, &documentId);
            }
        }
        const SignatureInput input =
            ChooseInput(*connector, storage.get(), hashId, documentId, reversed);
        connector->Sign(ctx.CertificateId(), input.data->data(),
                        static_cast<uint32_t>(input.data->size()), algorithm, pin, signature,
                        length, input.isDocument, input.display ? input.display->data() : nullptr,
                        input.display ? static_cast<uint32_t>(input.display->size()) : 0);
        if (storage) {
            storage->RemoveRecord(hashId);
            storage->RemoveRecord(documentId);
        }
        return codes::kSuccess;
    });
}

}  // namespace

namespace cloud_reader {

uintptr_t sign_hash(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* sign = static_cast<CloudSignHashRecord*>(record);
    if (!ctx || !sign) return codes::kInvalidParameter;
    const size_t hashLength = sign->lengthOverride ? sign->lengthOverride : sign->hashLength;
    uint32_t length = static_cast<uint32_t>(sign->signatureLength);
    const uint32_t rc =
        SignReversedHash(*ctx, sign->hash, hashLength, sign->hashHandle,
                         static_cast<uint32_t>(sign->algorithm), sign->signature, &length);
    if (rc != codes::kSuccess) return rc;
    // The CSP takes the signature least significant byte first as well.
    if (sign->signature) std::reverse(sign->signature, sign->signature + length);
    sign->signatureLength = length;
    return rc;
}

uintptr_t sign_hash_split(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* sign = static_cast<CloudSignHashSplitRecord*>(record);
    if (!ctx || !sign) return codes::kInvalidParameter;
    if (!ctx->connector || !ctx->container) return codes::kNoContainer;
    if (!sign->firstHalf || !sign->secondHalf) return codes::kInvalidParameter;
    unsigned char signature[kSplitCapacity];
    uint32_t length = kSplitCapacity;
    const uint32_t rc = SignReversedHash(*ctx, sign->hash, sign->hashLength, sign->hashHandle, 0,
                                         signature, &length);
    if (rc != codes::kSuccess) return rc;
    const size_t half = length / 2;
    sign->firstLength = half;
    sign->secondLength = half;
    std::reverse_copy(signature, signature + half, sign->firstHalf);
    std::reverse_copy(signature + half, signature + 2 * half, sign->secondHalf);
    return codes::kSuccess;
}

}  // namespace cloud_reader
