#include "reader/CloudReaderContext.h"

#include <boost/make_shared.hpp>
#include <memory>

#include "base/ErrorCodes.h"
#include "base/KelException.h"
#include "container/CloudCertStoreContainer.h"
#include "operations/KelContainerConnector.h"
#include "reader/CloudMutexLocker.h"

namespace {

// A temporary connector to the service of `entry` (no document store) asks
// its API version; an entry whose connector cannot be built keeps its flag.
void ProbeKeyCreation(ServerSettings& entry, const ModuleOptions& options) {
    boost::shared_ptr<ContainerConnectorBase> probe;
    try {
        probe = CreateKelContainerConnector(entry.authUrl, entry.restUrl, "");
    } catch (const KelException&) {
        return;
    }
    probe->SetTimeout(static_cast<uint16_t>(options.timeout));
    probe->SetHttpErrorLevel(options.httpErrorLevel);
    probe->SetPermitHttp(options.permitHttp);
    entry.keyCreationAllowed = probe->HasApiVersion1();
}

}  // namespace

CloudReaderContext::CloudReaderContext(const ModuleOptions& snapshot)
    : options(snapshot), lock(boost::make_shared<CloudMutexLocker>()) {}

CloudReaderContext::~CloudReaderContext() {
    CloseContainer();
    openFileData.clear();
    openFileKind = 0;
    storeCache.Reset();
}

bool CloudReaderContext::AsksServiceOptions() const {
    return options.enableKeyCreation && options.serverOptionsOnlinePresent &&
           options.serverOptionsOnlineValue;
}

CloudReaderContext* CloudReaderContext::Create() {
    std::unique_ptr<CloudReaderContext> context(new CloudReaderContext(ReadModuleOptions()));
    context->services = EnumAllServerSettings();
    if (context->AsksServiceOptions())
        for (ServerSettings& entry : context->services) ProbeKeyCreation(entry, context->options);
    return context.release();
}

CloudReaderContext* CloudReaderContext::Clone(const CloudReaderContext& from) {
    std::unique_ptr<CloudReaderContext> context(new CloudReaderContext(from.options));
    context->inherited[0] = from.inherited[0];
    context->inherited[1] = from.inherited[1];
    context->services = EnumAllServerSettings();
    if (context->AsksServiceOptions()) {
        // The template's answers are kept; nothing is asked again.
        for (ServerSettings& entry : context->services)
            for (const ServerSettings& known : from.services)
                if (known.name == entry.name) {
                    entry.keyCreationAllowed = known.keyCreationAllowed;
                    break;
                }
    }
    return context.release();
}

uint32_t CloudReaderContext::OpenContainer(const std::string& name, bool create) {
    try {
        if (boost::shared_ptr<CloudContainerBase> open = container) {
            if (open->name() == name) return codes::kSuccess;
            CloseContainer();
        }
        if (!pendingContainerName.empty())
            return name == pendingContainerName ? codes::kSuccess : codes::kFail;
        boost::shared_ptr<CloudContainerBase> found = boost::make_shared<CloudCertStoreContainer>(
            name, &storeCache, selectedService, machine);
        container = found;
        const uint32_t status = found->status();
        if (create) {
            CloseContainer();
            if (status == codes::kSuccess) return codes::kExists;
            pendingContainerName = name;
            return codes::kSuccess;
        }
        if (status != codes::kSuccess) {
            CloseContainer();
            return status;
        }
        pinTriesLeft = kInitialPinTries;
        hashStorage =
            boost::make_shared<HashStorage::DocumentHashStorage>(options.maxDocSize, kHashRecords);
        return codes::kSuccess;
    } catch (...) {
        CloseContainer();
        throw;
    }
}

void CloudReaderContext::CloseContainer() {
    container.reset();
    hashStorage.reset();
    pinTriesLeft = kInitialPinTries;
    noPinNeeded = false;
}

boost::shared_ptr<CloudContainerBase> CloudReaderContext::Container() const {
    boost::shared_ptr<CloudContainerBase> open = container;
    if (!open) throw KelException("No container is open", codes::kNoContainer);
    return open;
}

uint32_t CloudReaderContext::CertificateId() {
    boost::shared_ptr<CloudContainerBase> open = Container();
    boost::shared_ptr<ContainerConnectorBase> service = connector;
    const uint32_t stored = open->certificate_id();
    if (stored != CloudContainerBase::kIdNotAsked) return stored;
    uint32_t found = 0;
    if (service && service->HasApiVersion2() &&
        service->FindCertificateByThumbprint(open->certificate(), &found)) {
        open->set_certificate_id(found);
        open->save();
        return found;
    }
    open->set_certificate_id(CloudContainerBase::kIdUnknown);
    open->save();
    throw KelException("Cannot get certificate id from server", codes::kNotFound);
}
