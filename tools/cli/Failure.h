#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>

namespace nimbex_cli {

// A wrong command line: reported with the command's usage, exit status 2.
class UsageError : public std::runtime_error {
  public:
    explicit UsageError(const std::string& what) : std::runtime_error(what) {}
};

// A call into the module that did not answer 0: what was being done and the
// code, reported as one line, exit status 1. `detail` is added after the
// meaning (for a wrong PIN, the tries left).
class CallFailure : public std::runtime_error {
  public:
    CallFailure(const std::string& what, uint32_t code, std::string detail = "")
        : std::runtime_error(what), code_(code), detail_(std::move(detail)) {}
    uint32_t code() const noexcept { return code_; }
    const std::string& detail() const noexcept { return detail_; }

  private:
    uint32_t code_;
    std::string detail_;
};

// Throws CallFailure(what, code) unless code is 0.
void Check(uint32_t code, const std::string& what);

// What a code means, in a few words ("not found", "wrong PIN").
std::string CodeMeaning(uint32_t code);

// The one line a failure is reported with:
// "nimbex: <what>: error 2 (0x00000002): not found[; detail]".
std::string FailureLine(const CallFailure& failure);

}  // namespace nimbex_cli
