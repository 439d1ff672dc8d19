// The files of the open container: the certificate of its key (kind 8 for
// an exchange key, 9 for a signature key) and its container extensions
// (kind 10). Reading copies them out of the container; writing a
// certificate installs it on the service and in the store, writing the
// extensions sets them on the service.
#include <nimbex/reader.h>

#include <algorithm>
#include <boost/make_shared.hpp>
#include <cstring>
#include <vector>

#include "base/ErrorBoundary.h"
#include "base/ErrorCodes.h"
#include "container/CloudCertStoreContainer.h"
#include "container/CloudCertificateLink.h"
#include "reader/CloudReaderContext.h"
#include "reader/ReaderHandlers.h"

namespace {

constexpr uintptr_t kMinOpenFileRecord = 8;
constexpr uint32_t kExchangeKey = 1;   // AT_KEYEXCHANGE
constexpr uint32_t kSignatureKey = 2;  // AT_SIGNATURE

CloudReaderContext* AsContext(void* context) {
    return static_cast<CloudReaderContext*>(context);
}

// The data of a file to read; 2 when the container's key is of the other
// KeySpec (signature or exchange), 0x80090029 for a kind that is no file.
uint32_t FileData(const CloudContainerBase& container, uintptr_t kind,
                  std::vector<unsigned char>* data) {
    switch (kind) {
        case CLOUD_FILE_EXCHANGE_CERTIFICATE:
        case CLOUD_FILE_SIGNATURE_CERTIFICATE: {
            const uint32_t wanted =
                kind == CLOUD_FILE_SIGNATURE_CERTIFICATE ? kSignatureKey : kExchangeKey;
            if (container.key_spec() != wanted) return codes::kNotFound;
            *data = container.certificate();
            return codes::kSuccess;
        }
        case CLOUD_FILE_EXTENSIONS:
            *data = container.extensions();
            return codes::kSuccess;
        default:
            return codes::kNotSupported;
    }
}

// Installs the certificate on the service and links it in the store to the
// open container's name, service and data; the container is then found
// again over the new certificate. The old certificate leaves the store
// unless it is the one written.
uint32_t WriteCertificate(CloudReaderContext& ctx, const unsigned char* data, uintptr_t length) {
    boost::shared_ptr<CloudContainerBase> container = ctx.Container();
    boost::shared_ptr<ContainerConnectorBase> connector = ctx.Connector();
    const CertificateRecord installed =
        connector->InstallCertificate(data, static_cast<uint32_t>(length));
    const std::string name = container->name();
    const uint32_t permissions = container->key_permissions();
    const std::vector<unsigned char> extensions = container->extensions();
    const uint32_t keySpec = container->key_spec();
    const std::vector<unsigned char> certificate(data, data + length);
    const uint32_t rc =
        InstallCloudCertificateFromBytes(certificate, name, container->service(), installed.id,
                                         permissions, extensions, ctx.machine, nullptr, 0, keySpec);
    if (rc != codes::kSuccess) return rc;
    if (container->certificate() != certificate) container->remove(true);
    ctx.storeCache.Reset();
    boost::shared_ptr<CloudContainerBase> reopened = boost::make_shared<CloudCertStoreContainer>(
        name, &ctx.storeCache, ctx.selectedService, ctx.machine);
    if (reopened->status() != codes::kSuccess) {
        ctx.CloseContainer();
        return reopened->status();
    }
    ctx.container = reopened;
    return codes::kSuccess;
}

uint32_t WriteExtensions(CloudReaderContext& ctx, const unsigned char* data, uintptr_t length) {
    boost::shared_ptr<CloudContainerBase> container = ctx.Container();
    const uint32_t id = ctx.CertificateId();
    const std::vector<unsigned char> extensions(data, data + length);
    ctx.Connector()->SetContainerExtensions(id, extensions);
    container->set_extensions(extensions);
    container->save();
    return codes::kSuccess;
}

}  // namespace

namespace cloud_reader {

uintptr_t open_file(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* file = static_cast<const CloudOpenFileRecord*>(record);
    if (!ctx || !file || file->size < kMinOpenFileRecord || !file->required3 || !file->required4)
        return codes::kInvalidParameter;
    return Boundary([&]() -> uint32_t {
        boost::shared_ptr<CloudContainerBase> container = ctx->container;
        if (!container) return codes::kNoContainer;
        if (!(file->flags & CLOUD_OPEN_FILE_READ)) {
            ctx->openFileKind = static_cast<uint32_t>(file->kind);
            return codes::kSuccess;
        }
        std::vector<unsigned char> data;
        const uint32_t rc = FileData(*container, file->kind, &data);
        if (rc != codes::kSuccess) return rc;
        ctx->openFileData = std::move(data);
        if (ctx->openFileData.empty()) {
            ctx->openFileKind = 0;
            return codes::kNotFound;
        }
        ctx->openFileKind = static_cast<uint32_t>(file->kind);
        return codes::kSuccess;
    });
}

uintptr_t close_file(void* context, void*) {
    CloudReaderContext* ctx = AsContext(context);
    if (!ctx) return codes::kSuccess;
    ctx->openFileData.clear();
    ctx->openFileKind = 0;
    return codes::kSuccess;
}

uintptr_t read_file(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* read = static_cast<CloudReadFileRecord*>(record);
    if (!read) return codes::kInvalidParameter;
    // The length word is not a count of bytes copied: it is 0 on every return.
    const uintptr_t length = read->length;
    read->length = 0;
    if (!ctx || !read->buffer) return codes::kInvalidParameter;
    if (!ctx->container) return codes::kNoContainer;
    if (ctx->openFileKind == 0) return codes::kNoFile;
    const std::vector<unsigned char>& data = ctx->openFileData;
    if (data.empty()) return codes::kFail;
    if (read->offset < data.size())
        std::memcpy(read->buffer, data.data() + read->offset,
                    std::min<uintptr_t>(length, data.size() - read->offset));
    return codes::kSuccess;
}

uintptr_t get_file_size(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* size = static_cast<CloudFileSizeRecord*>(record);
    if (!ctx || !size) return codes::kInvalidParameter;
    if (!ctx->container) return codes::kNoContainer;
    if (ctx->openFileKind == 0) return codes::kNoFile;
    size->size = ctx->openFileData.size();
    return codes::kSuccess;
}

uintptr_t write_file(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* write = static_cast<const CloudWriteFileRecord*>(record);
    if (!ctx || !write) return codes::kInvalidParameter;
    if (!ctx->container) return codes::kNoContainer;
    if (ctx->openFileKind == 0) return codes::kNoFile;
    if (!write->data && write->length) return codes::kInvalidParameter;
    return Boundary([&]() -> uint32_t {
        switch (ctx->openFileKind) {
            case CLOUD_FILE_EXCHANGE_CERTIFICATE:
            case CLOUD_FILE_SIGNATURE_CERTIFICATE:
                return WriteCertificate(*ctx, write->data, write->length);
            case CLOUD_FILE_EXTENSIONS:
                return WriteExtensions(*ctx, write->data, write->length);
            default:
                return codes::kNotSupported;
        }
    });
}

}  // namespace cloud_reader
