// Number-to-text routines and the fixed numeric layouts of free-format and formatted lines.
// Every real is rounded correctly from its binary value (ties to even), as printf does.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kinstrom {

using Text20 = std::array<char, 20>;

// Decimal text of n, left-adjusted and blank-filled in TEXT; returns its length.
int32_t i2t(int32_t n, Text20& TEXT);
int32_t il2t(int64_t n, Text20& TEXT);

// Decimal text of n without blanks (what callers join into sentences).
std::string int_text(int64_t n);

// Free-format numeric fields appended to `out`.
void put_i32(std::string& out, int32_t v);  // 12 columns
void put_i64(std::string& out, int64_t v);  // 22 columns
void put_r32(std::string& out, float v);    // 15 columns
void put_r64(std::string& out, double v);   // 24 columns

// Formatted-line fields: right-justified in `width`, '*' fill when the value does not fit.
std::string int_field(int64_t v, int width, int min_digits = 0);
std::string fixed_field(double v, int width, int decimals);

}  // namespace kinstrom
