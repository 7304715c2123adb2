// The values of one line of a table, as spreadsheets and statistics programs write them.
//
// Values are separated by one kind of separator for the whole file: blanks and tabs (any run of
// them), commas, or semicolons. A value in double quotes is read without them, "" inside
// standing for one "; blanks around a value are not part of it. A line end (LF, or CR LF) ends
// the line and every value on it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kinstrom {

// The lines of a text, each without its line end (and a CR before it); `number` from 1.
class Lines {
  public:
    // A byte-order mark before the first line (as some spreadsheets write) is passed over.
    explicit Lines(std::string_view text)
        : text_(text), at_(text.substr(0, 3) == "\xef\xbb\xbf" ? 3 : 0) {}
    bool next() {
        if (at_ > text_.size() || (at_ == text_.size() && number_ > 0)) return false;
        if (at_ == text_.size() && text_.empty()) return false;
        const std::size_t end = std::min(text_.find('\n', at_), text_.size());
        line = text_.substr(at_, end - at_);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        offset = at_;
        at_ = end + 1;
        ++number_;
        return true;
    }
    // Whether the line holds nothing but blanks.
    bool blank() const { return line.find_first_not_of(" \t\r") == std::string_view::npos; }
    int64_t number() const { return number_; }

    std::string_view line;
    std::size_t offset = 0;

  private:
    std::string_view text_;
    std::size_t at_ = 0;
    int64_t number_ = 0;
};

enum class Separator : char { blanks = ' ', comma = ',', semicolon = ';' };

// The separator in words, for messages: "blanks", "commas", "semicolons".
const char* separator_name(Separator s);

// The separator of a file found from its first line that holds anything: semicolons when it has
// one outside quotes, else commas when it has one, else blanks.
Separator find_separator(std::string_view line);

struct Field {
    std::string_view text;   // without quotes; "" inside read as "
    std::size_t column = 0;  // byte offset of the value in its line
    bool quoted = false;
};

class LineFields {
  public:
    explicit LineFields(Separator s) : separator_(s) {}

    // Splits `line` (without its line end) into fields, at most `max` of them (the rest of the
    // line is not looked at). False for a quote that is not closed on its line or text after a
    // closing quote: `problem` says which and `problem_column` where.
    bool split(std::string_view line, std::size_t max = SIZE_MAX);

    const std::vector<Field>& fields() const { return fields_; }
    std::string problem;
    std::size_t problem_column = 0;

  private:
    bool quoted(std::string_view line, std::size_t& p, Field& f);

    Separator separator_;
    std::vector<Field> fields_;
    std::string unescaped_;  // the values that held "", reserved per line so views stay valid
};

// A value that stands for nothing: empty, or NA, . or * without quotes.
bool is_missing(const Field& f);

// An integer written with digits alone, after an optional sign; false also when it does not fit.
bool integer_value(std::string_view t, int64_t& v);

// A number of any form (integer, decimal, exponent) starting with a digit, a sign or a point.
bool is_number(std::string_view t);

// A real for the breed-proportion file; with `decimal_comma` a comma may stand for the point.
bool real_value(std::string_view t, bool decimal_comma, double& v);

// A sort value: an integer, or an ISO date yyyy-mm-dd read as yyyymmdd; false otherwise.
bool sort_value(std::string_view t, int32_t& v);

// Whether two names are the same but for the case of ASCII letters.
bool same_name(std::string_view a, std::string_view b);

}  // namespace kinstrom
