// Internal to the support library: where its files live.
#pragma once

#include <string>

namespace nimbex_support {

// NIMBEX_MACHINE_DIR, default /var/lib/nimbex.
std::string MachineDirectory();
// NIMBEX_USER_DIR, default $XDG_CONFIG_HOME/nimbex, else <home>/.config/nimbex.
std::string UserDirectory();
// NIMBEX_RUNTIME_DIR, default $XDG_RUNTIME_DIR/nimbex, else /tmp/nimbex-<uid>.
std::string RuntimeDirectory();
// NIMBEX_LIB_DIR, default the directory this library was loaded from.
std::string LibraryDirectory();

// Creates dir and its missing parents (each new one with `mode`).
// True when the directory exists afterwards.
bool MakeDirectories(const std::string& dir, unsigned mode);

}  // namespace nimbex_support
