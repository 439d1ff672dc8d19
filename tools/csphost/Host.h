#pragma once
#include <nimbex/reader.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "CspCallbacks.h"
#include "HostError.h"
#include "PinSource.h"
#include "ReaderModule.h"
#include "Session.h"

namespace csphost {

struct HostOptions {
    PinSource pin = PinSource::None();
    // Root of the protected store; empty: FileProtectedStore::DefaultRoot().
    std::string storeDirectory;
    // Caller-context flags handed to set_callbacks and lock_reader.
    bool silent = false;
    bool localContext = false;
    // set_machine_flag for every session.
    bool machine = false;
};

// What the reader says about itself.
struct ReaderInfo {
    std::string readerName;
    std::string mediaName;
    std::string description;
};

// A CSP over one reader module: loads it, gives every session the host's
// callbacks, and opens sessions (reader contexts). Sessions must not outlive
// their host. Failures are HostError with the reader's code.
class Host {
  public:
    explicit Host(const std::string& modulePath, HostOptions options = HostOptions());
    // A reader table already in this process (linked in, not loaded).
    explicit Host(const CloudReaderTable* table, HostOptions options = HostOptions());
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    ReaderInfo Info() const;
    // The configured services in the reader's order.
    std::vector<std::string> ServiceNames();

    // A context with the host's callbacks and machine flag; no service selected.
    Session Open();
    // The same with the service of that index, or that name, selected.
    Session Open(size_t serviceIndex);
    Session Open(const std::string& serviceName);

    const ReaderModule& module() const { return *module_; }
    CspCallbacks& callbacks() { return *callbacks_; }
    const HostOptions& options() const { return options_; }

  private:
    void Init();

    HostOptions options_;
    std::unique_ptr<ReaderModule> module_;
    std::unique_ptr<CspCallbacks> callbacks_;
};

}  // namespace csphost
