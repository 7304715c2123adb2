// Messages on standard error, for the user; standard output stays the listing. One line per
// message, in the form
//   kinstrom: error: TEXT                    kinstrom: FILE:LINE:COLUMN: error: TEXT
//   kinstrom: warning: TEXT                  kinstrom: FILE:LINE: warning: TEXT
// with the file as resolved and the physical line and byte column counted from 1. A kind of
// finding that can come many times prints its first 5 instances, then its count at the end.
//
// Run-wide: the driver makes one and hands it to the phases that warn.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "listing/listing.hpp"
#include "listing/progress.hpp"

namespace kinstrom {

// Where a message stands; line and column 0 when not known.
struct Place {
    std::string file;
    int64_t line = 0;
    int64_t column = 0;
};

class Diagnostics {
  public:
    static constexpr int64_t SHOWN = 5;

    explicit Diagnostics(std::FILE* out = nullptr) : out_(out) {}

    // The run's progress lines, written to the same terminal: an unfinished one is cleared
    // before each message and drawn again after it, so that every message has a line of its own.
    void set_progress(Progress* progress) { progress_ = progress; }

    void error(const StopCause& cause);
    void warning(const std::string& text, const Place& place = {});
    // How an input was read ("kinstrom: FILE: note: TEXT"): said, not kept among the messages.
    void note(const std::string& text, const Place& place = {});

    // A finding of `kind` (a plural noun phrase, "records running over a line end"): counted,
    // and printed while fewer than SHOWN of the kind were. `shown` tells a caller whether the
    // next one would be printed, so that it may skip working out its details.
    void finding(std::string_view kind, const std::string& text, const Place& place = {});
    bool shown(std::string_view kind) const;

    // The counts of the kinds that had more findings than were printed.
    void finish();

    // Every kind with its count, in order of first finding.
    struct Count {
        std::string kind;
        int64_t count;
    };
    const std::vector<Count>& counts() const { return counts_; }

    // Every message printed, in order.
    struct Message {
        bool error;
        Place place;
        std::string text;
        std::string line;  // as printed (see terminal_text), without its line end
    };
    const std::vector<Message>& messages() const { return messages_; }

  private:
    void print(const char* severity, const std::string& text, const Place& place, bool keep = true);
    Count& count_of(std::string_view kind);

    std::FILE* out_;
    Progress* progress_ = nullptr;
    std::vector<Count> counts_;
    std::vector<Message> messages_;
};

// At most `max` bytes of `bytes`, with bytes that do not print as \xNN (and \ as \\), in
// double quotes; "..." marks a cut.
std::string quoted_bytes(std::string_view bytes, std::size_t max = 40);

// `text` as it may stand on a terminal: control bytes (C0 with NUL, DEL, and C1 as UTF-8 writes
// them) and bytes that are not part of valid UTF-8 as \xNN; everything else, valid UTF-8
// included, as it is. A file name, a directive or an argument can hold any byte, and a raw
// escape sequence would act on the user's terminal.
std::string terminal_text(std::string_view text);

// Writes `line` as terminal_text and a line end to `out`: one message of the program's own that
// is not a Diagnostics one (arguments, targets of the summary).
void write_line(std::FILE* out, std::string_view line);

// The n-th in words for the messages: 1st, 2nd, 3rd, 4th, ...
std::string ordinal(int64_t n);

// A count and its noun: "1 value", "2 values".
std::string counted(int64_t n, std::string_view one, std::string_view many);

}  // namespace kinstrom
