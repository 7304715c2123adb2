// Listing conventions shared by every writer of the run.
//
// Conventions used throughout Kinstrom:
//   - Counts, sort variables, table positions and directive integers are signed 32-bit
//     (int32_t); original IDs of individuals and PHGs are signed 64-bit (int64_t).
//   - Genetic values carried through the recursions are 32-bit reals (float, on purpose);
//     proportions, heterozygosities and running sums are 64-bit reals (double).
//   - The listing goes to standard output in pages of 75 lines. A free-format line is one
//     blank followed by its items in fixed fields (12 columns for int32, 22 for int64, 15 for
//     float, 24 for double, 2 for a flag); a blank line of the listing is a free-format line
//     holding one blank text, i.e. two blanks.
//
// Fatal stops: a module that must end the run calls fatal_stop (or one of the routines built on
// it), which prints the stop's lines and throws FatalStop; the driver hands the status back to
// main, which returns it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>

#include "listing/idtexts.hpp"

namespace kinstrom {

// Exit status of every fatal stop.
inline constexpr int STOP_CODE = 16;

// Thrown after a fatal stop's lines have been printed; main returns `status`.
// What standard error says of a stop: where it stands (the file as resolved, the physical line
// and byte column from 1; 0 where not known) and why, in words for the user.
struct StopCause {
    std::string file;
    int64_t line = 0;
    int64_t column = 0;
    std::string text;
};

struct FatalStop {
    int status = STOP_CODE;
    StopCause cause;
};

// The run's date and time, read once at the start (I_DATE).
struct RunDate {
    int32_t day = 1, month = 1, year = 1970, hour = 0, minute = 0, second = 0;
};

// Reads the run's clock: SOURCE_DATE_EPOCH when it holds ASCII digits alone and names an
// instant with a four-digit year in local time, otherwise the local clock. A SOURCE_DATE_EPOCH
// set but not taken is left in `ignored` (when given) for a warning.
void dattim(RunDate& I_DATE, std::string* ignored = nullptr);

// Local date and time of `epoch` seconds; false when it cannot be represented with a
// four-digit year.
bool date_from_epoch(int64_t epoch, RunDate& date);

// A free-format line under construction. In files (wrap = true) an item that would end beyond
// column 120 starts a new line, which again begins with one blank; listing lines never wrap.
class FreeLine {
  public:
    explicit FreeLine(bool wrap = false) : wrap_(wrap) { clear(); }

    FreeLine& clear();
    FreeLine& text(std::string_view t);
    FreeLine& i32(int32_t v);
    FreeLine& i64(int64_t v);
    FreeLine& r32(float v);
    FreeLine& r64(double v);
    FreeLine& flag(bool v);
    // An original ID: i64 in the classic format; with texts, the text (or PHG code) right-
    // justified in the widened field of IdTexts::width(I64_COLUMNS, 2).
    FreeLine& id(int64_t v, const IdTexts& ids) { return ids.empty() ? i64(v) : text_id(v, ids); }

    // The line(s) without the final newline; wrapped lines are separated by '\n'.
    const std::string& str() const { return s_; }

  private:
    // An original ID with texts.
    FreeLine& text_id(int64_t v, const IdTexts& ids);
    // Inline: they run for every field of every output record.
    void add(std::string_view item) { std::memcpy(field(item.size()), item.data(), item.size()); }
    // Room for an item of `width` characters at the end, on a new line when it would pass
    // the last column.
    char* field(std::size_t width) {
        const std::size_t used = s_.size() - line_start_;
        if (wrap_ && used > 1 && used + width > FILE_COLUMNS) {
            s_ += "\n ";
            line_start_ = s_.size() - 1;
        }
        const std::size_t end = s_.size();
        s_.resize(end + width);
        return s_.data() + end;
    }

    static constexpr std::size_t FILE_COLUMNS = 120;

    std::string s_;
    std::size_t line_start_ = 0;
    bool wrap_;
};

// A formatted line: column 1 blank, then fields placed from left to right.
class Row {
  public:
    Row() : s_(" ") {}
    // Fills blanks up to (not including) 1-based column `column`.
    Row& at(int column);
    Row& text(std::string_view t);
    // Right-justified in `width` columns (longer texts are written whole).
    Row& right(std::string_view t, int width);
    // Right-justified in `width` columns, zero-filled to `min_digits` digits; '*' when it does
    // not fit.
    Row& integer(int64_t v, int width, int min_digits = 0);
    // Rounded to `decimals` decimals, right-justified in `width` columns; '*' when it does not
    // fit.
    Row& real(double v, int width, int decimals);
    const std::string& str() const { return s_; }

  private:
    std::string s_;
};

// The listing on standard output with its run-wide page line count.
class Listing {
  public:
    static constexpr int32_t PAGE_LINES = 75;

    Listing(std::FILE* out, const RunDate& date) : out_(out), date_(date) {}

    const RunDate& date() const { return date_; }
    // The descriptor the listing is written to.
    int descriptor() const { return ::fileno(out_); }
    // The date and time as the page headings print them: "5-12-2026 - 06:03:57".
    std::string date_text() const;

    // Page bookkeeping. The page line count (lines used on the current page) changes only
    // through these; the writers below never change it. Each section of the listing says how
    // many lines it takes in one of three ways: a block checked against the page end
    // (reserve), a block after a fixed threshold (reserve_after), or lines counted as they are
    // written, without a page check (count).
    int32_t lines() const { return lines_; }

    // The first page heading, without page eject: the count becomes 2.
    void first_page() { lines_ = heading(0); }

    // Page check for a block of k lines: when lines + k is above 75 a new page is started and
    // the count becomes 2 + k, otherwise k is added.
    void reserve(int32_t k);

    // Starts a new page when more than `threshold` lines are used (count becomes 2), then adds
    // `k`.
    void reserve_after(int32_t threshold, int32_t k);

    // Adds k lines written without a page check.
    void count(int32_t k = 1) { lines_ += k; }

    // Prints the page heading (with the page eject mark "1" when new_page is not 0) and its
    // empty line; returns 2. Leaves the count alone.
    int32_t heading(int32_t new_page);

    // Writers: none of these change the line count.
    void raw(std::string_view line);  // the line as given
    void free(const FreeLine& line);  // a free-format line
    void row(const Row& line) { raw(line.str()); }
    void text(std::string_view t);                         // free-format line holding one text
    void blank() { text(" "); }                            // free-format blank line
    void label_number(std::string_view label, int32_t n);  // label and 12-column integer

    // Flushes standard output; false when any write to it failed.
    bool flush();

  private:
    std::FILE* out_;
    RunDate date_;
    int32_t lines_ = 0;
    bool failed_ = false;
};

// One line of a fatal stop's message: a free-format text (" " for a blank line) or a
// free-format line with numeric items.
struct StopLine {
    StopLine(const char* text) : line(FreeLine().text(text)) {}         // NOLINT: implicit
    StopLine(const std::string& text) : line(FreeLine().text(text)) {}  // NOLINT: implicit
    StopLine(const FreeLine& free) : line(free) {}                      // NOLINT: implicit
    FreeLine line;
};

// How a fatal stop's message ends: as it is, or with a blank line and one of the two closing
// lines the stops use.
enum class StopEnd { as_is, program_terminates, the_program_terminates };

// The one fatal path: prints the stop's lines, then its ending, and throws FatalStop.
// `cause` is what standard error will say.
[[noreturn]] void fatal_stop(Listing& listing, std::initializer_list<StopLine> lines, StopEnd end,
                             StopCause cause = {});

// A table that cannot be allocated: " Error when allocating <what>", followed by the line
// "ierr = " and the status where the table reports one. The stop has no closing line.
void print_allocation_failure(Listing& listing, std::string_view what, bool status_line);
// `bytes`: the size of the request, when known (0 otherwise).
[[noreturn]] void allocation_failure(Listing& listing, std::string_view what,
                                     bool status_line = true, uint64_t bytes = 0);
// The standard-error text of an allocation failure; `what` empty for a request of no table.
std::string allocation_cause(std::string_view what, uint64_t bytes = 0);

// An input file that cannot be opened or read: names it and stops the run.
// `cause`: what standard error says; the system's reason (errno) when empty.
[[noreturn]] void read_failure(Listing& listing, std::string_view file_name,
                               std::string cause = {});

// Invalid-input abort: names the file and record and stops the run.
[[noreturn]] void ill_input(Listing& listing, std::string_view file_name, int32_t nobs,
                            StopCause cause = {});

// Removes trailing blanks.
std::string_view trim_trailing(std::string_view s);
// Removes leading blanks.
std::string_view trim_leading(std::string_view s);

}  // namespace kinstrom
