#pragma once
#include <nimbex/management.h>

#include <string>

namespace nimbex_cli {

// The module's path: --module, else $NIMBEX_MODULE, else libnimbex.so in the
// library directory beside the program's bin/ (an installed tree), else the
// module of the build tree the program was built in.
std::string ModulePath(const std::string& option);

// Loads the module for the rest of the process: the libraries it brings in
// keep process-wide state (the HTTP client's) that must not be unloaded under
// a later user. Null when it does not load.
void* KeepModuleLoaded(const std::string& modulePath);

// The management exports of the module, loaded with dlopen. CallFailure
// 0x8009001D when the module or one of its exports cannot be found.
class ManagementApi {
  public:
    explicit ManagementApi(const std::string& modulePath);
    ~ManagementApi();
    ManagementApi(const ManagementApi&) = delete;
    ManagementApi& operator=(const ManagementApi&) = delete;

#define NIMBEX_CLI_EXPORT(name) decltype(&::name) name = nullptr
    NIMBEX_CLI_EXPORT(SaveCloudServerSettings);
    NIMBEX_CLI_EXPORT(SaveExtendedCloudServerSettings);
    NIMBEX_CLI_EXPORT(DeleteCloudServerSettings);
    NIMBEX_CLI_EXPORT(CloudServerSettingsEnumOpen);
    NIMBEX_CLI_EXPORT(CloudServerSettingsEnumOpenFromDiscovery);
    NIMBEX_CLI_EXPORT(CloudServerSettingsEnumNext);
    NIMBEX_CLI_EXPORT(ExtendedCloudServerSettingsEnumNext);
    NIMBEX_CLI_EXPORT(CloudServerSettingsEnumClose);
    NIMBEX_CLI_EXPORT(UpdateCloudServerSettings);
    NIMBEX_CLI_EXPORT(UpdateCloudServerSettingsUsingDiscovery);
    NIMBEX_CLI_EXPORT(KelCertificatesEnumOpen);
    NIMBEX_CLI_EXPORT(ExtendedKelCertificatesEnumOpen);
    NIMBEX_CLI_EXPORT(KelCertificateEnumNext);
    NIMBEX_CLI_EXPORT(KelCertificateEnumHasPin);
    NIMBEX_CLI_EXPORT(KelCertificatesEnumClose);
    NIMBEX_CLI_EXPORT(SetCloudCertificateToStore);
    NIMBEX_CLI_EXPORT(FormContainerName);
    NIMBEX_CLI_EXPORT(UpdateCloudCertificates);
    NIMBEX_CLI_EXPORT(KelDropAuthCookies);
    NIMBEX_CLI_EXPORT(KelSetConnectionTimeout);
    NIMBEX_CLI_EXPORT(KelGetConnectionTimeout);
#undef NIMBEX_CLI_EXPORT

  private:
    void* handle_ = nullptr;
};

}  // namespace nimbex_cli
