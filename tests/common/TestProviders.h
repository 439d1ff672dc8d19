#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace nimbex_test {

// Registers a provider in the configuration registry of the current
// environment: "Type", "Param81" (when `param81` is not negative) and one
// reader entry (nickname, reader name) each.
void RegisterProvider(const std::string& name, uint32_t type, int64_t param81,
                      const std::vector<std::pair<std::string, std::string>>& readers);

}  // namespace nimbex_test
