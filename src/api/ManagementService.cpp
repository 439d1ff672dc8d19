#include "api/ManagementService.h"

#include "base/SecretString.h"
#include "base/Wipe.h"
#include "config/ModuleOptions.h"
#include "config/SavedCredentials.h"
#include "operations/KelContainerConnector.h"

bool HasCredentials(const CloudServerSettings& record) {
    return record.userName && record.password;
}

bool UrlsPaired(const CloudServerSettings& record) {
    return (record.authUrl == nullptr) == (record.signUrl == nullptr);
}

ServerSettings SettingsFromRecord(const CloudServerSettings& record, uint32_t level) {
    return ServerSettings(
        record.name, record.authUrl, record.signUrl, level >= 2 ? record.docstoreUrl : nullptr,
        level >= 1 ? record.description : nullptr, level >= 1 && record.isTestService != 0);
}

ResolvedService ResolveService(const CloudServerSettings& record, uint32_t level) {
    ResolvedService resolved;
    const FoundServerSettings found = FindServerSettings(record.name, kServerParamName);
    if (found.isValid) {
        resolved.entry = found;
        return resolved;
    }
    resolved.entry = SettingsFromRecord(record, level);
    resolved.isNew = true;
    return resolved;
}

boost::shared_ptr<ContainerConnectorBase> MakeManagementConnector(
    const ServerSettings& entry, const CloudServerSettings* record) {
    boost::shared_ptr<ContainerConnectorBase> connector =
        CreateKelContainerConnector(entry.authUrl, entry.restUrl, entry.docstoreUrl);
    const ModuleOptions options = ReadModuleOptions();
    connector->SetTimeout(static_cast<uint16_t>(options.timeout));
    // Built in place, not assigned from a temporary: a short text moved out
    // of a temporary would leave its bytes behind in it, unwiped.
    const bool own = record && HasCredentials(*record);
    std::string login = own ? std::string(record->userName) : LoadUserName(entry.name);
    WipeOnExit wipeLogin(login);
    std::string password = own ? std::string(record->password) : LoadPassword(entry.name);
    WipeOnExit wipePassword(password);
    connector->SetCredentials(login, password);
    connector->SetHttpErrorLevel(options.httpErrorLevel);
    connector->SetPermitHttp(options.permitHttp);
    return connector;
}

void SaveRecordCredentials(const std::string& name, const CloudServerSettings& record) {
    const SecretString login(record.userName);
    SaveUserName(name, login);
    const SecretString password(record.password);
    SavePassword(name, password);
}
