#pragma once
#include <string>

// Reads saved-credential values named prefix + name (per-user secrets in the
// configuration registry).
class RegistrySaver {
  public:
    explicit RegistrySaver(const std::string& prefix) : prefix_(prefix) {}

    // The value's text; "" when absent. The caller wipes the result.
    virtual std::string Load(const std::string& name);

    const std::string& Prefix() const { return prefix_; }

  private:
    std::string prefix_;
};
