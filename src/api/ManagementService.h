#pragma once
#include <nimbex/management.h>

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <string>

#include "config/ServerSettings.h"
#include "operations/ContainerConnectorBase.h"

// What the management exports share: reading the caller's service record,
// finding the service it names and building a short-lived connector to it.

// True when the record carries both a user name and a password.
bool HasCredentials(const CloudServerSettings& record);

// True when both URLs or neither are given.
bool UrlsPaired(const CloudServerSettings& record);

// The record read at `level` as a settings entry (description and test flag
// from level 1, document store URL from level 2); KelException("Wrong server
// info") when its URLs do not validate.
ServerSettings SettingsFromRecord(const CloudServerSettings& record, uint32_t level);

// The service a record names: the stored entry of that name when there is a
// valid one (the record's URLs are then ignored), else the record itself.
struct ResolvedService {
    ServerSettings entry;
    bool isNew = false;
};
ResolvedService ResolveService(const CloudServerSettings& record, uint32_t level);

// A connector over the entry's URLs with the module's time-out, the caller's
// credentials when the record carries both (else those saved for the entry),
// its HTTP error level and plain-HTTP permission.
boost::shared_ptr<ContainerConnectorBase> MakeManagementConnector(
    const ServerSettings& entry, const CloudServerSettings* record);

// Saves the record's user name and password for `name`.
void SaveRecordCredentials(const std::string& name, const CloudServerSettings& record);
