#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace csphost {

// The host's protected store: one file per value under <root>/user (the
// user's scope) or <root>/machine (the machine's scope), named by the SHA-256
// of the value's name. Directories are made 0700 and files 0600, written to
// a temporary file and renamed into place, so a reader never sees half a value.
class FileProtectedStore {
  public:
    explicit FileProtectedStore(std::string root);

    // $XDG_DATA_HOME/nimbex-host, else $HOME/.local/share/nimbex-host.
    static std::string DefaultRoot();

    bool Set(bool machine, const std::string& name, const unsigned char* value, size_t length);
    // False when the value is absent or cannot be read.
    bool Get(bool machine, const std::string& name, std::vector<unsigned char>& value) const;
    // True when a value was removed.
    bool Remove(bool machine, const std::string& name);

    // The file that holds (or would hold) the value.
    std::string PathOf(bool machine, const std::string& name) const;
    const std::string& root() const { return root_; }

  private:
    std::string root_;
};

}  // namespace csphost
