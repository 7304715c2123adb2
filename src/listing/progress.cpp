#include "listing/progress.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

namespace kinstrom {

Progress Progress::from_environment() {
    const bool terminal = isatty(STDERR_FILENO) == 1;
    const char* forced = std::getenv("KINSTROM_PROGRESS");
    bool show = terminal;
    if (forced != nullptr && std::strcmp(forced, "1") == 0) show = true;
    if (forced != nullptr && std::strcmp(forced, "0") == 0) show = false;
    return show ? showing(stderr, terminal) : Progress();
}

Progress Progress::showing(std::FILE* out, bool terminal) {
    Progress p;
    p.out_ = out;
    p.show_ = true;
    p.terminal_ = terminal;
    return p;
}

void Progress::draw(const char* lead) {
    const int written = last_percent_ < 0 ? std::fprintf(out_, "%skinstrom: %-28s", lead, phase_)
                                          : std::fprintf(out_, "%skinstrom: %-28s %3d %%", lead,
                                                         phase_, last_percent_);
    open_width_ = std::max(0, written - static_cast<int>(std::strlen(lead)));
    std::fflush(out_);
}

void Progress::begin(const char* phase) {
    end();
    phase_ = phase;
    last_percent_ = -1;
    start_ = std::chrono::steady_clock::now();
    if (show_ && terminal_) draw("");
}

void Progress::advance(int64_t done, int64_t total) {
    if (phase_ == nullptr || !show_ || !terminal_ || total <= 0) return;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == last_percent_) return;
    last_percent_ = percent;
    draw("\r");
}

void Progress::end() {
    if (phase_ == nullptr) return;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start_;
    phases_.push_back({phase_, took.count()});
    phase_ = nullptr;
    open_width_ = 0;
    cleared_ = false;
    std::string detail = std::move(detail_);
    detail_.clear();
    if (!show_) return;
    std::fprintf(out_, "%skinstrom: %-28s %9.3f s\n", terminal_ ? "\r" : "", phases_.back().name,
                 took.count());
    if (!detail.empty())
        std::fprintf(out_, "kinstrom: %s: %s\n", phases_.back().name, detail.c_str());
    std::fflush(out_);
}

void Progress::detail(std::string text) {
    if (phase_ != nullptr) detail_ = std::move(text);
}

void Progress::clear_line() {
    if (open_width_ == 0 || cleared_) return;
    std::fprintf(out_, "\r%*s\r", open_width_, "");
    std::fflush(out_);
    cleared_ = true;
}

void Progress::redraw_line() {
    if (!cleared_) return;
    cleared_ = false;
    draw("");
}

}  // namespace kinstrom
