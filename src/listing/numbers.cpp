#include "listing/numbers.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace kinstrom {
namespace {

void put_right(std::string& out, std::string_view text, std::size_t width) {
    if (text.size() < width) out.append(width - text.size(), ' ');
    out.append(text);
}

// Text of a non-finite real, as the listing shows it.
std::string_view non_finite(double v) {
    if (std::isnan(v)) return "NaN";
    return v < 0 ? "-Infinity" : "Infinity";
}

// Decimal exponent of v rounded to `digits` significant digits (v finite and not zero).
int rounded_exponent(double v, int digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*e", digits - 1, v);
    const char* e = std::strchr(buf, 'e');
    return std::atoi(e + 1);
}

// The free-format real layout: `digits` significant digits; fixed notation right-justified in
// `fixed_width` columns followed by `width - fixed_width` blanks when the rounded magnitude is
// in [0.1, 10^digits); otherwise scientific notation with `digits` decimals and an exponent of
// `exp_digits` digits, right-justified in `width` columns.
void put_real(std::string& out, double v, int digits, int width, int fixed_width, int exp_digits) {
    const auto w = static_cast<std::size_t>(width);
    if (!std::isfinite(v)) {
        put_right(out, non_finite(v), w);
        return;
    }
    char buf[400];
    if (v != 0) {
        const int exp10 = rounded_exponent(v, digits);
        if (exp10 >= -1 && exp10 <= digits - 1) {
            const int n = std::snprintf(buf, sizeof buf, "%#.*f", digits - 1 - exp10, v);
            put_right(out, std::string_view(buf, static_cast<std::size_t>(n)),
                      static_cast<std::size_t>(fixed_width));
            out.append(w - static_cast<std::size_t>(fixed_width), ' ');
            return;
        }
    }
    std::snprintf(buf, sizeof buf, "%.*E", digits, v);
    char* e = std::strchr(buf, 'E');
    const int exp10 = std::atoi(e + 1);
    char exp_text[16];
    std::snprintf(exp_text, sizeof exp_text, "%c%0*d", exp10 < 0 ? '-' : '+', exp_digits,
                  std::abs(exp10));
    std::string text(buf, static_cast<std::size_t>(e - buf) + 1);
    text += exp_text;
    put_right(out, text, w);
}

}  // namespace

int32_t i2t(int32_t n, Text20& TEXT) {
    return il2t(n, TEXT);
}

int32_t il2t(int64_t n, Text20& TEXT) {
    char buf[32];
    const int len = std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(n));
    TEXT.fill(' ');
    std::memcpy(TEXT.data(), buf, static_cast<std::size_t>(len));
    return len;
}

std::string int_text(int64_t n) {
    Text20 text;
    const int32_t len = il2t(n, text);
    return std::string(text.data(), static_cast<std::size_t>(len));
}

void put_i32(std::string& out, int32_t v) {
    put_right(out, int_text(v), 12);
}

void put_i64(std::string& out, int64_t v) {
    put_right(out, int_text(v), 22);
}

void put_r32(std::string& out, float v) {
    put_real(out, static_cast<double>(v), 7, 15, 11, 2);
}

void put_r64(std::string& out, double v) {
    put_real(out, v, 15, 24, 19, 3);
}

std::string int_field(int64_t v, int width, int min_digits) {
    char buf[48];
    const unsigned long long mag =
        v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    const int len = std::snprintf(buf, sizeof buf, "%s%0*llu", v < 0 ? "-" : "",
                                  min_digits > 0 ? min_digits : 1, mag);
    const auto w = static_cast<std::size_t>(width);
    if (static_cast<std::size_t>(len) > w) return std::string(w, '*');
    std::string out;
    put_right(out, std::string_view(buf, static_cast<std::size_t>(len)), w);
    return out;
}

std::string fixed_field(double v, int width, int decimals) {
    const auto w = static_cast<std::size_t>(width);
    std::string_view text;
    char buf[400];
    if (std::isfinite(v)) {
        const int len = std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
        if (len < 0 || static_cast<std::size_t>(len) >= sizeof buf) return std::string(w, '*');
        text = std::string_view(buf, static_cast<std::size_t>(len));
    } else {
        text = non_finite(v);
    }
    if (text.size() > w) return std::string(w, '*');
    std::string out;
    put_right(out, text, w);
    return out;
}

}  // namespace kinstrom
