#pragma once
#include <string>
#include <vector>

// Where the registry stand-in and the lock files live for this run. Each of
// NIMBEX_MACHINE_DIR, NIMBEX_USER_DIR and NIMBEX_RUNTIME_DIR that the user has
// set (not empty) is kept; the others are pointed at fresh subdirectories of
// the run's scratch directory. The variables it set are removed again when it
// goes.
class RegistryPlacement {
  public:
    struct Place {
        std::string variable;
        std::string directory;
        bool userSet = false;
    };

    explicit RegistryPlacement(const std::string& scratch);
    ~RegistryPlacement();
    RegistryPlacement(const RegistryPlacement&) = delete;
    RegistryPlacement& operator=(const RegistryPlacement&) = delete;

    const std::vector<Place>& places() const { return places_; }
    // True when the machine-wide or the per-user registry is the user's own.
    bool UsesUserRegistry() const;

  private:
    std::vector<Place> places_;
};
