// The number fields: hand-checked layouts, and a reference built on snprintf (the earlier
// implementation) that every real and formatted field must match byte for byte on many values;
// the general field of the closing statistics and the threshold of the contributions written.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "listing/numbers.hpp"

namespace kinstrom {
namespace {

// ---------------------------------------------------------------------------------------------
// The reference: free-format reals and formatted fields as printf writes them.
namespace reference {

std::string right(std::string_view text, std::size_t width) {
    return std::string(width - std::min(width, text.size()), ' ') + std::string(text);
}

std::string_view non_finite(double v) {
    return std::isnan(v) ? "NaN" : v < 0 ? "-Infinity" : "Infinity";
}

// `digits` significant digits: fixed notation right-justified in `fixed_width` columns, then
// blanks up to `width`, when the value rounded to `digits` lies in [0.1, 10^digits); otherwise
// d.(digits)E, a sign and `exp_digits` digits of the exponent.
std::string real(double v, int digits, int width, int fixed_width, int exp_digits) {
    const auto w = static_cast<std::size_t>(width), fw = static_cast<std::size_t>(fixed_width);
    if (!std::isfinite(v)) return right(non_finite(v), w);
    char buf[400];
    if (v != 0) {
        std::snprintf(buf, sizeof buf, "%.*e", digits - 1, v);
        const int exp10 = std::atoi(std::strchr(buf, 'e') + 1);
        if (exp10 >= -1 && exp10 <= digits - 1) {
            std::snprintf(buf, sizeof buf, "%#.*f", digits - 1 - exp10, v);
            return right(buf, fw) + std::string(w - fw, ' ');
        }
    }
    std::snprintf(buf, sizeof buf, "%.*E", digits, v);
    char* e = std::strchr(buf, 'E');
    const int exp10 = std::atoi(e + 1);
    std::snprintf(e + 1, 16, "%c%0*d", exp10 < 0 ? '-' : '+', exp_digits, std::abs(exp10));
    return right(buf, w);
}

const auto r32 = [](float v) { return real(static_cast<double>(v), 7, 15, 11, 2); };
const auto r64 = [](double v) { return real(v, 15, 24, 19, 3); };

std::string fixed_field(double v, int width, int decimals) {
    const auto w = static_cast<std::size_t>(width);
    char buf[400];
    std::string_view text = non_finite(v);
    if (std::isfinite(v)) {
        const int len = std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
        if (len < 0 || static_cast<std::size_t>(len) >= sizeof buf) return std::string(w, '*');
        text = std::string_view(buf, static_cast<std::size_t>(len));
    }
    return text.size() > w ? std::string(w, '*') : right(text, w);
}

}  // namespace reference

// ---------------------------------------------------------------------------------------------
// The product's fields appended to a string, as the free-format and formatted lines append them.
template <class V, char* (*write)(char*, V)>
void put(std::string& out, V v) {
    char f[R64_COLUMNS];
    out.append(f, static_cast<std::size_t>(write(f, v) - f));
}
const auto put_i32 = put<int32_t, write_i32>;
const auto put_i64 = put<int64_t, write_i64>;
const auto put_r32 = put<float, write_r32>;
const auto put_r64 = put<double, write_r64>;
std::string int_field(int64_t v, int width, int min_digits) {
    std::string out;
    append_int_field(out, v, width, min_digits);
    return out;
}
std::string fixed_field(double v, int width, int decimals) {
    std::string out;
    append_fixed_field(out, v, width, decimals);
    return out;
}

// The free-format field a put_* routine appends after text already on the line.
template <class V>
std::string field(void (*put)(std::string&, V), V v) {
    std::string out = "ab";
    put(out, v);
    EXPECT_EQ(out.substr(0, 2), "ab");
    return out.substr(2);
}

// Counts the values whose fields differ from the reference and reports the first few of them.
class Comparison {
  public:
    void check(const std::string& got, const std::string& want, double v) {
        ++checked_;
        if (got != want && ++mismatches_ <= 10)
            ADD_FAILURE() << "value " << describe(v) << ": got [" << got << "], want [" << want
                          << "]";
    }
    ~Comparison() { EXPECT_EQ(mismatches_, 0U) << "of " << checked_ << " values"; }

  private:
    static std::string describe(double v) {
        char buf[80];
        std::snprintf(buf, sizeof buf, "%.17g (%a)", v, v);
        return buf;
    }
    std::size_t checked_ = 0, mismatches_ = 0;
};

// v and -v against the reference.
void check(Comparison& c, float v) {
    for (const float x : {v, -v})
        c.check(field(put_r32, x), reference::r32(x), static_cast<double>(x));
}
void check(Comparison& c, double v) {
    for (const double x : {v, -v}) c.check(field(put_r64, x), reference::r64(x), x);
}

// `count` neighbours of v on either side (and v itself), both signs.
template <class V>
void check_around(Comparison& c, V v, int count) {
    check(c, v);
    for (V lo = v, hi = v; count-- > 0;) {
        lo = std::nextafter(lo, V{0});
        hi = std::nextafter(hi, std::numeric_limits<V>::infinity());
        check(c, lo), check(c, hi);
    }
}

// Hand-checked layouts of a free-format field; each value also against the reference.
template <class V, std::size_t N>
void check_layouts(void (*put)(std::string&, V), const std::pair<V, const char*> (&rows)[N]) {
    Comparison c;
    for (const auto& [v, text] : rows) {
        EXPECT_EQ(field(put, v), text) << static_cast<double>(v);
        check(c, v);
    }
}

template <class V>
using limits = std::numeric_limits<V>;
constexpr auto F_INF = limits<float>::infinity();
constexpr auto F_NAN = limits<float>::quiet_NaN();
constexpr auto I64_MIN = limits<int64_t>::min();
constexpr auto D_MAX = limits<double>::max(), D_MIN = limits<double>::min();
constexpr auto D_INF = limits<double>::infinity();

// Fixed notation with 7 significant digits in 11 columns plus 4 blanks when the value rounded
// to 7 digits lies in [0.1, 1e7); otherwise d.ddddddd E+ee. No float lies close enough below
// 0.1 or 1e7 to round up across them (0.09999999f is 0.0999999865..., 9999999.6f is 1e7).
// Exact binary ties go to the even digit. Each row is also checked against the reference.
TEST(FreeFormatFields, Real32Layouts) {
    const std::pair<float, const char*> rows[] = {
        {1.0f, "   1.000000    "},     {1234567.0f, "   1234567.    "},
        {0.1f, "  0.1000000    "},     {9999999.0f, "   9999999.    "},
        {0.0f, "  0.0000000E+00"},     {9999999.6f, "  1.0000000E+07"},
        {-0.0f, " -0.0000000E+00"},    {1.0078125f, "   1.007812    "},
        {F_NAN, "            NaN"},    {1048576.5f, "   1048576.    "},
        {F_INF, "       Infinity"},    {1048577.5f, "   1048578.    "},
        {1.0e7f, "  1.0000000E+07"},   {0.09999999f, "  9.9999987E-02"},
        {-F_INF, "      -Infinity"},   {0.099999994f, "  9.9999994E-02"},
        {1.25e-2f, "  1.2500000E-02"}, {0.000244140625f, "  2.4414062E-04"},
        {1.0e-45f, "  1.4012985E-45"}};
    check_layouts(put_r32, rows);
}

// Fixed notation with 15 significant digits in 19 columns plus 5 blanks when the value rounded
// to 15 digits lies in [0.1, 1e15); otherwise d.(15 digits)E+eee.
TEST(FreeFormatFields, Real64Layouts) {
    const std::pair<double, const char*> rows[] = {
        {0.0999999999999999, "  9.999999999999989E-002"},
        {0.09999999999999999, "  0.100000000000000     "},  // rounds up into fixed
        {9.999999999999998, "   10.0000000000000     "},    // rounds up to the next decade
        {999999999999999.6, "  9.999999999999996E+014"},    // 1e15 at 15 digits
        {-0.0, " -0.000000000000000E+000"},
        {5e-324, "  4.940656458412465E-324"},
        {123456789012345.5, "   123456789012346.     "},  // exact binary ties: to even
        {123456789012344.5, "   123456789012344.     "}};
    check_layouts(put_r64, rows);
}

// Every bit pattern is as likely: all exponents, subnormals, NaNs and infinities.
TEST(FieldsAgainstPrintf, RandomBits) {
    Comparison c;
    std::mt19937_64 gen(20260102);
    for (int k = 0; k < 200000; ++k) {
        check(c, std::bit_cast<float>(static_cast<uint32_t>(gen())));
        check(c, std::bit_cast<double>(gen()));
    }
}

// Around every power of ten (the carry into the next decade), at the switches between fixed and
// scientific notation and at the halfway points of the last shown digit below them.
TEST(FieldsAgainstPrintf, NearPowersOfTen) {
    Comparison c;
    for (int e = -46; e <= 38; ++e)
        for (const double p : {1.0, 1 - 0.5e-7, 1 - 0.5e-8})
            check_around(c, static_cast<float>(std::pow(10.0, e) * p), 40);
    for (const float v : {0.1f, 1.0e7f, 9999999.5f, 9999999.0f, 0.099999996f, 0.09999999f,
                          0.0999999955f, 0.0999999995f, 99999.995f, 0.9999999f, 0.99999995f})
        check_around(c, v, 300);
    for (int e = -324; e <= 308; ++e)
        for (const double p : {1.0, 1 - 0.5e-15, 1 - 0.5e-16})
            check_around(c, std::pow(10.0, e) * p, 20);
    for (const double v : {0.1, 1e15, 999999999999999.5, 0.09999999999999995, 0.099999999999999995,
                           99999999999999.95, 0.999999999999999, 0.9999999999999995})
        check_around(c, v, 300);
}

// Exact binary ties of the last shown digit go to the even digit, as in printf.
TEST(FieldsAgainstPrintf, ExactTies) {
    Comparison c;
    std::mt19937_64 gen(20260104);
    for (int k = 0; k < 50000; ++k) {
        // n + 0.5 with 7 (15) digits before the point, below 2^23 (2^53); d / 2^m: ties of the
        // 7th or 8th (15th or 16th) significant digit among dyadic fractions.
        check(c, static_cast<float>(1000000 + gen() % 7388608) + 0.5f);
        check(c, std::ldexp(static_cast<float>(gen() % (uint64_t{1} << 24)),
                            -static_cast<int>(gen() % 30)));
        check(c, static_cast<double>(100000000000000 + gen() % 900000000000000) + 0.5);
        check(c, std::ldexp(static_cast<double>(gen() % (uint64_t{1} << 53)),
                            -static_cast<int>(gen() % 70)));
    }
}

// Integers right-justified in 12 (32-bit) or 22 (64-bit) columns; int_text has no blanks.
TEST(FreeFormatFields, Integers) {
    for (const std::string text :
         {"0", "7", "-1", "1234", "2147483647", "-2147483648", "10000000000", "9223372036854775807",
          "-9223372036854775807", "-9223372036854775808"}) {
        const int64_t v = std::stoll(text);
        EXPECT_EQ(int_text(v), text);
        EXPECT_EQ(field(put_i64, v), std::string(22 - text.size(), ' ') + text);
        if (v != static_cast<int32_t>(v)) continue;
        EXPECT_EQ(field(put_i32, static_cast<int32_t>(v)),
                  std::string(12 - text.size(), ' ') + text);
    }
}

TEST(FormattedFields, IntegerField) {
    const struct {
        int64_t v;
        int width, min_digits;
        const char* field;
    } rows[] = {// clang-format off
        {3, 2, 2, "03"}, {42, 5, 0, "   42"}, {0, 3, 0, "  0"}, {2026, 4, 4, "2026"},
        {-42, 2, 0, "**"}, {12345, 4, 0, "****"}, {7, 4, 3, " 007"}, {12345, 5, 6, "*****"},
        {-7, 3, 3, "***"}, {-42, 3, 0, "-42"}, {-7, 4, 3, "-007"},
        {I64_MIN, 19, 0, "*******************"}, {I64_MIN, 20, 0, "-9223372036854775808"}};
    // clang-format on
    for (const auto& r : rows)
        EXPECT_EQ(int_field(r.v, r.width, r.min_digits), r.field)
            << r.v << " in " << r.width << "." << r.min_digits;
}

TEST(FormattedFields, FixedField) {
    const struct {
        double v;
        int width, decimals;
        const char* field;
    } rows[] = {
        {3.14159, 8, 3, "   3.142"}, {-0.5, 6, 2, " -0.50"},   {0.125, 6, 2, "  0.12"},
        {0.375, 6, 2, "  0.38"},     {99.996, 6, 2, "100.00"}, {99.996, 5, 2, "*****"},
        {123456.7, 6, 1, "******"},  {-12.25, 6, 1, " -12.2"}, {1e300, 10, 2, "**********"}};
    for (const auto& r : rows)
        EXPECT_EQ(fixed_field(r.v, r.width, r.decimals), r.field)
            << r.v << " in " << r.width << "." << r.decimals;
    Comparison c;
    std::vector<double> values = {0.0,
                                  -0.0,
                                  0.5,
                                  2.5,
                                  3.5,
                                  1e300,
                                  -1e300,
                                  D_MAX,
                                  D_MIN,
                                  1e-5,
                                  0.005,
                                  0.015,
                                  0.025,
                                  1.0 / 3,
                                  D_INF,
                                  -D_INF,
                                  limits<double>::quiet_NaN(),
                                  limits<double>::denorm_min()};
    std::mt19937_64 gen(20260107);
    std::uniform_real_distribution<double> unit(0.0, 1.0), decades(-8.0, 12.0);
    for (int k = 0; k < 4000; ++k) {
        values.push_back(std::pow(10.0, decades(gen)) * (unit(gen) - 0.3));
        values.push_back(std::bit_cast<double>(gen()));
        values.push_back(static_cast<double>(gen() % 100000) / 1000.0 + 0.0005);  // near ties
    }
    const auto compare = [&c](double v, int width, int decimals) {
        c.check(fixed_field(v, width, decimals), reference::fixed_field(v, width, decimals), v);
    };
    for (const double v : values)
        for (const int decimals : {-1, 0, 1, 2, 3, 4, 6, 10, 17})
            for (const int width : {1, 4, 6, 8, 10, 13, 20, 40}) compare(v, width, decimals);
    // Texts of about 400 characters: the largest doubles with many decimals.
    for (const double v : {D_MAX, -D_MAX, 1e308, -1e308})
        for (int decimals = 85; decimals <= 95; ++decimals)
            for (const int width : {20, 398, 399, 400, 401, 420}) compare(v, width, decimals);
}

// Statistics of huge breed proportions overflow single precision and are written as words
// (found by fuzzing whole runs: the field used to look for the exponent of "inf").
TEST(GeneralField, Layouts) {
    const struct {
        double v;
        const char* field;
    } rows[] = {
        {0.5, "   0.50000000    "},          {0.0123456789, "   0.12345679E-01"},
        {0.0, "    0.0000000    "},          {1.0, "    1.0000000    "},
        {0.1, "   0.10000000    "},          {0.0999999999, "   0.10000000    "},  // rounds up
        {0.0999999, "   0.99999900E-01"},    {12345678.0, "    12345678.    "},
        {99999999.4, "    99999999.    "},   {99999999.6, "   0.10000000E+09"},
        {-0.25, "  -0.25000000    "},        {1.0e-30, "   0.10000000E-29"},
        {0.83333331, "   0.83333331    "},   {-3.0e-5, "  -0.30000000E-04"},
        {D_INF, "         Infinity"},        {-D_INF, "        -Infinity"},
        {std::nan(""), "              NaN"},
    };
    for (const auto& r : rows) EXPECT_EQ(general_field(r.v), r.field) << r.v;
}

}  // namespace
}  // namespace kinstrom
