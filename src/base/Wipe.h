#pragma once
#include <cstddef>
#include <string>
#include <vector>

// Overwrites n bytes at p with zeros in a way the compiler cannot elide.
void WipeBytes(void* p, std::size_t n) noexcept;

// Zeroes every byte the string owns (its whole capacity) and empties it.
void WipeString(std::string& s) noexcept;

// Zeroes and empties a byte vector.
void WipeVector(std::vector<unsigned char>& v) noexcept;

// Wipes the named string when the scope ends, on every path. Only for a
// std::string that an outside interface hands over (the JSON writer, the
// browser runner, the transport); a secret the module keeps is a SecretString.
class WipeOnExit {
  public:
    explicit WipeOnExit(std::string& s) noexcept : s_(s) {}
    ~WipeOnExit() { WipeString(s_); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

  private:
    std::string& s_;
};
