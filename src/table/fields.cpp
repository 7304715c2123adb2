#include "table/fields.hpp"

#include <algorithm>
#include <charconv>
#include <limits>

namespace kinstrom {

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

const char* separator_name(Separator s) {
    switch (s) {
        case Separator::comma:
            return "commas";
        case Separator::semicolon:
            return "semicolons";
        case Separator::blanks:
            break;
    }
    return "blanks";
}

Separator find_separator(std::string_view line) {
    bool in_quotes = false, comma = false;
    for (const char c : line) {
        if (c == '"') {
            in_quotes = !in_quotes;
        } else if (!in_quotes && c == ';') {
            return Separator::semicolon;
        } else if (!in_quotes && c == ',') {
            comma = true;
        }
    }
    return comma ? Separator::comma : Separator::blanks;
}

bool LineFields::quoted(std::string_view line, std::size_t& p, Field& f) {
    const std::size_t open = p++;
    f.quoted = true;
    std::size_t start = p;
    bool escaped = false;
    for (;; ++p) {
        p = std::min(line.find('"', p), line.size());
        if (p >= line.size()) {
            problem = "a quote is not closed on its line";
            problem_column = open;
            return false;
        }
        if (p + 1 < line.size() && line[p + 1] == '"') {
            escaped = true;
            ++p;
            continue;
        }
        break;
    }
    f.text = line.substr(start, p - start);
    ++p;  // the closing quote
    const std::size_t after = p;
    if (escaped) {
        const std::size_t from = unescaped_.size();
        for (std::size_t k = start; k < p - 1; ++k) {
            unescaped_ += line[k];
            if (line[k] == '"') ++k;
        }
        f.text = std::string_view(unescaped_).substr(from);
    }
    while (p < line.size() && is_blank(line[p])) ++p;
    const bool ends = p >= line.size() ||
                      (separator_ != Separator::blanks && line[p] == static_cast<char>(separator_));
    if (!ends && separator_ == Separator::blanks && p > after) return true;  // a blank, a value
    if (!ends) {
        problem = "text after the closing quote of a value";
        problem_column = p;
        return false;
    }
    return true;
}

bool LineFields::split(std::string_view line, std::size_t max) {
    fields_.clear();
    unescaped_.clear();
    unescaped_.reserve(line.size());
    problem.clear();
    std::size_t p = 0;
    const auto skip_blanks = [&] {
        while (p < line.size() && is_blank(line[p])) ++p;
    };
    if (separator_ == Separator::blanks) {
        for (skip_blanks(); p < line.size() && fields_.size() < max; skip_blanks()) {
            Field f;
            f.column = p;
            if (line[p] == '"') {
                if (!quoted(line, p, f)) return false;
            } else {
                const std::size_t start = p;
                while (p < line.size() && !is_blank(line[p])) ++p;
                f.text = line.substr(start, p - start);
            }
            fields_.push_back(f);
        }
        return true;
    }
    const char sep = static_cast<char>(separator_);
    while (fields_.size() < max) {
        skip_blanks();
        Field f;
        f.column = p;
        if (p < line.size() && line[p] == '"') {
            if (!quoted(line, p, f)) return false;
        } else {
            const std::size_t start = p;
            p = std::min(line.find(sep, p), line.size());
            std::size_t end = p;
            while (end > start && is_blank(line[end - 1])) --end;
            f.text = line.substr(start, end - start);
        }
        fields_.push_back(f);
        if (p >= line.size()) break;
        ++p;  // the separator
    }
    return true;
}

bool is_missing(const Field& f) {
    if (f.text.empty()) return true;
    return !f.quoted && (f.text == "NA" || f.text == "." || f.text == "*");
}

bool integer_value(std::string_view t, int64_t& v) {
    std::size_t p = 0;
    bool negative = false;
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
        negative = t[0] == '-';
        p = 1;
    }
    if (p >= t.size()) return false;
    for (std::size_t k = p; k < t.size(); ++k)
        if (!is_digit(t[k])) return false;
    uint64_t magnitude = 0;
    const auto [end, ec] = std::from_chars(t.data() + p, t.data() + t.size(), magnitude);
    if (ec != std::errc() || end != t.data() + t.size()) return false;
    constexpr auto MAX = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (magnitude > MAX + (negative ? 1 : 0)) return false;
    v = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

bool is_number(std::string_view t) {
    if (t.empty() || !(is_digit(t[0]) || t[0] == '+' || t[0] == '-' || t[0] == '.')) return false;
    const std::size_t p = t[0] == '+' ? 1 : 0;
    double v = 0;
    const auto [end, ec] = std::from_chars(t.data() + p, t.data() + t.size(), v);
    return ec == std::errc() && end == t.data() + t.size();
}

bool real_value(std::string_view t, bool decimal_comma, double& v) {
    std::string copy;
    if (decimal_comma && t.find(',') != std::string_view::npos) {
        copy.assign(t);
        for (char& c : copy)
            if (c == ',') c = '.';
        t = copy;
    }
    if (!is_number(t)) return false;
    const std::size_t p = t[0] == '+' ? 1 : 0;
    const auto [end, ec] = std::from_chars(t.data() + p, t.data() + t.size(), v);
    return ec == std::errc() && end == t.data() + t.size();
}

bool sort_value(std::string_view t, int32_t& v) {
    if (t.size() == 10 && t[4] == '-' && t[7] == '-') {
        int32_t date = 0;
        for (std::size_t k = 0; k < t.size(); ++k) {
            if (k == 4 || k == 7) continue;
            if (!is_digit(t[k])) return false;
            date = date * 10 + (t[k] - '0');
        }
        v = date;
        return true;
    }
    int64_t wide = 0;
    if (!integer_value(t, wide) || wide < std::numeric_limits<int32_t>::min() ||
        wide > std::numeric_limits<int32_t>::max())
        return false;
    v = static_cast<int32_t>(wide);
    return true;
}

bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    for (std::size_t k = 0; k < a.size(); ++k)
        if (lower(a[k]) != lower(b[k])) return false;
    return true;
}

}  // namespace kinstrom
