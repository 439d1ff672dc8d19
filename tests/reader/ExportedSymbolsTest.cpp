#include <gtest/gtest.h>
#include <stdio.h>

#include <set>
#include <sstream>
#include <string>

namespace {

// Names the toolchain or the C++ runtime put into every shared object.
bool IsStandard(const std::string& name) {
    static const std::set<std::string> kLinker = {"_init", "_fini", "_edata", "_end",
                                                  "__bss_start"};
    if (kLinker.count(name)) return true;
    // Instantiations of the standard library's templates (namespace std and
    // __gnu_cxx keep default visibility in the library's own headers).
    for (const char* prefix : {"_ZNSt", "_ZNKSt", "_ZSt", "_ZN9__gnu_cxx", "_ZNK9__gnu_cxx",
                               "_ZTISt", "_ZTSSt", "_ZTVSt", "_ZGVZNSt", "_ZZNSt", "_ZZSt"}) {
        if (name.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

}  // namespace

TEST(ExportedSymbols, OnlyTheReaderEntryPointAndTheManagementInterface) {
    const std::string command = std::string("nm -D --defined-only '") + NIMBEX_MODULE_PATH + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> exported;
    char line[4096];
    size_t lines = 0;
    while (fgets(line, sizeof(line), pipe)) {
        ++lines;
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type >> name;
        if (name.empty()) continue;
        if (!IsStandard(name)) exported.insert(name);
    }
    ASSERT_EQ(pclose(pipe), 0) << command;
    ASSERT_GT(lines, 0u);
    EXPECT_EQ(exported, (std::set<std::string>{
                            "cloud_reader_get_table",
                            "SaveCloudServerSettings",
                            "SaveExtendedCloudServerSettings",
                            "DeleteCloudServerSettings",
                            "CloudServerSettingsEnumOpen",
                            "CloudServerSettingsEnumOpenFromDiscovery",
                            "CloudServerSettingsEnumNext",
                            "ExtendedCloudServerSettingsEnumNext",
                            "CloudServerSettingsEnumClose",
                            "UpdateCloudServerSettings",
                            "UpdateCloudServerSettingsUsingDiscovery",
                            "KelCertificatesEnumOpen",
                            "ExtendedKelCertificatesEnumOpen",
                            "KelCertificateEnumNext",
                            "KelCertificateEnumHasPin",
                            "KelCertificatesEnumClose",
                            "SetCloudCertificateToStore",
                            "FormContainerName",
                            "UpdateCloudCertificates",
                            "KelDropAuthCookies",
                            "KelSetConnectionTimeout",
                            "KelGetConnectionTimeout",
                        }));
}
