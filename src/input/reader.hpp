// Reading the records of the input files.
//
// A file is mapped (or read whole) and scanned in place. A record is a fixed list of numbers:
// numbers are separated by blanks (tabs and carriage returns count as blanks) or by one comma
// with blanks around it allowed; a record that needs more numbers than its line holds goes on
// to the following lines, empty lines are passed over, and whatever follows the last number of
// a record on its line is ignored. A null value (two commas, or a comma at the start of a
// record), a number that does not fit its type, anything else where a number belongs, and a
// record cut short by the end of the file cannot be read.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "input/compressed.hpp"
#include "listing/listing.hpp"

namespace kinstrom {

// The whole text of an input file.
class InputText {
  public:
    InputText() = default;
    InputText(const InputText&) = delete;
    InputText& operator=(const InputText&) = delete;
    ~InputText();

    // Maps the open file, or reads it whole when it cannot be mapped, and decompresses it when it
    // is compressed with gzip or zstd, into at most `bound` bytes; a read error, compressed data
    // that is damaged, cut short, needs a dictionary or would pass the bound, or a text that is
    // compressed once more, stops the run with "Error when reading file <name>".
    void load(Listing& listing, std::FILE* file, const std::string& name, const InputBound& bound);

    // Takes `text` as the file's text.
    void adopt(std::string text) {
        copy_ = std::move(text);
        text_ = copy_;
    }

    std::string_view text() const { return text_; }

  private:
    void unpack_if_compressed(Listing& listing, const std::string& name, const InputBound& bound);

    void* map_ = nullptr;
    std::size_t map_size_ = 0;
    std::string copy_;
    Unpacked unpacked_;
    std::string_view text_;
};

class RecordReader {
  public:
    explicit RecordReader(std::string_view text)
        : begin_(text.data()), end_(text.data() + text.size()), p_(begin_) {}

    // Moves to the start of the next record, passing over empty lines; false at end of file.
    bool start();

    // The next value of the record; false when it cannot be read.
    bool int64(int64_t& v);
    bool int32(int32_t& v);
    bool real(double& v);

    // Whether the value just read stands on a later line than the one before it.
    bool on_new_line() const { return new_line_; }

    // Passes over the rest of the line that holds the record's last value.
    void finish();

    // Where the reader stands, for messages: the number of the value last asked for in the
    // record (from 1), the byte offset where it starts (or where reading it failed), the offset
    // of the record, and the number of the first value that stood on a later line than the
    // record's start (0 when none did).
    int32_t value_number() const { return value_; }
    std::size_t value_offset() const { return static_cast<std::size_t>(value_start_ - begin_); }
    std::size_t record_offset() const { return static_cast<std::size_t>(record_start_ - begin_); }
    int32_t wrapped_value() const { return wrapped_; }
    // Whether the value just read (a number other than 0) was written with leading zeros.
    bool leading_zero() const {
        const char* q = value_start_ + (*value_start_ == '-' || *value_start_ == '+' ? 1 : 0);
        return *q == '0';
    }
    // Whether anything but blanks follows on the line of the value just read.
    bool more_on_line() const {
        for (const char* q = p_; q < end_ && *q != '\n'; ++q)
            if (!is_blank_char(*q)) return true;
        return false;
    }
    std::size_t wrapped_offset() const { return static_cast<std::size_t>(wrapped_start_ - begin_); }

  private:
    static bool is_blank_char(char c);
    static constexpr uint64_t POWERS_OF_TEN[9] = {1,      10,      100,      1000,     10000,
                                                  100000, 1000000, 10000000, 100000000};
    static int leading_digits(const char* p);
    static uint64_t digits_value(const char* p, int n);
    bool next_value();
    bool ends_value(const char* q) const;

    const char* begin_;
    const char* end_;
    const char* p_;
    const char* record_start_ = begin_;
    const char* value_start_ = begin_;
    const char* wrapped_start_ = begin_;
    int32_t value_ = 0;
    int32_t wrapped_ = 0;
    bool first_ = false;
    bool new_line_ = false;
};

// The input files, for messages.
enum class InputKind { pedigree, trace, breeds };

// Physical line and byte column (both from 1) of byte `offset` of `text`.
struct LineColumn {
    int64_t line, column;
};
LineColumn line_column(std::string_view text, std::size_t offset);

// The cause of the stop at record `nobs` of a file of `kind` (its whole `text`), where `r`
// stopped: at a value it could not read, or (`refused` not empty) just after a value it read but
// the file does not allow, `refused` saying why. `n_bpop`: values after a breed-proportion
// record's code.
StopCause invalid_input_cause(std::string_view text, const RecordReader& r, InputKind kind,
                              int32_t nobs, int32_t n_bpop, const std::string& file,
                              const std::string& refused = {}, bool first_value = false);

// The scanning functions are inline: they run for every number of files with millions of lines.

inline bool RecordReader::is_blank_char(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

inline bool RecordReader::start() {
    for (;;) {
        while (p_ < end_ && is_blank_char(*p_)) ++p_;
        if (p_ == end_) return false;
        if (*p_ != '\n') break;
        ++p_;
    }
    first_ = true;
    record_start_ = value_start_ = p_;
    value_ = wrapped_ = 0;
    return true;
}

inline void RecordReader::finish() {
    if (p_ < end_ && *p_ == '\n') {  // the usual case: the line ends after the last value
        ++p_;
        return;
    }
    const void* nl = std::memchr(p_, '\n', static_cast<std::size_t>(end_ - p_));
    p_ = nl == nullptr ? end_ : static_cast<const char*>(nl) + 1;
}

// Moves to the first character of the next value.
inline bool RecordReader::next_value() {
    new_line_ = false;
    ++value_;
    if (first_) {
        first_ = false;
        return *p_ != ',';
    }
    bool comma = false;
    for (;;) {
        while (p_ < end_ && is_blank_char(*p_)) ++p_;
        value_start_ = p_;
        if (p_ == end_) return false;
        if (*p_ == '\n') {
            new_line_ = true;
            if (wrapped_ == 0) wrapped_ = value_;
            ++p_;
        } else if (*p_ == ',') {
            if (comma) return false;
            comma = true;
            ++p_;
        } else {
            if (wrapped_ == value_) wrapped_start_ = p_;
            return true;
        }
    }
}

inline bool RecordReader::ends_value(const char* q) const {
    return q == end_ || is_blank_char(*q) || *q == ',' || *q == '\n';
}

// The number of decimal digits that open the eight characters at p (0 to 8).
inline int RecordReader::leading_digits(const char* p) {
    uint64_t chunk = 0;
    std::memcpy(&chunk, p, 8);
    // A byte is a digit when it differs from '0' only in its 4 low bits by less than 10: adding
    // 0x76 then sets its top bit exactly for the other bytes (carries only come from, and go
    // into, bytes after the first that is not a digit).
    const uint64_t x = chunk ^ 0x3030303030303030ULL;
    const uint64_t other = ((x + 0x7676767676767676ULL) | x) & 0x8080808080808080ULL;
    return other == 0 ? 8 : std::countr_zero(other) / 8;
}

// The value of the n (1 to 8) digits at p.
inline uint64_t RecordReader::digits_value(const char* p, int n) {
    uint64_t chunk = 0;
    std::memcpy(&chunk, p, 8);
    // Digit values in the n lowest bytes, moved to the top so that zeros lead; then pairs,
    // quadruples and the eight digits combined by multiplication.
    uint64_t d = (chunk - 0x3030303030303030ULL) << (8 * (8 - n));
    d = d * 10 + (d >> 8);
    d = ((d & 0x000000FF000000FFULL) * (100 + (1000000ULL << 32)) +
         ((d >> 16) & 0x000000FF000000FFULL) * (1 + (10000ULL << 32))) >>
        32;
    return d;
}

inline bool RecordReader::int64(int64_t& v) {
    if (!next_value()) return false;
    const char* s = p_;
    if (*s == '+') {
        ++s;
        if (s == end_ || *s == '-') return false;
    }
    // The digits, with the bounds of std::from_chars: up to 18 digits cannot overflow, any
    // further digit is checked.
    const bool negative = *s == '-';
    if (negative) ++s;
    const char* const digits = s;
    uint64_t magnitude = 0;
    // Eight characters at a time while eight are left, up to 16 digits.
    while (end_ - s >= 8 && s - digits < 16) {
        const int n = leading_digits(s);
        if (n == 0) break;
        magnitude = magnitude * POWERS_OF_TEN[n] + digits_value(s, n);
        s += n;
        if (n < 8) break;
    }
    unsigned digit = 0;
    while (s < end_ && s - digits < 18 && (digit = static_cast<unsigned char>(*s - '0')) < 10) {
        magnitude = 10 * magnitude + digit;
        ++s;
    }
    while (s < end_ && (digit = static_cast<unsigned char>(*s - '0')) < 10) {
        if (__builtin_mul_overflow(magnitude, uint64_t{10}, &magnitude)) return false;
        if (__builtin_add_overflow(magnitude, digit, &magnitude)) return false;
        ++s;
    }
    const uint64_t limit = (uint64_t{1} << 63) - (negative ? 0 : 1);
    if (s == digits || magnitude > limit || !ends_value(s)) return false;
    p_ = s;
    v = static_cast<int64_t>(negative ? 0 - magnitude : magnitude);  // -2^63 included
    return true;
}

inline bool RecordReader::int32(int32_t& v) {
    int64_t value = 0;
    if (!int64(value) || value < INT32_MIN || value > INT32_MAX) return false;
    v = static_cast<int32_t>(value);
    return true;
}

}  // namespace kinstrom
