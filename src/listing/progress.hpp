// Progress lines on standard error: one line per phase with its wall time, and a percentage
// during the long phases. Shown when standard error is a terminal; KINSTROM_PROGRESS=1 shows
// the phase lines (without percentages) whatever standard error is, KINSTROM_PROGRESS=0 hides
// them. A message on standard error clears an unfinished phase line first (clear_line,
// redraw_line). Nothing here touches standard output or the run's files.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kinstrom {

class Progress {
  public:
    // Decides from the environment and standard error; a default Progress shows nothing.
    static Progress from_environment();
    // Shows the phase lines on `out`; on a `terminal` a phase's line stays unfinished while the
    // phase runs, rewritten in place with its percentage and its time.
    static Progress showing(std::FILE* out, bool terminal);

    Progress() = default;

    // Ends the phase under way (if any) and starts the named one.
    void begin(const char* phase);
    // Reports done out of total in the phase under way (shown only on a terminal).
    void advance(int64_t done, int64_t total);
    // Ends the phase under way, printing its time.
    void end();
    // A line on what the phase under way did, printed after its phase line when the phase ends
    // (where phase lines are shown): "kinstrom: PHASE: TEXT".
    void detail(std::string text);

    // A message is about to be written to the same terminal: an unfinished phase line is blanked
    // and the cursor put back at its start, so that the message stands on a line of its own ...
    void clear_line();
    // ... and after the message the phase line is drawn again as it stood.
    void redraw_line();

    // Every phase ended so far with its wall time, shown or not.
    struct Phase {
        const char* name;
        double seconds;
    };
    const std::vector<Phase>& phases() const { return phases_; }

  private:
    // Writes `lead` and the unfinished line of the phase under way, with its last percentage.
    void draw(const char* lead);

    std::FILE* out_ = stderr;
    bool show_ = false;
    bool terminal_ = false;
    const char* phase_ = nullptr;
    int last_percent_ = -1;
    int open_width_ = 0;    // characters of the unfinished phase line on the terminal; 0: none
    bool cleared_ = false;  // that line is blanked for a message
    std::chrono::steady_clock::time_point start_{};
    std::string detail_;
    std::vector<Phase> phases_;
};

}  // namespace kinstrom
