#pragma once
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <nimbex/management.h>

namespace nimbex_test {

// The management exports of the built libnimbex.so, resolved with dlsym.
struct ManagementModule {
    void* handle = dlopen(NIMBEX_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);

    template <class F>
    F Resolve(const char* name) {
        EXPECT_NE(handle, nullptr) << dlerror();
        F f = handle ? reinterpret_cast<F>(dlsym(handle, name)) : nullptr;
        EXPECT_NE(f, nullptr) << name;
        return f;
    }
#define NIMBEX_EXPORT_MEMBER(name) decltype(&::name) name = Resolve<decltype(&::name)>(#name)
    NIMBEX_EXPORT_MEMBER(SaveCloudServerSettings);
    NIMBEX_EXPORT_MEMBER(SaveExtendedCloudServerSettings);
    NIMBEX_EXPORT_MEMBER(DeleteCloudServerSettings);
    NIMBEX_EXPORT_MEMBER(CloudServerSettingsEnumOpen);
    NIMBEX_EXPORT_MEMBER(CloudServerSettingsEnumOpenFromDiscovery);
    NIMBEX_EXPORT_MEMBER(CloudServerSettingsEnumNext);
    NIMBEX_EXPORT_MEMBER(ExtendedCloudServerSettingsEnumNext);
    NIMBEX_EXPORT_MEMBER(CloudServerSettingsEnumClose);
    NIMBEX_EXPORT_MEMBER(UpdateCloudServerSettingsUsingDiscovery);
    NIMBEX_EXPORT_MEMBER(KelCertificatesEnumOpen);
    NIMBEX_EXPORT_MEMBER(KelCertificateEnumNext);
    NIMBEX_EXPORT_MEMBER(KelCertificateEnumHasPin);
    NIMBEX_EXPORT_MEMBER(KelCertificatesEnumClose);
    NIMBEX_EXPORT_MEMBER(SetCloudCertificateToStore);
    NIMBEX_EXPORT_MEMBER(FormContainerName);
    NIMBEX_EXPORT_MEMBER(UpdateCloudCertificates);
    NIMBEX_EXPORT_MEMBER(KelDropAuthCookies);
    NIMBEX_EXPORT_MEMBER(KelSetConnectionTimeout);
    NIMBEX_EXPORT_MEMBER(KelGetConnectionTimeout);
#undef NIMBEX_EXPORT_MEMBER

    ManagementModule() = default;
    ~ManagementModule() {
        if (handle) dlclose(handle);
    }
    ManagementModule(const ManagementModule&) = delete;
    ManagementModule& operator=(const ManagementModule&) = delete;
};

}  // namespace nimbex_test
