#include "listing/listing.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "listing/numbers.hpp"

namespace kinstrom {

namespace {

// SOURCE_DATE_EPOCH as a number of seconds when it is made of ASCII digits alone.
bool source_date_epoch(std::string_view text, int64_t& epoch) {
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), epoch);
    return ec == std::errc() && end == text.data() + text.size();
}

bool fill_date(const std::tm& tm, RunDate& date) {
    if (tm.tm_year + 1900 < 1000 || tm.tm_year + 1900 > 9999) return false;
    date.day = tm.tm_mday;
    date.month = tm.tm_mon + 1;
    date.year = tm.tm_year + 1900;
    date.hour = tm.tm_hour;
    date.minute = tm.tm_min;
    date.second = tm.tm_sec;
    return true;
}

}  // namespace

bool date_from_epoch(int64_t epoch, RunDate& date) {
    const auto t = static_cast<std::time_t>(epoch);
    if (static_cast<int64_t>(t) != epoch) return false;
    std::tm tm{};
    if (localtime_r(&t, &tm) == nullptr) return false;
    return fill_date(tm, date);
}

void dattim(RunDate& I_DATE, std::string* ignored) {
    // Set to nothing, it counts as not set.
    if (const char* value = std::getenv("SOURCE_DATE_EPOCH"); value != nullptr && *value != '\0') {
        int64_t epoch = 0;
        if (source_date_epoch(value, epoch) && date_from_epoch(epoch, I_DATE)) return;
        if (ignored != nullptr) *ignored = value;
    }
    date_from_epoch(static_cast<int64_t>(std::time(nullptr)), I_DATE);
}

std::string_view trim_trailing(std::string_view s) {
    const auto last = s.find_last_not_of(' ');
    return last == std::string_view::npos ? std::string_view() : s.substr(0, last + 1);
}

std::string_view trim_leading(std::string_view s) {
    const auto first = s.find_first_not_of(' ');
    return first == std::string_view::npos ? std::string_view() : s.substr(first);
}

// ---------------------------------------------------------------------------------------------
// Free-format lines

FreeLine& FreeLine::clear() {
    s_.assign(1, ' ');
    line_start_ = 0;
    return *this;
}

FreeLine& FreeLine::text(std::string_view t) {
    add(t);
    return *this;
}

// Numeric items are written in place: each layout fills exactly its columns.

FreeLine& FreeLine::i32(int32_t v) {
    write_i32(field(I32_COLUMNS), v);
    return *this;
}

FreeLine& FreeLine::i64(int64_t v) {
    write_i64(field(I64_COLUMNS), v);
    return *this;
}

FreeLine& FreeLine::r32(float v) {
    write_r32(field(R32_COLUMNS), v);
    return *this;
}

FreeLine& FreeLine::r64(double v) {
    write_r64(field(R64_COLUMNS), v);
    return *this;
}

FreeLine& FreeLine::text_id(int64_t v, const IdTexts& ids) {
    // What IdTexts::show gives, without a string of its own: this runs for every ID field of
    // every output record.
    char digits[20];
    std::string_view t;
    if (v >= 1 && v <= ids.size()) {
        t = ids.text(v);
    } else {
        const char* end = std::to_chars(digits, digits + sizeof digits, v).ptr;
        t = std::string_view(digits, static_cast<std::size_t>(end - digits));
    }
    const auto width = static_cast<std::size_t>(ids.width(static_cast<int>(I64_COLUMNS), 2));
    char* f = field(width);
    std::memset(f, ' ', width - t.size());
    std::memcpy(f + width - t.size(), t.data(), t.size());
    return *this;
}

FreeLine& FreeLine::flag(bool v) {
    add(v ? " T" : " F");
    return *this;
}

// ---------------------------------------------------------------------------------------------
// Formatted lines

Row& Row::at(int column) {
    const auto want = static_cast<std::size_t>(column > 1 ? column - 1 : 0);
    if (s_.size() < want) s_.append(want - s_.size(), ' ');
    return *this;
}

Row& Row::text(std::string_view t) {
    s_.append(t);
    return *this;
}

Row& Row::right(std::string_view t, int width) {
    const auto w = static_cast<std::size_t>(width > 0 ? width : 0);
    if (t.size() < w) s_.append(w - t.size(), ' ');
    s_.append(t);
    return *this;
}

Row& Row::integer(int64_t v, int width, int min_digits) {
    append_int_field(s_, v, width, min_digits);
    return *this;
}

Row& Row::real(double v, int width, int decimals) {
    append_fixed_field(s_, v, width, decimals);
    return *this;
}

// ---------------------------------------------------------------------------------------------
// The listing

std::string Listing::date_text() const {
    Row date;
    date.integer(date_.day, 4)
        .text("-")
        .integer(date_.month, 2, 2)
        .text("-")
        .integer(date_.year, 4, 4)
        .text(" - ")
        .integer(date_.hour, 2, 2)
        .text(":")
        .integer(date_.minute, 2, 2)
        .text(":")
        .integer(date_.second, 2, 2);
    std::string text = date.str().substr(1);
    text.erase(0, text.find_first_not_of(' '));
    return text;
}

int32_t Listing::heading(int32_t new_page) {
    std::string line = new_page != 0 ? "1" : " ";
    line += "Kinstrom ver. " KINSTROM_VERSION;
    // The date right-aligned in 23 columns after column 77.
    const std::string date = date_text();
    line.append(77 - line.size() + 23 - std::min<std::size_t>(date.size(), 23), ' ');
    line.append(date);
    raw(line);
    raw("");
    return 2;
}

void Listing::reserve(int32_t k) {
    if (lines_ + k > PAGE_LINES) {
        lines_ = heading(1) + k;
    } else {
        lines_ += k;
    }
}

void Listing::reserve_after(int32_t threshold, int32_t k) {
    if (lines_ > threshold) lines_ = heading(1);
    lines_ += k;
}

void Listing::raw(std::string_view line) {
    if (std::fwrite(line.data(), 1, line.size(), out_) != line.size() ||
        std::fputc('\n', out_) == EOF)
        failed_ = true;
}

void Listing::free(const FreeLine& line) {
    raw(line.str());
}

void Listing::text(std::string_view t) {
    free(FreeLine().text(t));
}

void Listing::label_number(std::string_view label, int32_t n) {
    free(FreeLine().text(label).i32(n));
}

bool Listing::flush() {
    if (std::fflush(out_) != 0 || std::ferror(out_) != 0) failed_ = true;
    return !failed_;
}

void fatal_stop(Listing& listing, std::initializer_list<StopLine> lines, StopEnd end,
                StopCause cause) {
    for (const StopLine& line : lines) listing.free(line.line);
    if (end != StopEnd::as_is) {
        listing.blank();
        listing.text(end == StopEnd::program_terminates ? "Program terminates"
                                                        : "The program terminates");
    }
    throw FatalStop{STOP_CODE, std::move(cause)};
}

void print_allocation_failure(Listing& listing, std::string_view what, bool status_line) {
    listing.text(" Error when allocating " + std::string(what));
    // The status of a failed allocation request; there is only one kind of failure.
    if (status_line) listing.free(FreeLine().text("ierr = ").i32(1));
}

void allocation_failure(Listing& listing, std::string_view what, bool status_line, uint64_t bytes) {
    print_allocation_failure(listing, what, status_line);
    fatal_stop(listing, {}, StopEnd::as_is, {{}, 0, 0, allocation_cause(what, bytes)});
}

std::string allocation_cause(std::string_view what, uint64_t bytes) {
    const std::string size =
        bytes == 0 ? std::string() : " (" + std::to_string((bytes + 1048575) / 1048576) + " MiB)";
    return (what.empty() ? "not enough memory" : "not enough memory for " + std::string(what)) +
           size +
           "; run on a machine with more memory, or check the directives that size the tables "
           "(MAX_A, MAX_PHG, N_BPOP)";
}

void read_failure(Listing& listing, std::string_view file_name, std::string cause) {
    if (cause.empty()) cause = std::string("cannot read the file: ") + std::strerror(errno);
    fatal_stop(listing, {" ", "Error when reading file " + std::string(file_name)},
               StopEnd::program_terminates, {std::string(file_name), 0, 0, std::move(cause)});
}

void ill_input(Listing& listing, std::string_view file_name, int32_t nobs, StopCause cause) {
    if (cause.text.empty()) cause.text = "record " + std::to_string(nobs) + " cannot be read";
    if (cause.file.empty()) cause.file = std::string(trim_trailing(file_name));
    fatal_stop(listing,
               {" ", "ERROR - invalid input on file: " + std::string(trim_trailing(file_name)),
                FreeLine().text("        in obs no. ").i32(nobs)},
               StopEnd::the_program_terminates, std::move(cause));
}

}  // namespace kinstrom
