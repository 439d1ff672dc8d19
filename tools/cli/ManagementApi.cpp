#include "ManagementApi.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdlib>

#include "Failure.h"

#ifndef NIMBEX_BUILD_MODULE
#define NIMBEX_BUILD_MODULE "libnimbex.so"
#endif
#ifndef NIMBEX_INSTALL_LIBDIR
#define NIMBEX_INSTALL_LIBDIR "lib"
#endif

namespace nimbex_cli {

namespace {

std::string ProgramDirectory() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "";
    const std::string exe(path, static_cast<size_t>(n));
    return exe.substr(0, exe.find_last_of('/'));
}

}  // namespace

void* KeepModuleLoaded(const std::string& modulePath) {
    return dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}

std::string ModulePath(const std::string& option) {
    if (!option.empty()) return option;
    const char* env = std::getenv("NIMBEX_MODULE");
    if (env && *env) return env;
    const std::string installed =
        ProgramDirectory() + "/../" + NIMBEX_INSTALL_LIBDIR + "/libnimbex.so";
    if (access(installed.c_str(), R_OK) == 0) return installed;
    return NIMBEX_BUILD_MODULE;
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
