#include "protocol/ServiceDiscovery.h"

#include <json/value.h>

#include <cstring>

#include "base/ErrorCodes.h"
#include "base/JsonFields.h"
#include "base/KelException.h"
#include "config/ContainerNaming.h"
#include "config/ModuleOptions.h"
#include "transport/KelUrlRetriever.h"

const char kDiscoveryDocumentPath[] = "/.well-known/kel-configuration/services.json";
const char kUnnamedDiscoveredService[] = "No unique";

namespace {

// The text up to its first NUL.
std::string CutAtNul(const std::string& text) {
    return std::string(text.c_str(), strnlen(text.c_str(), text.size()));
}

bool HasString(const Json::Value& object, const char* member) {
    return object.isMember(member) && object[member].isString();
}

bool HasBool(const Json::Value& object, const char* member) {
    return object.isMember(member) && object[member].isBool();
}

// The record of one element; false when the element is not usable.
bool DecodeEntry(const Json::Value& element, const ServiceNameLookup& nameOf, ServerSettings& out) {
    if (!element.isObject() || !HasBool(element, "iscloudsupported") || !element.isMember("cloud"))
        return false;
    const Json::Value cloud = element["cloud"];
    if (!cloud.isObject() || !HasString(cloud, "idpaddress") || !HasString(cloud, "ssaddress") ||
        !HasBool(cloud, "istest"))
        return false;
    ServerSettings entry;
    entry.authUrl = cloud["idpaddress"].asString();
    entry.restUrl = cloud["ssaddress"].asString();
    if (HasString(cloud, "docaddress")) entry.docstoreUrl = cloud["docaddress"].asString();
    entry.name = nameOf(entry.restUrl);
    if (entry.name.empty()) entry.name = kUnnamedDiscoveredService;
    if (HasString(cloud, "description"))
        entry.description = CutAtNul(cloud["description"].asString());
    entry.isTestService = cloud["istest"].asBool();
    if (!IsValidServerSettings(entry)) return false;
    out = entry;
    return true;
}

}  // namespace

std::vector<ServerSettings> DecodeDiscoveryDocument(const std::string& body,
                                                    const ServiceNameLookup& nameOf) {
    Json::Value root;
    if (!ParseJson(body, root))
        throw KelException("Cannot decode server response. Server settings are not a JSON.",
                           codes::kFail);
    if (!root.isArray() && !root.isNull())
        throw KelException("Cannot decode server response. Server settings are not an array.",
                           codes::kFail);
    std::vector<ServerSettings> list;
    if (root.isNull()) return list;
    for (const Json::Value& element : root) {
        ServerSettings entry;
        if (DecodeEntry(element, nameOf, entry)) list.push_back(entry);
    }
    return list;
}

std::vector<ServerSettings> DiscoverServerSettings(const std::string& baseUrl) {
    const TriStateOption keepAlive = GetHttpKeepAliveOption();
    KelUrlRetriever transport(GetTimeoutOption(), GetHttpErrorLevelOption(), GetPermitHttpOption(),
                              keepAlive.present && keepAlive.value, true);
    const std::string body = transport.Request(baseUrl + kDiscoveryDocumentPath, {}, "");
    return DecodeDiscoveryDocument(body, GetServerNameByRestUrl);
}

void UpdateSettingsFromDiscovery(const std::string& baseUrl) {
    for (ServerSettings& entry : DiscoverServerSettings(baseUrl)) {
        if (entry.name != kUnnamedDiscoveredService) continue;
        entry.name = MakeServiceId(entry.restUrl);
        SaveServerSettings(entry, false);
    }
}
