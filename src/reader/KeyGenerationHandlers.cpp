// Key generation on the service into the container whose creation
// open_container prepared (generate_key, generate_rsa_key), and what the
// service can generate (list_param_sets, get_rsa_key_range).
#include <nimbex/reader.h>

#include <cstring>
#include <set>
#include <string>

#include "base/ErrorBoundary.h"
#include "base/ErrorCodes.h"
#include "base/SecretString.h"
#include "container/CloudCertificateLink.h"
#include "reader/CloudReaderContext.h"
#include "reader/PinAcquisition.h"
#include "reader/ReaderHandlers.h"

namespace {

const char kRsaSignatureParamSet[] = "1.3.14.3.2.11";
const char kRsaExchangeParamSet[] = "1.3.14.3.2.22";
constexpr uintptr_t kRsaSignatureAlgorithm = 0x2400;
constexpr uintptr_t kRsaMinimumBits = 496;
constexpr uintptr_t kRsaMaximumBits = 8192;

CloudReaderContext* AsContext(void* context) {
    return static_cast<CloudReaderContext*>(context);
}

// The service's parameter sets for every provider type; empty when the
// context has no connector.
std::set<std::string> SupportedParamSets(CloudReaderContext& ctx) {
    boost::shared_ptr<ContainerConnectorBase> connector = ctx.connector;
    return connector ? connector->GetSupportedParamSets(0) : std::set<std::string>();
}

struct KeyRequest {
    uint32_t keySpec;
    uint32_t algorithm;
    std::string paramSet;
    uint32_t keyLength;  // bits, 0: the service's choice
    uint32_t permissions;
};

// The pending container's key: generated on the service, given its
// permissions and KeySpec there, its certificate linked in the store under
// the pending name, and that container opened.
uint32_t GenerateInto(CloudReaderContext& ctx, const std::string& name,
                      ContainerConnectorBase& connector, const KeyRequest& request) {
    SecretString pin;
    const uint32_t rc = AcquirePin(ctx, pin);
    // A silent caller cannot be asked: the key is generated with no PIN.
    if (rc != codes::kSuccess && !ctx.silent) return rc;
    const CertificateRecord created =
        connector.CreateKey(request.algorithm, request.paramSet, pin, request.keyLength);
    connector.SetKeyPermissions(created.id, request.permissions);
    connector.SetKeySpec(created.id, request.keySpec);
    // A generated key has no container extensions yet.
    const uint32_t installed = InstallCloudCertificateFromBytes(
        created.certificate, name, ctx.selectedService, created.id, request.permissions, {},
        ctx.machine, nullptr, 0, request.keySpec);
    if (installed != codes::kSuccess) return installed;
    ctx.storeCache.Reset();
    return ctx.OpenContainer(name, false);
}

// The common procedure of both generation handlers, at the boundary.
uint32_t GenerateKey(CloudReaderContext& ctx, uintptr_t keySpec, uintptr_t algorithm,
                     const char* paramSet, uintptr_t keyBits, uintptr_t permissions) {
    return Boundary([&]() -> uint32_t {
        const KeyRequest request{static_cast<uint32_t>(keySpec), static_cast<uint32_t>(algorithm),
                                 paramSet ? paramSet : "", static_cast<uint32_t>(keyBits),
                                 static_cast<uint32_t>(permissions)};
        if (boost::shared_ptr<CloudContainerBase> open = ctx.container)
            return open->key_spec() == request.keySpec ? codes::kExists : codes::kUnsupportedKey;
        if (ctx.pendingContainerName.empty()) return codes::kNoContainer;
        boost::shared_ptr<ContainerConnectorBase> connector = ctx.connector;
        // The creation is used up whatever happens next.
        std::string name;
        name.swap(ctx.pendingContainerName);
        if (!connector) return codes::kNoContainer;
        return GenerateInto(ctx, name, *connector, request);
    });
}

}  // namespace

namespace cloud_reader {

uintptr_t generate_key(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* generate = static_cast<const CloudGenerateKeyRecord*>(record);
    if (!ctx || !generate) return codes::kInvalidParameter;
    return GenerateKey(*ctx, generate->keySpec, generate->algorithm, generate->paramSet, 0,
                       generate->permissions);
}

uintptr_t generate_rsa_key(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* generate = static_cast<const CloudGenerateRsaKeyRecord*>(record);
    if (!ctx || !generate) return codes::kInvalidParameter;
    const char* paramSet = generate->algorithm == kRsaSignatureAlgorithm ? kRsaSignatureParamSet
                                                                         : kRsaExchangeParamSet;
    return GenerateKey(*ctx, generate->keySpec, generate->algorithm, paramSet,
                       generate->keyLength * 8, generate->permissions);
}

uintptr_t list_param_sets(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* list = static_cast<CloudMultiStringRecord*>(record);
    if (!ctx || !list) return codes::kInvalidParameter;
    return Boundary([&]() -> uint32_t {
        const std::set<std::string> sets = SupportedParamSets(*ctx);
        if (sets.empty()) return codes::kNotFound;
        size_t total = 0;
        for (const std::string& oid : sets) total += oid.size() + 1;
        const uintptr_t capacity = list->size;
        list->size = total;
        if (!list->buffer) return codes::kSuccess;
        if (capacity < total + 1) return codes::kMoreData;
        char* out = list->buffer;
        for (const std::string& oid : sets) {
            memcpy(out, oid.c_str(), oid.size() + 1);
            out += oid.size() + 1;
        }
        *out = '\0';
        return codes::kSuccess;
    });
}

uintptr_t get_rsa_key_range(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* range = static_cast<CloudRsaKeyRangeRecord*>(record);
    if (!ctx || !range) return codes::kInvalidParameter;
    return Boundary([&]() -> uint32_t {
        const std::set<std::string> sets = SupportedParamSets(*ctx);
        if (!sets.count(kRsaSignatureParamSet) && !sets.count(kRsaExchangeParamSet))
            return codes::kNotSupportedSelector;
        range->minimum = kRsaMinimumBits;
        range->maximum = kRsaMaximumBits;
        range->reserved = 0;
        return codes::kSuccess;
    });
}

}  // namespace cloud_reader
