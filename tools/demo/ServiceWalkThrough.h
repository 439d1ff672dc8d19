#pragma once
#include <string>
#include <vector>

#include "LocalServiceProcess.h"
#include "StepLog.h"
#include "config/ServerSettings.h"

// What the walk-through runs and with which credentials.
struct WalkThroughOptions {
    std::string localServicePath;  // nimbex-localservice
    std::string authAppPath;       // nimbex-authapp, stored as "AuthApp"
    std::string serviceConfig;     // handed to the service as --config when not empty
    std::string login;             // the user the connectors sign in as
};

// The second part of the demo: one run of the module's own classes against
// the local signature service. The management exports are not built yet, so
// the steps call the module's classes directly (linked from nimbex_core).
class ServiceWalkThrough {
  public:
    explicit ServiceWalkThrough(const WalkThroughOptions& options) : options_(options) {}

    // Runs every step and cleans up (service stopped, registry entries of a
    // user's own registry removed, temporary directories removed), also after
    // a failure. `password` is wiped by the caller. True when every step that
    // should work did.
    bool Run(const std::string& password);

  private:
    // Stores the service entries, lists them back into `stored` and sets
    // "AuthApp"; false when the walk cannot go on.
    bool PrepareRegistry(bool userRegistry, std::vector<ServerSettings>& stored);
    // Removes what PrepareRegistry wrote into a user's own registry.
    void RestoreRegistry();
    void WalkService(const ServerSettings& settings, const LocalServiceEntry& entry,
                     const std::string& password);

    WalkThroughOptions options_;
    StepLog log_;
    LocalServiceProcess service_;
    std::vector<std::string> storedNames_;
    bool authAppWritten_ = false;
    std::string previousAuthApp_;
};
