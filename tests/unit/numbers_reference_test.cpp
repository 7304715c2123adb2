// The number fields against a reference built on snprintf (the earlier implementation, kept
// here unchanged): every field must come out byte for byte the same, on many values.
#include <gtest/gtest.h>

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
#include <vector>

#include "listing/numbers.hpp"

namespace kinstrom {
namespace {

// ---------------------------------------------------------------------------------------------
// The reference: free-format and formatted fields as printf writes them.

namespace reference {

void put_right(std::string& out, std::string_view text, std::size_t width) {
    if (text.size() < width) out.append(width - text.size(), ' ');
    out.append(text);
}

std::string_view non_finite(double v) {
    if (std::isnan(v)) return "NaN";
    return v < 0 ? "-Infinity" : "Infinity";
}

int rounded_exponent(double v, int digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*e", digits - 1, v);
    const char* e = std::strchr(buf, 'e');
    return std::atoi(e + 1);
}

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

std::string put_i32(int32_t v) {
    std::string out;
    put_right(out, int_text(v), 12);
    return out;
}

std::string put_i64(int64_t v) {
    std::string out;
    put_right(out, int_text(v), 22);
    return out;
}

std::string put_r32(float v) {
    std::string out;
    put_real(out, static_cast<double>(v), 7, 15, 11, 2);
    return out;
}

std::string put_r64(double v) {
    std::string out;
    put_real(out, v, 15, 24, 19, 3);
    return out;
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

}  // namespace reference

// ---------------------------------------------------------------------------------------------
// The fields under test, each appended after some text already on the line.

template <class V, void (*put)(std::string&, V)>
std::string field(V v) {
    std::string out = "ab";
    put(out, v);
    return out.substr(2);
}
const auto put_i32_field = field<int32_t, put_i32>;
const auto put_i64_field = field<int64_t, put_i64>;
const auto put_r32_field = field<float, put_r32>;
const auto put_r64_field = field<double, put_r64>;

// Counts the values whose fields differ and reports the first few of them.
class Comparison {
  public:
    template <class V>
    void check(const std::string& got, const std::string& want, V v, std::size_t width) {
        ++checked_;
        if (width != 0 && got.size() != width) ++wrong_width_;
        if (got == want) return;
        if (++mismatches_ <= 10)
            ADD_FAILURE() << "value " << describe(v) << ": got [" << got << "], want [" << want
                          << "]";
    }
    ~Comparison() {
        EXPECT_EQ(mismatches_, 0U) << "of " << checked_ << " values";
        EXPECT_EQ(wrong_width_, 0U) << "fields not filling their columns";
    }

  private:
    static std::string describe(float v) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.9g (bits %08x)", static_cast<double>(v),
                      std::bit_cast<uint32_t>(v));
        return buf;
    }
    static std::string describe(double v) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g (bits %016llx)", v,
                      static_cast<unsigned long long>(std::bit_cast<uint64_t>(v)));
        return buf;
    }
    static std::string describe(int64_t v) { return std::to_string(v); }
    static std::string describe(int32_t v) { return std::to_string(v); }

    std::size_t checked_ = 0, mismatches_ = 0, wrong_width_ = 0;
};

// v and -v against the reference.
template <class V>
void check_real(Comparison& c, V v) {
    for (const V x : {v, -v}) {
        if constexpr (sizeof(V) == 4)
            c.check(put_r32_field(x), reference::put_r32(x), x, R32_COLUMNS);
        else
            c.check(put_r64_field(x), reference::put_r64(x), x, R64_COLUMNS);
    }
}
const auto check_r32 = check_real<float>;
const auto check_r64 = check_real<double>;

// `count` neighbours of v on either side (and v itself), both signs.
template <class V>
void check_around(Comparison& c, V v, int count) {
    V lo = v, hi = v;
    check_real(c, v);
    for (int k = 0; k < count; ++k) {
        lo = std::nextafter(lo, V{0});
        hi = std::nextafter(hi, std::numeric_limits<V>::infinity());
        check_real(c, lo);
        check_real(c, hi);
    }
}
const auto check_r32_around = check_around<float>;
const auto check_r64_around = check_around<double>;

constexpr auto F_MAX = std::numeric_limits<float>::max();
constexpr auto F_MIN = std::numeric_limits<float>::min();
constexpr auto F_TRUE_MIN = std::numeric_limits<float>::denorm_min();
constexpr auto F_INF = std::numeric_limits<float>::infinity();
constexpr auto D_MAX = std::numeric_limits<double>::max();
constexpr auto D_MIN = std::numeric_limits<double>::min();
constexpr auto D_TRUE_MIN = std::numeric_limits<double>::denorm_min();
constexpr auto D_INF = std::numeric_limits<double>::infinity();

TEST(FieldsAgainstPrintf, Real32Specials) {
    Comparison c;
    for (const float v : {0.0f,
                          1.0f,
                          0.1f,
                          0.5f,
                          0.3f,
                          1.0e7f,
                          9999999.0f,
                          9999999.5f,
                          9999998.5f,
                          0.099999994f,
                          0.099999996f,
                          0.09999999f,
                          0.099999994f,
                          1234567.0f,
                          12345678.0f,
                          1048576.5f,
                          1048577.5f,
                          0.000244140625f,
                          F_MAX,
                          F_MIN,
                          F_TRUE_MIN,
                          F_INF,
                          std::nextafter(F_MIN, 0.0f)})
        check_r32(c, v);
    for (const float v : {std::numeric_limits<float>::quiet_NaN(),
                          std::numeric_limits<float>::signaling_NaN(), -F_INF, F_INF})
        check_r32(c, v);
    EXPECT_EQ(put_r32_field(std::numeric_limits<float>::quiet_NaN()), "            NaN");
    EXPECT_EQ(put_r32_field(-std::numeric_limits<float>::quiet_NaN()), "            NaN");
    EXPECT_EQ(put_r32_field(F_INF), "       Infinity");
    EXPECT_EQ(put_r32_field(-F_INF), "      -Infinity");
    EXPECT_EQ(put_r32_field(-0.0f), " -0.0000000E+00");
}

TEST(FieldsAgainstPrintf, Real64Specials) {
    Comparison c;
    for (const double v : {0.0,
                           1.0,
                           0.1,
                           0.5,
                           1e15,
                           999999999999999.4,
                           999999999999999.5,
                           999999999999999.6,
                           99999999999999.95,
                           0.09999999999999999,
                           0.0999999999999999,
                           0.09999999999999995,
                           9.999999999999998,
                           123456789012345.5,
                           123456789012344.5,
                           D_MAX,
                           D_MIN,
                           D_TRUE_MIN,
                           std::nextafter(D_MIN, 0.0),
                           1e-300,
                           1e300,
                           1e100,
                           1e-100})
        check_r64(c, v);
    for (const double v : {std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::signaling_NaN(), -D_INF, D_INF})
        check_r64(c, v);
    EXPECT_EQ(put_r64_field(std::numeric_limits<double>::quiet_NaN()), "                     NaN");
    EXPECT_EQ(put_r64_field(D_INF), "                Infinity");
    EXPECT_EQ(put_r64_field(-D_INF), "               -Infinity");
    EXPECT_EQ(put_r64_field(-0.0), " -0.000000000000000E+000");
}

// Every float pattern is as likely: all exponents, subnormals, NaNs and infinities.
TEST(FieldsAgainstPrintf, Real32RandomBits) {
    Comparison c;
    std::mt19937 gen(20260101);
    for (int k = 0; k < 200000; ++k)
        check_r32(c, std::bit_cast<float>(static_cast<uint32_t>(gen())));
}

TEST(FieldsAgainstPrintf, Real64RandomBits) {
    Comparison c;
    std::mt19937_64 gen(20260102);
    for (int k = 0; k < 200000; ++k) check_r64(c, std::bit_cast<double>(gen()));
}

// Values as the run has them: proportions and coefficients in [0, 1], sums up to millions.
TEST(FieldsAgainstPrintf, RandomValuesOfTheRun) {
    Comparison c;
    std::mt19937_64 gen(20260103);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_real_distribution<double> decades(-9.0, 17.0);
    for (int k = 0; k < 100000; ++k) {
        const double u = unit(gen);
        check_r64(c, u);
        check_r32(c, static_cast<float>(u));
        const double x = std::pow(10.0, decades(gen)) * unit(gen);
        check_r64(c, x);
        check_r32(c, static_cast<float>(x));
        // Float results shown as doubles (a float widened for a running sum).
        check_r64(c, static_cast<double>(static_cast<float>(u)));
    }
}

// Around every power of ten (the carry into the next decade), at the switches between fixed and
// scientific notation and at their rounding neighbours.
TEST(FieldsAgainstPrintf, Real32NearPowersOfTen) {
    Comparison c;
    for (int e = -46; e <= 39; ++e) {
        const double p = std::pow(10.0, e);
        if (p > static_cast<double>(F_MAX)) break;
        check_r32_around(c, static_cast<float>(p), 40);
        // The halfway points of the last shown digit below the power: 7 and 8 digits.
        check_r32_around(c, static_cast<float>(p * (1 - 0.5e-7)), 40);
        check_r32_around(c, static_cast<float>(p * (1 - 0.5e-8)), 40);
    }
    for (const float v : {0.1f, 1.0e7f, 9999999.5f, 9999999.0f, 0.099999996f, 0.09999999f,
                          0.0999999955f, 0.0999999995f, 99999.995f, 0.9999999f, 0.99999995f})
        check_r32_around(c, v, 300);
}

TEST(FieldsAgainstPrintf, Real64NearPowersOfTen) {
    Comparison c;
    for (int e = -324; e <= 308; ++e) {
        const double p = std::pow(10.0, e);
        check_r64_around(c, p, 20);
        check_r64_around(c, p * (1 - 0.5e-15), 20);
        check_r64_around(c, p * (1 - 0.5e-16), 20);
    }
    for (const double v : {0.1, 1e15, 999999999999999.5, 0.09999999999999995, 0.099999999999999995,
                           99999999999999.95, 0.999999999999999, 0.9999999999999995})
        check_r64_around(c, v, 300);
}

// Exact binary ties of the last shown digit go to the even digit, as in printf.
TEST(FieldsAgainstPrintf, ExactTies) {
    Comparison c;
    std::mt19937_64 gen(20260104);
    for (int k = 0; k < 50000; ++k) {
        // n + 0.5 with 7 digits before the point (fixed, no decimal shown), below 2^23.
        const auto n32 = static_cast<float>(1000000 + gen() % 7388608);
        check_r32(c, n32 + 0.5f);
        // d / 2^m: ties of the 7th or 8th significant digit among small dyadic fractions.
        const int m = static_cast<int>(gen() % 30);
        const auto d = static_cast<float>(gen() % (uint64_t{1} << 24));
        check_r32(c, std::ldexp(d, -m));
        // n + 0.5 with 15 digits before the point, below 2^53.
        const auto n64 = static_cast<double>(100000000000000 + gen() % 900000000000000);
        check_r64(c, n64 + 0.5);
        const auto d64 = static_cast<double>(gen() % (uint64_t{1} << 53));
        check_r64(c, std::ldexp(d64, -static_cast<int>(gen() % 70)));
    }
}

TEST(FieldsAgainstPrintf, Integers) {
    Comparison c;
    constexpr auto I32_MIN = std::numeric_limits<int32_t>::min();
    constexpr auto I32_MAX = std::numeric_limits<int32_t>::max();
    constexpr auto I64_MIN = std::numeric_limits<int64_t>::min();
    constexpr auto I64_MAX = std::numeric_limits<int64_t>::max();
    std::vector<int64_t> values = {0,           1,       -1,      I32_MIN,     I32_MAX,
                                   I32_MIN + 1, I64_MIN, I64_MAX, I64_MIN + 1, I64_MAX - 1};
    for (int64_t p = 1; p <= I64_MAX / 10; p *= 10)
        for (const int64_t v : {p, p - 1, p + 1, -p, -p + 1, -p - 1, p * 10 - 1})
            values.push_back(v);
    std::mt19937_64 gen(20260105);
    for (int k = 0; k < 100000; ++k) {
        values.push_back(static_cast<int64_t>(gen()));
        values.push_back(static_cast<int64_t>(gen() >> (gen() % 64)));
        values.push_back(-static_cast<int64_t>(gen() >> (1 + gen() % 63)));
    }
    for (const int64_t v : values) {
        c.check(put_i64_field(v), reference::put_i64(v), v, I64_COLUMNS);
        c.check(int_text(v), reference::int_text(v), v, 0);
        Text20 got, want;
        got.fill('x');
        want.fill('y');
        const int32_t got_len = il2t(v, got);
        const int32_t want_len = reference::il2t(v, want);
        c.check(std::string(got.data(), got.size()) + "/" + std::to_string(got_len),
                std::string(want.data(), want.size()) + "/" + std::to_string(want_len), v, 0);
        const auto v32 = static_cast<int32_t>(v);  // the low 32 bits
        c.check(put_i32_field(v32), reference::put_i32(v32), v32, I32_COLUMNS);
        got.fill('x');
        const int32_t got32_len = i2t(v32, got);
        const int32_t want32_len = reference::il2t(v32, want);
        c.check(std::string(got.data(), got.size()) + "/" + std::to_string(got32_len),
                std::string(want.data(), want.size()) + "/" + std::to_string(want32_len), v32, 0);
    }
}

TEST(FieldsAgainstPrintf, IntegerField) {
    Comparison c;
    std::vector<int64_t> values = {0,
                                   1,
                                   -1,
                                   7,
                                   -7,
                                   42,
                                   2026,
                                   99999,
                                   -100000,
                                   std::numeric_limits<int64_t>::min(),
                                   std::numeric_limits<int64_t>::max()};
    std::mt19937_64 gen(20260106);
    for (int k = 0; k < 3000; ++k) {
        const auto v = static_cast<int64_t>(gen() >> (gen() % 64));
        values.push_back(k % 2 == 0 ? v : -v);
    }
    for (const int64_t v : values)
        for (int width = 0; width <= 24; ++width)
            for (int min_digits = -2; min_digits <= 22; min_digits += (min_digits < 6 ? 1 : 4))
                c.check(int_field(v, width, min_digits), reference::int_field(v, width, min_digits),
                        v, static_cast<std::size_t>(width));
}

TEST(FieldsAgainstPrintf, FixedField) {
    Comparison c;
    std::vector<double> values = {
        0.0,    -0.0,  0.5,   -0.5,       0.125,
        0.375,  2.5,   3.5,   99.996,     1e300,
        -1e300, D_MAX, D_MIN, D_TRUE_MIN, 1e-5,
        0.005,  0.015, 0.025, 1.0 / 3,    std::numeric_limits<double>::quiet_NaN(),
        D_INF,  -D_INF};
    std::mt19937_64 gen(20260107);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_real_distribution<double> decades(-8.0, 12.0);
    for (int k = 0; k < 4000; ++k) {
        values.push_back(std::pow(10.0, decades(gen)) * (unit(gen) - 0.3));
        values.push_back(std::bit_cast<double>(gen()));
        values.push_back(static_cast<double>(gen() % 100000) / 1000.0 + 0.0005);  // near ties
    }
    for (const double v : values)
        for (const int decimals : {-1, 0, 1, 2, 3, 4, 6, 10, 17})
            for (const int width : {1, 4, 6, 8, 10, 13, 20, 40})
                c.check(fixed_field(v, width, decimals), reference::fixed_field(v, width, decimals),
                        v, static_cast<std::size_t>(width));
    // Texts of about 400 characters: the largest doubles with many decimals.
    for (const double v : {D_MAX, -D_MAX, 1e308, -1e308})
        for (int decimals = 85; decimals <= 95; ++decimals)
            for (const int width : {20, 398, 399, 400, 401, 420})
                c.check(fixed_field(v, width, decimals), reference::fixed_field(v, width, decimals),
                        v, static_cast<std::size_t>(width));
}

}  // namespace
}  // namespace kinstrom
