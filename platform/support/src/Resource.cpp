// Localised strings from message catalogs, and the catalogs' locale.
#include <locale.h>
#include <nl_types.h>
#include <string.h>

#include <mutex>

#include "support/support.h"

namespace {

// Guards the "opened" state of every descriptor. Recursive, so that an opener
// that itself asks for a string finds the descriptor marked opened (and its
// catalog not yet there) instead of deadlocking.
std::recursive_mutex g_resourceLock;

// Serialises support_init_locale with itself (setlocale is process-wide).
std::mutex g_localeLock;

}  // namespace

extern "C" {

TSupErr support_resource_string(TSupResource* resource, unsigned id, char* buffer, size_t* size) {
    if (!resource || !size) return SUP_INVALID_PARAMETER;
    nl_catd catalog;
    {
        std::lock_guard<std::recursive_mutex> lock(g_resourceLock);
        if (!resource->opened) {
            resource->opened = 1;
            if (resource->opener) resource->opener(resource);
        }
        catalog = resource->catalog;
    }
    if (catalog == reinterpret_cast<nl_catd>(-1)) return SUP_NOT_FOUND;
    const char* text = catgets(catalog, 1, static_cast<int>(id), nullptr);
    if (!text) return SUP_NOT_FOUND;
    size_t length = strlen(text);
    size_t capacity = *size;
    *size = length;
    if (!buffer || capacity == 0) return SUP_OK;
    if (capacity < length + 1) return SUP_MORE_DATA;
    memcpy(buffer, text, length + 1);
    return SUP_OK;
}

TSupErr support_init_locale(const char* locale) {
    if (!locale) return SUP_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(g_localeLock);
    const char* current = setlocale(LC_MESSAGES, nullptr);
    if (current && strcmp(current, locale) == 0) return SUP_OK;
    return setlocale(LC_MESSAGES, locale) ? SUP_OK : SUP_NOT_FOUND;
}

}  // extern "C"
