#pragma once
#include <cstdint>

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
