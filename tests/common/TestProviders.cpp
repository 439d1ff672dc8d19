#include "TestProviders.h"

#include <support/support.h>

#include <stdexcept>

namespace nimbex_test {

void RegisterProvider(const std::string& name, uint32_t type, int64_t param81,
                      const std::vector<std::pair<std::string, std::string>>& readers) {
    std::string base = "\\config\\Providers\\" + name;
    if (support_registry_put_section(base.c_str()) != 0 ||
        support_registry_put_long((base + "\\Type").c_str(), static_cast<int32_t>(type)) != 0)
        throw std::runtime_error("cannot register provider " + name);
    if (param81 >= 0 &&
        support_registry_put_long((base + "\\Param81").c_str(), static_cast<int32_t>(param81)) != 0)
        throw std::runtime_error("cannot register provider " + name);
    for (const auto& [nick, reader] : readers)
        if (support_registry_put_string((base + "\\Readers\\" + nick).c_str(), reader.c_str()) != 0)
            throw std::runtime_error("cannot register reader of " + name);
}

}  // namespace nimbex_test
