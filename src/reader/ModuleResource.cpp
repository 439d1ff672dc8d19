#include "reader/ModuleResource.h"

#include <clocale>
#include <cstdio>

namespace {

const nl_catd kInvalidCatalog = reinterpret_cast<nl_catd>(-1);
const char kCatalogName[] = "libnimbex.cat";
constexpr size_t kPathBufferSize = 4096;

TSupResource g_resource = {kInvalidCatalog, OpenModuleCatalog, 0};

}  // namespace

TSupResource* ModuleResource() {
    return &g_resource;
}

void OpenModuleCatalog(TSupResource* resource) {
    if (!resource) return;
    const char* current = std::setlocale(LC_MESSAGES, nullptr);
    const char* locale = current ? current : "C";
    support_init_locale(locale);

    nl_catd catalog = catopen(kCatalogName, NL_CAT_LOCALE);
    if (catalog == kInvalidCatalog) {
        const TCspPaths* paths = csp_get_paths();
        const char* libDir = paths ? paths->lib_dir : nullptr;
        if (libDir) {
            char path[kPathBufferSize];
            std::snprintf(path, sizeof(path), "%s/../../%s/libnimbex.cat", libDir, locale);
            catalog = catopen(path, NL_CAT_LOCALE);
            if (catalog == kInvalidCatalog) {
                std::snprintf(path, sizeof(path), "%s/../../%s/LC_MESSAGES/libnimbex.cat", libDir,
                              locale);
                catalog = catopen(path, NL_CAT_LOCALE);
            }
            if (catalog == kInvalidCatalog) {
                std::snprintf(path, sizeof(path), "%s/libnimbex.cat", libDir);
                catalog = catopen(path, NL_CAT_LOCALE);
            }
        }
    }
    resource->catalog = catalog;
}
