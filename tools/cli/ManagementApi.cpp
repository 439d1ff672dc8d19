#include "ManagementApi.h"

#include <dlfcn.h>

#include "Failure.h"
#include "ModuleLocation.h"

namespace nimbex_cli {

void* KeepModuleLoaded(const std::string& modulePath) {
    return dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}

std::string ModulePath(const std::string& option) {
    return csphost::ModuleLocation(option);
}

ManagementApi::ManagementApi(const std::string& modulePath) {
    handle_ = KeepModuleLoaded(modulePath);
    if (!handle_) throw CallFailure("cannot load " + modulePath, 0x8009001D);
#define NIMBEX_CLI_RESOLVE(name)                                             \
    name = reinterpret_cast<decltype(&::name)>(dlsym(handle_, #name));       \
    if (!name) {                                                             \
        dlclose(handle_);                                                    \
        throw CallFailure(modulePath + " has no export " #name, 0x8009001D); \
    }
    NIMBEX_CLI_RESOLVE(SaveCloudServerSettings);
    NIMBEX_CLI_RESOLVE(SaveExtendedCloudServerSettings);
    NIMBEX_CLI_RESOLVE(DeleteCloudServerSettings);
    NIMBEX_CLI_RESOLVE(CloudServerSettingsEnumOpen);
    NIMBEX_CLI_RESOLVE(CloudServerSettingsEnumOpenFromDiscovery);
    NIMBEX_CLI_RESOLVE(CloudServerSettingsEnumNext);
    NIMBEX_CLI_RESOLVE(ExtendedCloudServerSettingsEnumNext);
    NIMBEX_CLI_RESOLVE(CloudServerSettingsEnumClose);
    NIMBEX_CLI_RESOLVE(UpdateCloudServerSettings);
    NIMBEX_CLI_RESOLVE(UpdateCloudServerSettingsUsingDiscovery);
    NIMBEX_CLI_RESOLVE(KelCertificatesEnumOpen);
    NIMBEX_CLI_RESOLVE(ExtendedKelCertificatesEnumOpen);
    NIMBEX_CLI_RESOLVE(KelCertificateEnumNext);
    NIMBEX_CLI_RESOLVE(KelCertificateEnumHasPin);
    NIMBEX_CLI_RESOLVE(KelCertificatesEnumClose);
    NIMBEX_CLI_RESOLVE(SetCloudCertificateToStore);
    NIMBEX_CLI_RESOLVE(FormContainerName);
    NIMBEX_CLI_RESOLVE(UpdateCloudCertificates);
    NIMBEX_CLI_RESOLVE(KelDropAuthCookies);
    NIMBEX_CLI_RESOLVE(KelSetConnectionTimeout);
    NIMBEX_CLI_RESOLVE(KelGetConnectionTimeout);
#undef NIMBEX_CLI_RESOLVE
}

ManagementApi::~ManagementApi() {
    dlclose(handle_);
}

}  // namespace nimbex_cli
