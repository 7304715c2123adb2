// Number-to-text routines and the fixed numeric layouts of free-format and formatted lines.
// Every real is rounded correctly from its binary value (ties to even), as printf does.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kinstrom {

// Decimal text of n without blanks (what callers join into sentences).
std::string int_text(int64_t n);

// Columns of the free-format numeric fields; every value fills its field exactly.
inline constexpr std::size_t I32_COLUMNS = 12;
inline constexpr std::size_t I64_COLUMNS = 22;
inline constexpr std::size_t R32_COLUMNS = 15;
inline constexpr std::size_t R64_COLUMNS = 24;

// Free-format numeric fields written to `dst`, which has room for the field's columns; each
// writes exactly its columns and returns the end of the field.
char* write_i32(char* dst, int32_t v);
char* write_i64(char* dst, int64_t v);
char* write_r32(char* dst, float v);
char* write_r64(char* dst, double v);

// Formatted-line fields appended to `out`: right-justified in `width`, '*' fill when the value
// does not fit.
void append_int_field(std::string& out, int64_t v, int width, int min_digits = 0);
void append_fixed_field(std::string& out, double v, int width, int decimals);

// The 17-column general numeric field: 8 significant digits, fixed notation for magnitudes in
// [0.1, 1e8) (and 0), otherwise 0.dddddddd E+ee.
std::string general_field(double v);

}  // namespace kinstrom
