#include "listing/progress.hpp"

#include <cstdlib>
#include <cstring>

#include <unistd.h>

namespace kinstrom {

Progress Progress::from_environment() {
    Progress p;
    p.terminal_ = isatty(STDERR_FILENO) == 1;
    const char* forced = std::getenv("KINSTROM_PROGRESS");
    if (forced != nullptr && std::strcmp(forced, "1") == 0) {
        p.show_ = true;
    } else if (forced != nullptr && std::strcmp(forced, "0") == 0) {
        p.show_ = false;
    } else {
        p.show_ = p.terminal_;
    }
    return p;
}

void Progress::begin(const char* phase) {
    end();
    phase_ = phase;
    last_percent_ = -1;
    start_ = std::chrono::steady_clock::now();
    if (show_ && terminal_) {
        std::fprintf(stderr, "kinstrom: %-28s", phase_);
        std::fflush(stderr);
    }
}

void Progress::advance(int64_t done, int64_t total) {
    if (phase_ == nullptr || !show_ || !terminal_ || total <= 0) return;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == last_percent_) return;
    last_percent_ = percent;
    std::fprintf(stderr, "\rkinstrom: %-28s %3d %%", phase_, percent);
    std::fflush(stderr);
}

void Progress::end() {
    if (phase_ == nullptr) return;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start_;
    phases_.push_back({phase_, took.count()});
    phase_ = nullptr;
    if (!show_) return;
    std::fprintf(stderr, "%skinstrom: %-28s %9.3f s\n", terminal_ ? "\r" : "", phases_.back().name,
                 took.count());
    std::fflush(stderr);
}

}  // namespace kinstrom
