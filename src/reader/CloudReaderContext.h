#pragma once
#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "base/HostCallbacks.h"
#include "config/ModuleOptions.h"
#include "config/ServerSettings.h"
#include "container/CloudContainerBase.h"
#include "container/CloudStoreLink.h"
#include "operations/ContainerConnectorBase.h"
#include "reader/CloudLocker.h"
#include "reader/DocumentHashStorage.h"

// The state behind one reader handle of the CSP: the option snapshot, the
// configured services and the selected one, the connector to it, the open
// container and file, the caller's context words and callbacks, and this
// context's handle of the cloud lock. Handlers take their own reference to
// the connector, container or hash storage before using them.
class CloudReaderContext {
  public:
    static constexpr uint32_t kInitialPinTries = 10;
    // Records of the hash storage of an open container.
    static constexpr uint32_t kHashRecords = 5;

    // A new context over the current options and services (create_context).
    static CloudReaderContext* Create();
    // A new context with the options and inherited words of `from`
    // (clone_context); the services are listed again.
    static CloudReaderContext* Clone(const CloudReaderContext& from);

    // Closes the container, drops the open file and the store cache.
    ~CloudReaderContext();
    CloudReaderContext(const CloudReaderContext&) = delete;
    CloudReaderContext& operator=(const CloudReaderContext&) = delete;

    // Opens the container `name` of the selected service (open_container):
    // the open one when it has that name, else a lookup in the store link
    // that replaces it. With `create`, an existing container answers
    // 0x8009000F and a missing one becomes the pending container name. While
    // a creation is pending only its name opens (answering 0 with no
    // container). Returns the answer; on an exception nothing stays open.
    uint32_t OpenContainer(const std::string& name, bool create);

    // Releases the container and its hash storage; PIN tries back to 10 and
    // the no-PIN-needed flag cleared. A pending creation stays.
    void CloseContainer();

    // The open container, as the handler's own reference; without one,
    // KelException("No container is open", 0x252D1303). Handlers that work
    // on the open container (signing, PIN, files) start here.
    boost::shared_ptr<CloudContainerBase> Container() const;

    // The service's id of the open container's certificate: the stored one,
    // else (API version 2) the service's answer to a thumbprint lookup,
    // which is saved with the container. Otherwise the id is marked unknown,
    // saved, and KelException("Cannot get certificate id from server", 2).
    uint32_t CertificateId();

    // The option snapshot taken by create_context (copied by clone_context).
    ModuleOptions options;

    boost::shared_ptr<CloudLocker> lock;
    bool machine = false;
    bool noPinNeeded = false;
    bool silent = false;
    bool callerHasLocalContext = false;

    boost::shared_ptr<ContainerConnectorBase> connector;
    boost::shared_ptr<CloudContainerBase> container;
    std::string pendingContainerName;
    boost::shared_ptr<HashStorage::DocumentHashStorage> hashStorage;
    ServerSettings selectedService;
    int32_t selectedIndex = -1;
    std::vector<ServerSettings> services;
    CloudStoreLink storeCache;
    std::vector<unsigned char> openFileData;
    // The caller's context words and callback table; the request signer and
    // the PIN request reach the host through it.
    HostContext host{};
    uint32_t pinTriesLeft = kInitialPinTries;
    uint32_t openFileKind = 0;
    uint32_t inherited[2] = {0, 0};

  private:
    explicit CloudReaderContext(const ModuleOptions& snapshot);
    // Whether the services' key-creation flags are asked of the services.
    bool AsksServiceOptions() const;
};
