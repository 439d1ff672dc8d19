#pragma once
#include <string>

#include "base/SecretString.h"

// Reads saved-credential values named prefix + name (per-user secrets in the
// configuration registry).
class RegistrySaver {
  public:
    explicit RegistrySaver(const std::string& prefix) : prefix_(prefix) {}

    // The value's text; "" when absent.
    virtual SecretString Load(const std::string& name);

    const std::string& Prefix() const { return prefix_; }

  private:
    std::string prefix_;
};
