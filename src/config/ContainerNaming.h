#pragma once
#include <cstdint>
#include <string>

// The C library's srand()/rand() sequence (the GNU C library's additive
// feedback generator, 31 words of state) computed on private state: the same
// seed gives the same numbers as srand(seed) followed by rand(), without
// touching the process-wide generator and safely from concurrent callers.
class SeededRandom {
  public:
    explicit SeededRandom(uint32_t seed);
    // A number in 0..2147483647, like rand().
    int Next();

  private:
    int32_t state_[31];
    int front_ = 3;
    int rear_ = 0;
};

// "KEL-" + a version-4-shaped pseudo-GUID determined by (text, number): the
// same inputs always give the same 40-character name.
std::string MakeContainerName(const std::string& text, uint32_t number);

// A settings name from a REST URL: host + path cut to 40 characters, every
// character other than a letter, digit or '_' replaced by '_'. KelException
// ("Wrong rest server URL format", 0x80090020) when the URL does not split.
std::string MakeServiceId(const std::string& restUrl);
