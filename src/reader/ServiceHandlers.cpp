// The configured services: counting, selecting (building and configuring the
// connector), the selected service's name and its default container.
#include <nimbex/reader.h>

#include <cstring>

#include "base/ErrorBoundary.h"
#include "base/ErrorCodes.h"
#include "base/Wipe.h"
#include "config/SavedCredentials.h"
#include "operations/KelContainerConnector.h"
#include "protocol/HttpMessageSignatureCreator.h"
#include "reader/CloudReaderContext.h"
#include "reader/ReaderHandlers.h"
#include "reader/SizeBufferRecord.h"
#include "reader/TokenSaverChoice.h"

namespace {

CloudReaderContext* AsContext(void* context) {
    return static_cast<CloudReaderContext*>(context);
}

// The new connector is configured in this order; a failure leaves it in
// place, but the selection unchanged.
void Configure(CloudReaderContext& ctx, ContainerConnectorBase& connector,
               const ServerSettings& entry) {
    const ModuleOptions& options = ctx.options;
    connector.SetTimeout(static_cast<uint16_t>(options.timeout));
    connector.SetMessageSignatureCreator(MakeMessageSignatureCreator(&ctx.host));
    if (options.shouldSaveAuthToken) connector.SetAuthTokenSaver(MakeTokenSaver(ctx, entry));
    connector.SetSilent(ctx.silent);
    connector.SetPermitHttp(options.permitHttp);
    connector.SetHttpErrorLevel(options.httpErrorLevel);
    connector.SetKeepAlive(options.keepAlivePresent ? options.keepAliveValue
                                                    : !ctx.callerHasLocalContext);
    std::string login = LoadUserName(entry.name);
    WipeOnExit wipeLogin(login);
    std::string password = LoadPassword(entry.name);
    WipeOnExit wipePassword(password);
    connector.SetCredentials(login, password);
}

}  // namespace

namespace cloud_reader {

uintptr_t count_services(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* count = static_cast<CloudCountServicesRecord*>(record);
    if (!ctx || !count) return codes::kInvalidParameter;
    count->count = ctx->services.size();
    return ctx->services.empty() ? codes::kNotFound : codes::kSuccess;
}

uintptr_t select_service(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* select = static_cast<const CloudSelectServiceRecord*>(record);
    if (!ctx || !select) return codes::kInvalidParameter;
    const uintptr_t index = select->index;
    if (index >= ctx->services.size()) return codes::kNotFound;
    if (ctx->selectedIndex >= 0 && index == static_cast<uintptr_t>(ctx->selectedIndex))
        return codes::kSuccess;
    return Boundary([&]() -> uint32_t {
        const ServerSettings entry = ctx->services[index];
        boost::shared_ptr<ContainerConnectorBase> connector =
            CreateKelContainerConnector(entry.authUrl, entry.restUrl, entry.docstoreUrl);
        ctx->connector = connector;
        Configure(*ctx, *connector, entry);
        ctx->selectedIndex = static_cast<int32_t>(index);
        ctx->selectedService = entry;
        return codes::kSuccess;
    });
}

uintptr_t get_service_name(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* text = static_cast<CloudSizeBufferRecord*>(record);
    if (!ctx || !text) return codes::kInvalidParameter;
    return ReturnText(text, ctx->selectedService.name);
}

uintptr_t get_default_container(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* text = static_cast<CloudSizeBufferRecord*>(record);
    if (!ctx || !text) return codes::kInvalidParameter;
    if (ctx->selectedIndex < 0) return codes::kNotFound;
    return Boundary([&]() -> uint32_t {
        const std::string name = GetDefaultContainer(ctx->selectedService.name);
        if (name.empty()) return codes::kNotFound;
        // A capacity without room for the zero answers 234 with or without a
        // buffer; only a zero capacity asks for the length.
        if (text->size != 0 && text->size < name.size() + 1) {
            text->size = name.size();
            return codes::kMoreData;
        }
        return ReturnText(text, name);
    });
}

uintptr_t set_default_container(void* context, void* record) {
    CloudReaderContext* ctx = AsContext(context);
    auto* name = static_cast<const CloudDefaultContainerRecord*>(record);
    if (!ctx || !name || !name->name) return codes::kInvalidParameter;
    if (ctx->selectedIndex < 0) return codes::kNotFound;
    return Boundary([&]() -> uint32_t {
        SetDefaultContainer(ctx->selectedService.name,
                            std::string(name->name, strnlen(name->name, name->length)));
        return codes::kSuccess;
    });
}

}  // namespace cloud_reader
