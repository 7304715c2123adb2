// Number-to-text routines and the numeric fields of free-format and formatted lines.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "listing/numbers.hpp"

namespace kinstrom {
namespace {

constexpr auto I32_MIN = std::numeric_limits<int32_t>::min();
constexpr auto I32_MAX = std::numeric_limits<int32_t>::max();
constexpr auto I64_MIN = std::numeric_limits<int64_t>::min();
constexpr auto I64_MAX = std::numeric_limits<int64_t>::max();

// The field a put_* routine appends after what the line already holds.
template <class Put, class V>
std::string field(Put put, V v) {
    std::string out = "<";
    put(out, v);
    EXPECT_EQ(out[0], '<');
    return out.substr(1);
}

TEST(NumberText, LeftAdjustedWithLength) {
    const struct {
        int64_t n;
        std::string text;
    } rows[] = {{0, "0"},
                {7, "7"},
                {-1, "-1"},
                {-42, "-42"},
                {I32_MAX, "2147483647"},
                {I32_MIN, "-2147483648"},
                {10000000000, "10000000000"},
                {I64_MAX, "9223372036854775807"},
                {-I64_MAX, "-9223372036854775807"},
                {I64_MIN, "-9223372036854775808"}};
    for (const auto& r : rows) {
        const auto len = static_cast<int32_t>(r.text.size());
        const std::string buffer = r.text + std::string(20 - r.text.size(), ' ');
        Text20 t;
        t.fill('x');
        EXPECT_EQ(il2t(r.n, t), len) << r.n;
        EXPECT_EQ(std::string(t.data(), t.size()), buffer) << r.n;
        EXPECT_EQ(int_text(r.n), r.text);
        if (r.n < I32_MIN || r.n > I32_MAX) continue;
        t.fill('x');
        EXPECT_EQ(i2t(static_cast<int32_t>(r.n), t), len) << r.n;
        EXPECT_EQ(std::string(t.data(), t.size()), buffer) << r.n;
    }
}

TEST(FreeFormatFields, IntegersRightJustified) {
    EXPECT_EQ(field(put_i32, 1234), "        1234");
    EXPECT_EQ(field(put_i32, 0), "           0");
    EXPECT_EQ(field(put_i32, -5), "          -5");
    EXPECT_EQ(field(put_i32, I32_MAX), "  2147483647");
    EXPECT_EQ(field(put_i32, I32_MIN), " -2147483648");
    EXPECT_EQ(field(put_i64, int64_t{-1}), "                    -1");
    EXPECT_EQ(field(put_i64, I64_MAX), "   9223372036854775807");
    EXPECT_EQ(field(put_i64, I64_MIN), "  -9223372036854775808");
}

// Fixed notation with 7 significant digits in 11 columns plus 4 blanks when the value rounded
// to 7 digits lies in [0.1, 1e7); otherwise d.ddddddd E+ee. No float lies close enough below
// 0.1 or 1e7 to round up across them (0.09999999f is 0.0999999865..., 9999999.6f is 1e7).
// The last rows are exact binary ties, which go to the even digit.
TEST(FreeFormatFields, Real32Layouts) {
    const struct {
        float v;
        const char* field;
    } rows[] = {{1.0f, "   1.000000    "},           {0.5f, "  0.5000000    "},
                {0.3f, "  0.3000000    "},           {-1.0f, "  -1.000000    "},
                {12345.678f, "   12345.68    "},     {0.1f, "  0.1000000    "},
                {0.099999994f, "  9.9999994E-02"},   {0.09999999f, "  9.9999987E-02"},
                {1234567.0f, "   1234567.    "},     {-1234567.0f, "  -1234567.    "},
                {9999999.0f, "   9999999.    "},     {9999999.6f, "  1.0000000E+07"},
                {1.0e7f, "  1.0000000E+07"},         {12345678.0f, "  1.2345678E+07"},
                {0.0f, "  0.0000000E+00"},           {1.25e-2f, "  1.2500000E-02"},
                {-1.25e-2f, " -1.2500000E-02"},      {1.0e-30f, "  1.0000000E-30"},
                {1.0e-45f, "  1.4012985E-45"},       {3.4028235e38f, "  3.4028235E+38"},
                {-3.4028235e38f, " -3.4028235E+38"}, {1.0078125f, "   1.007812    "},
                {1.0234375f, "   1.023438    "},     {1048576.5f, "   1048576.    "},
                {1048577.5f, "   1048578.    "},     {0.000244140625f, "  2.4414062E-04"},
                {0.000732421875f, "  7.3242188E-04"}};
    for (const auto& r : rows) EXPECT_EQ(field(put_r32, r.v), r.field) << static_cast<double>(r.v);
}

// Fixed notation with 15 significant digits in 19 columns plus 5 blanks when the value rounded
// to 15 digits lies in [0.1, 1e15); otherwise d.(15 digits)E+eee.
TEST(FreeFormatFields, Real64Layouts) {
    const struct {
        double v;
        const char* field;
    } rows[] = {{1.0, "   1.00000000000000     "},
                {0.5, "  0.500000000000000     "},
                {-0.5, " -0.500000000000000     "},
                {123.456, "   123.456000000000     "},
                {0.1, "  0.100000000000000     "},
                {0.09999999999999999, "  0.100000000000000     "},
                {0.0999999999999999, "  9.999999999999989E-002"},
                {9.999999999999998, "   10.0000000000000     "},  // rounds up to the next decade
                {1e14, "   100000000000000.     "},
                {-1e14, "  -100000000000000.     "},
                {999999999999999.4, "   999999999999999.     "},
                {999999999999999.6, "  9.999999999999996E+014"},  // 1e15 at 15 digits
                {1e15, "  1.000000000000000E+015"},
                {0.0, "  0.000000000000000E+000"},
                {1e-5, "  1.000000000000000E-005"},
                {1e-300, "  1.000000000000000E-300"},
                {5e-324, "  4.940656458412465E-324"},
                {1.7976931348623157e308, "  1.797693134862316E+308"},
                {-1.7976931348623157e308, " -1.797693134862316E+308"},
                {123456789012345.5, "   123456789012346.     "},  // exact binary ties: to even
                {123456789012344.5, "   123456789012344.     "},
                {1.1920928955078125e-07, "  1.192092895507812E-007"},
                {3.5762786865234375e-07, "  3.576278686523438E-007"}};
    for (const auto& r : rows) EXPECT_EQ(field(put_r64, r.v), r.field) << r.v;
}

TEST(FormattedFields, IntegerField) {
    const struct {
        int64_t v;
        int width, min_digits;
        const char* field;
    } rows[] = {{42, 5, 0, "   42"},
                {-42, 3, 0, "-42"},
                {-42, 2, 0, "**"},
                {12345, 4, 0, "****"},
                {0, 3, 0, "  0"},
                {3, 2, 2, "03"},
                {7, 4, 3, " 007"},
                {-7, 4, 3, "-007"},
                {-7, 3, 3, "***"},
                {2026, 4, 4, "2026"},
                {12345, 5, 6, "*****"},
                {I64_MIN, 20, 0, "-9223372036854775808"},
                {I64_MIN, 19, 0, "*******************"}};
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
}

}  // namespace
}  // namespace kinstrom
