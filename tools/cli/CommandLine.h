#pragma once
#include <map>
#include <set>
#include <string>
#include <vector>

namespace nimbex_cli {

// The words after a subcommand: options ("--name value" or "--name=value"
// for those that take a value, "--flag" for the others) and positional
// arguments, in order. Unknown options and missing values are usage errors.
class CommandLine {
  public:
    // valued: options taking a value; flags: options without one.
    CommandLine(const std::vector<std::string>& words, const std::set<std::string>& valued,
                const std::set<std::string>& flags);

    bool Has(const std::string& option) const { return given_.count(option) != 0; }
    // The option's value, or `fallback` when it was not given.
    std::string Value(const std::string& option, const std::string& fallback = "") const;
    // The value as an unsigned number; a usage error when it is not one.
    unsigned long Number(const std::string& option, unsigned long fallback) const;
    // The option's value; a usage error when it is missing.
    std::string Required(const std::string& option) const;
    const std::vector<std::string>& positional() const { return positional_; }
    // The positional argument `index`; a usage error naming `what` when absent.
    std::string Positional(size_t index, const char* what) const;
    // A usage error when there are more than `count` positional arguments.
    void AtMost(size_t count) const;

  private:
    std::map<std::string, std::string> given_;
    std::vector<std::string> positional_;
};

// Parses a decimal or 0x-prefixed number; false when the text is not one.
bool ParseNumber(const std::string& text, unsigned long& value);

}  // namespace nimbex_cli
