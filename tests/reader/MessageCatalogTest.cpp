#include <stdlib.h>

#include <clocale>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "ModuleLoader.h"
#include "TempEnv.h"

namespace {

using nimbex_test::ChildChecks;

// Where a catalog is put, relative to a scratch root whose "lib/nimbex"
// directory plays the CSP's library directory, and the message locale.
struct Placement {
    const char* directory;
    const char* name;
    const char* locale;
};

class MessageCatalog : public nimbex_test::ModuleTest,
                       public ::testing::WithParamInterface<Placement> {};

}  // namespace

TEST_P(MessageCatalog, StringsComeFromTheCatalogNextToTheLibraries) {
    nimbex_test::TempDir root;
    const std::string libDir = root.path() + "/lib/nimbex";
    const std::string catalogDir = root.path() + "/" + GetParam().directory;
    std::filesystem::create_directories(libDir);
    std::filesystem::create_directories(catalogDir);
    const std::string source = root.path() + "/strings.msg";
    std::ofstream(source) << "$set 1\n104 Localised description\n106 Localised media\n";
    const std::string command = "gencat '" + catalogDir + "/libnimbex.cat' '" + source + "' 2>&1";
    ASSERT_EQ(system(command.c_str()), 0) << command;

    setenv("NIMBEX_LIB_DIR", libDir.c_str(), 1);
    unsetenv("NLSPATH");
    const char* locale = GetParam().locale;
    nimbex_test::RunInChild([this, locale](ChildChecks& check) {
        const char* set = setlocale(LC_MESSAGES, locale);
        check.Equal(std::string(set ? set : "(null)"), std::string(locale), "locale");
        // The size/buffer rule itself: ConstantHandlers.TextsFallBackWithoutACatalog.
        for (const auto& [id, text] : {std::pair{CLOUD_GET_MEDIA_NAME, "Localised media"},
                                       std::pair{CLOUD_GET_DESCRIPTION, "Localised description"}}) {
            char buffer[64] = {};
            CloudSizeBufferRecord r{sizeof(buffer), buffer};
            check.Equal(Call(id, &r), 0u, text);
            check.Equal(std::string(buffer), std::string(text), "text");
            check.Equal(r.size, std::strlen(text), "length");
        }
    });
}

INSTANTIATE_TEST_SUITE_P(Fallbacks, MessageCatalog,
                         ::testing::Values(Placement{"C", "LocaleDir", "C"},
                                           Placement{"C/LC_MESSAGES", "LocaleMessagesDir", "C"},
                                           Placement{"C.UTF-8/LC_MESSAGES",
                                                     "NamedLocaleMessagesDir", "C.UTF-8"},
                                           Placement{"lib/nimbex", "LibDir", "C"}),
                         [](const auto& info) { return std::string(info.param.name); });
