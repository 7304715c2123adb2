#include "listing/numbers.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <system_error>

// No printf and no streams here: the output files hold tens of millions of these fields.
// std::to_chars with an explicit precision rounds correctly from the binary value, ties to
// even, and gives the digits that printf gives for the same conversion.

namespace kinstrom {
namespace {

// Writes `text` right-justified in `width` columns at dst (text no longer than width).
char* write_right(char* dst, std::string_view text, std::size_t width) {
    const std::size_t pad = width - text.size();
    std::memset(dst, ' ', pad);
    std::memcpy(dst + pad, text.data(), text.size());
    return dst + width;
}

void put_right(std::string& out, std::string_view text, std::size_t width) {
    if (text.size() < width) out.append(width - text.size(), ' ');
    out.append(text);
}

// Text of a non-finite real, as the listing shows it.
std::string_view non_finite(double v) {
    if (std::isnan(v)) return "NaN";
    return v < 0 ? "-Infinity" : "Infinity";
}

// Decimal text of n at dst (room for 20 characters); returns its end.
char* int_chars(char* dst, int64_t n) {
    return std::to_chars(dst, dst + 20, n).ptr;
}

template <class Int>
char* write_int(char* dst, Int v, std::size_t width) {
    char buf[20];
    const char* end = int_chars(buf, v);
    return write_right(dst, std::string_view(buf, static_cast<std::size_t>(end - buf)), width);
}

// Value of the exponent digits in [p, end).
int exponent_value(const char* p, const char* end) {
    int e = 0;
    for (; p != end; ++p) e = e * 10 + (*p - '0');
    return e;
}

// The free-format real layout: `Digits` significant digits; fixed notation right-justified in
// `FixedWidth` columns followed by `Width - FixedWidth` blanks when the magnitude rounded to
// `Digits` digits is in [0.1, 10^Digits); otherwise scientific notation with `Digits` decimals
// and an exponent of at least `ExpDigits` digits, right-justified in `Width` columns.
// Either text fits its columns for every finite float (Digits 7) or double (Digits 15).
template <int Digits, std::size_t Width, std::size_t FixedWidth, int ExpDigits>
char* write_real(char* dst, double v) {
    static_assert(Digits > 1 && FixedWidth >= Digits + 3 && Width >= Digits + 5 + ExpDigits);
    if (!std::isfinite(v)) return write_right(dst, non_finite(v), Width);
    // Room for "-d.<Digits decimals>e-ddd".
    char buf[Digits + 16];
    char* const buf_end = buf + sizeof buf;
    if (v != 0) {
        // Rounded to Digits significant digits: [-]d.<Digits - 1 digits>e<sign><2 or 3 digits>.
        const char* end =
            std::to_chars(buf, buf_end, v, std::chars_format::scientific, Digits - 1).ptr;
        const char* p = buf;
        const bool negative = *p == '-';
        if (negative) ++p;
        const char* digits_after_point = p + 2;  // Digits > 1: the point follows the first digit
        const char* e = digits_after_point + (Digits - 1);
        const int magnitude = exponent_value(e + 2, end);
        const int exp10 = e[1] == '-' ? -magnitude : magnitude;
        if (exp10 >= -1 && exp10 <= Digits - 1) {
            // Fixed notation with Digits - 1 - exp10 decimals and always a point, made of the
            // digits just rounded: fixed notation rounds at the same decimal position, and
            // when rounding carried into the next decade both give 10^exp10.
            char text[Digits + 4];
            char* q = text;
            if (negative) *q++ = '-';
            if (exp10 < 0) {
                *q++ = '0';
                *q++ = '.';
                *q++ = *p;
                std::memcpy(q, digits_after_point, static_cast<std::size_t>(Digits - 1));
                q += Digits - 1;
            } else {
                *q++ = *p;
                const auto before_point = static_cast<std::size_t>(exp10);
                std::memcpy(q, digits_after_point, before_point);
                q += before_point;
                *q++ = '.';
                const std::size_t after_point = static_cast<std::size_t>(Digits - 1) - before_point;
                std::memcpy(q, digits_after_point + before_point, after_point);
                q += after_point;
            }
            write_right(dst, std::string_view(text, static_cast<std::size_t>(q - text)),
                        FixedWidth);
            std::memset(dst + FixedWidth, ' ', Width - FixedWidth);
            return dst + Width;
        }
    }
    // [-]d.<Digits digits>e<sign><2 or 3 digits>, shown with 'E' and ExpDigits digits.
    const char* end = std::to_chars(buf, buf_end, v, std::chars_format::scientific, Digits).ptr;
    char* const e = buf + (buf[0] == '-' ? 1 : 0) + 2 + Digits;
    *e = 'E';
    char text[Digits + 16];
    const auto mantissa = static_cast<std::size_t>(e + 2 - buf);  // through the exponent sign
    std::memcpy(text, buf, mantissa);
    char* q = text + mantissa;
    const auto exp_len = static_cast<int>(end - (e + 2));
    for (int k = exp_len; k < ExpDigits; ++k) *q++ = '0';
    std::memcpy(q, e + 2, static_cast<std::size_t>(exp_len));
    q += exp_len;
    return write_right(dst, std::string_view(text, static_cast<std::size_t>(q - text)), Width);
}

}  // namespace

std::string int_text(int64_t n) {
    char buf[20];
    const char* end = int_chars(buf, n);
    return std::string(buf, static_cast<std::size_t>(end - buf));
}

char* write_i32(char* dst, int32_t v) {
    return write_int(dst, v, I32_COLUMNS);
}

char* write_i64(char* dst, int64_t v) {
    return write_int(dst, v, I64_COLUMNS);
}

char* write_r32(char* dst, float v) {
    return write_real<7, R32_COLUMNS, 11, 2>(dst, static_cast<double>(v));
}

char* write_r64(char* dst, double v) {
    // A contribution file holds the same few values again and again (1, 0.5, a breed's share):
    // the text of each value laid out lately is kept, by the value's bits, in a small table of
    // each thread. An empty entry holds a NaN that is never kept.
    struct Entry {
        uint64_t bits;
        char text[R64_COLUMNS];
    };
    static constexpr uint64_t EMPTY = 0x7ff8'0000'dead'beefULL;
    static constexpr unsigned ENTRY_BITS = 10;
    thread_local std::array<Entry, std::size_t{1} << ENTRY_BITS> kept = [] {
        std::array<Entry, std::size_t{1} << ENTRY_BITS> table;
        for (Entry& e : table) e.bits = EMPTY;
        return table;
    }();
    const auto bits = std::bit_cast<uint64_t>(v);
    Entry& e = kept[(bits * 0x9e3779b97f4a7c15ULL) >> (64 - ENTRY_BITS)];
    if (e.bits != bits) {
        if (std::isnan(v)) return write_real<15, R64_COLUMNS, 19, 3>(dst, v);
        write_real<15, R64_COLUMNS, 19, 3>(e.text, v);
        e.bits = bits;
    }
    std::memcpy(dst, e.text, R64_COLUMNS);
    return dst + R64_COLUMNS;
}

void append_int_field(std::string& out, int64_t v, int width, int min_digits) {
    const unsigned long long mag =
        v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    char digits[20];
    const auto count =
        static_cast<std::size_t>(std::to_chars(digits, digits + 20, mag).ptr - digits);
    const std::size_t body =
        std::max(count, static_cast<std::size_t>(min_digits > 0 ? min_digits : 1));
    const std::size_t len = (v < 0 ? 1 : 0) + body;
    const auto w = static_cast<std::size_t>(width);
    if (len > w) {
        out.append(w, '*');
        return;
    }
    out.append(w - len, ' ');
    if (v < 0) out += '-';
    out.append(body - count, '0');
    out.append(digits, count);
}

void append_fixed_field(std::string& out, double v, int width, int decimals) {
    const auto w = static_cast<std::size_t>(width);
    std::string_view text;
    char buf[400];
    if (std::isfinite(v)) {
        // A negative precision means 6 decimals, as in printf; a text of 400 characters or
        // more never fits.
        const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed,
                                             decimals < 0 ? 6 : decimals);
        const auto len = static_cast<std::size_t>(end - buf);
        if (ec != std::errc() || len >= sizeof buf) {
            out.append(w, '*');
            return;
        }
        text = std::string_view(buf, len);
    } else {
        text = non_finite(v);
    }
    if (text.size() > w) {
        out.append(w, '*');
        return;
    }
    put_right(out, text, w);
}

std::string general_field(double v) {
    char buf[64];
    std::string text;
    if (!std::isfinite(v)) {
        // Statistics of huge breed proportions overflow single precision: the words NaN,
        // Infinity and -Infinity, right-aligned in the field.
        const std::string_view word = std::isnan(v) ? "NaN" : v < 0 ? "-Infinity" : "Infinity";
        return std::string(17 - word.size(), ' ') + std::string(word);
    }
    if (v == 0) {
        text = "0.0000000";
    } else {
        std::snprintf(buf, sizeof buf, "%.7e", v);
        const int exp10 = std::atoi(std::strchr(buf, 'e') + 1);
        if (exp10 >= -1 && exp10 <= 7) {
            std::snprintf(buf, sizeof buf, "%#.*f", 7 - exp10, v);
            text = buf;
        } else {
            // 0.dddddddd E+ee: the digits of d.ddddddd and the exponent one higher.
            const bool negative = buf[0] == '-';
            const char* d = buf + (negative ? 1 : 0);
            std::string digits;
            digits += d[0];
            digits.append(d + 2, 7);
            const int e = exp10 + 1;
            std::snprintf(buf, sizeof buf, "%s0.%sE%c%02d", negative ? "-" : "", digits.c_str(),
                          e < 0 ? '-' : '+', std::abs(e));
            std::string out;
            const std::string s = buf;
            if (s.size() < 17) out.append(17 - s.size(), ' ');
            return out + s;
        }
    }
    std::string out;
    if (text.size() < 13) out.append(13 - text.size(), ' ');
    return out + text + "    ";
}

}  // namespace kinstrom
