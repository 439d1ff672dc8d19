#pragma once
#include <cstdint>
#include <string>

namespace nimbex_cli {

// A one-line progress bar on standard error, redrawn in place; it draws
// nothing unless `enabled` (a terminal, not --quiet, a large enough job).
class ProgressBar {
  public:
    ProgressBar(std::string label, uint64_t total, bool enabled);
    ~ProgressBar();
    void Update(uint64_t done);
    // Draws 100% and ends the line (once).
    void Finish();

    // True when standard error is a terminal.
    static bool OnTerminal();

  private:
    std::string label_;
    uint64_t total_;
    bool enabled_;
    int lastPercent_ = -1;
    bool finished_ = false;
};

}  // namespace nimbex_cli
