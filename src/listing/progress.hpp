// Progress lines on standard error: one line per phase with its wall time, and a percentage
// during the long phases. Shown when standard error is a terminal; KINSTROM_PROGRESS=1 shows
// the phase lines (without percentages) whatever standard error is, KINSTROM_PROGRESS=0 hides
// them. Nothing here touches standard output or the run's files.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace kinstrom {

class Progress {
  public:
    // Decides from the environment and standard error; a default Progress shows nothing.
    static Progress from_environment();

    Progress() = default;

    // Ends the phase under way (if any) and starts the named one.
    void begin(const char* phase);
    // Reports done out of total in the phase under way (shown only on a terminal).
    void advance(int64_t done, int64_t total);
    // Ends the phase under way, printing its time.
    void end();

    // Every phase ended so far with its wall time, shown or not.
    struct Phase {
        const char* name;
        double seconds;
    };
    const std::vector<Phase>& phases() const { return phases_; }

  private:
    bool show_ = false;
    bool terminal_ = false;
    const char* phase_ = nullptr;
    int last_percent_ = -1;
    std::chrono::steady_clock::time_point start_{};
    std::vector<Phase> phases_;
};

}  // namespace kinstrom
