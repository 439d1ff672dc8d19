#include "ProgressBar.h"

#include <unistd.h>

#include <cstdio>

namespace nimbex_cli {

namespace {
constexpr int kWidth = 30;
}

ProgressBar::ProgressBar(std::string label, uint64_t total, bool enabled)
    : label_(std::move(label)), total_(total), enabled_(enabled) {}

ProgressBar::~ProgressBar() {
    // An interrupted bar still leaves the cursor on a fresh line.
    if (enabled_ && lastPercent_ >= 0 && !finished_) std::fputc('\n', stderr);
}

bool ProgressBar::OnTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

void ProgressBar::Update(uint64_t done) {
    if (!enabled_ || finished_) return;
    const int percent = total_ ? static_cast<int>(done * 100 / total_) : 100;
    if (percent == lastPercent_) return;
    lastPercent_ = percent;
    const int filled = percent * kWidth / 100;
    std::fprintf(stderr, "\r%s [%.*s%*s] %3d%%", label_.c_str(), filled,
                 "##############################", kWidth - filled, "", percent);
    std::fflush(stderr);
}

void ProgressBar::Finish() {
    if (!enabled_ || finished_) return;
    Update(total_);
    std::fputc('\n', stderr);
    finished_ = true;
}

}  // namespace nimbex_cli
