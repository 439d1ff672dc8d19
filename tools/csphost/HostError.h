#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>

namespace csphost {

// A reader call that did not answer 0, or a host facility that failed: the
// 32-bit code and what was being done.
class HostError : public std::runtime_error {
  public:
    HostError(const std::string& what, uint32_t code);
    uint32_t code() const noexcept { return code_; }

  private:
    uint32_t code_;
};

}  // namespace csphost
