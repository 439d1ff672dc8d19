#pragma once
#include <string.h>

#include <string>

namespace authapp {

// Overwrites a string's characters with zero bytes (passwords, tokens, pages holding them).
inline void wipe(std::string& s) {
    if (!s.empty()) explicit_bzero(&s[0], s.size());
    s.clear();
}

// A string that is wiped when it goes.
class Secret {
  public:
    Secret() = default;
    explicit Secret(std::string s) : value_(std::move(s)) {}
    ~Secret() { wipe(value_); }
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    Secret& operator=(std::string s) {
        wipe(value_);
        value_ = std::move(s);
        return *this;
    }
    const std::string& get() const { return value_; }
    std::string& mut() { return value_; }

  private:
    std::string value_;
};

}  // namespace authapp
