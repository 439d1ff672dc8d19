#pragma once
#include <boost/shared_ptr.hpp>

#include "auth/AuthTokenSaver.h"
#include "auth/ProtectedStore.h"
#include "config/ServerSettings.h"
#include "reader/CloudReaderContext.h"

// The host's protected store, one record for the whole process. When the
// callback table has all of words 9 to 13, the first call creates the record
// (the handle comes from word 9, called with the caller context; a 0 handle
// throws "Cannot create protected store", 0x80090020) and later calls only
// refresh its caller context and callbacks. Without the five callbacks: null.
const ProtectedStore* ProcessProtectedStore(const HostContext& host);

// The token saver for `service`: the local-context saver over the protected
// store, prefixed with the service's auth URL, when the caller keeps a local
// context; otherwise the registry saver prefixed with the service name. Both
// get the process-wide protected store and the context's machine flag.
boost::shared_ptr<AuthTokenSaver> MakeTokenSaver(const CloudReaderContext& context,
                                                 const ServerSettings& service);
