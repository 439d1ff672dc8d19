#pragma once
#include <functional>
#include <string>
#include <vector>

#include "config/ServerSettings.h"

// The well-known path of a service's discovery document, appended to its base
// URL as it stands.
extern const char kDiscoveryDocumentPath[];
// The name a discovered entry gets when no stored entry has its REST URL.
extern const char kUnnamedDiscoveredService[];  // "No unique"

// Finds the stored settings name for a REST URL (empty when there is none).
typedef std::function<std::string(const std::string& restUrl)> ServiceNameLookup;

// Decodes a discovery document (a JSON array of service descriptions) into
// settings records, in array order. Elements that are not objects, lack the
// members the module needs or do not validate are skipped. A body that is not
// JSON, or whose root is neither an array nor null, throws
// KelException(0x80090020).
std::vector<ServerSettings> DecodeDiscoveryDocument(const std::string& body,
                                                    const ServiceNameLookup& nameOf);

// Fetches and decodes the document of the service at `baseUrl` with the
// transport options of the module; names come from the stored settings.
std::vector<ServerSettings> DiscoverServerSettings(const std::string& baseUrl);

// Saves, in the per-user branch and under a name formed from the REST URL,
// every discovered entry that no stored entry knows. Stored entries are never
// changed; entries saved before a failure stay.
void UpdateSettingsFromDiscovery(const std::string& baseUrl);
