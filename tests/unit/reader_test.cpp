// Reading records of the input files.
#include <gtest/gtest.h>

#include <charconv>
#include <random>
#include <string>
#include <vector>

#include "pedigree/reader.hpp"
#include "pedigree/reading.hpp"

namespace kinstrom {
namespace {

// Reads pedigree records (three 64-bit IDs and a 32-bit value) until the end or the first
// record that cannot be read; the text of the records read, then "!" for a failure.
std::string pedigree_records(const std::string& text) {
    RecordReader r(text);
    std::string out;
    while (r.start()) {
        int64_t id = 0, sire = 0, dam = 0;
        int32_t sort = 0;
        if (!r.int64(id) || !r.int64(sire) || !r.int64(dam) || !r.int32(sort)) return out + "!";
        r.finish();
        out += std::to_string(id) + "," + std::to_string(sire) + "," + std::to_string(dam) + "," +
               std::to_string(sort) + ";";
    }
    return out;
}

TEST(RecordReader, Syntax) {
    const struct {
        const char* text;
        const char* records;
    } rows[] = {
        {"", ""},
        {"\n\n   \n", ""},
        {"1 2 3 4\n", "1,2,3,4;"},
        {"1 2 3 4", "1,2,3,4;"},          // no final newline
        {"1,2 , 3,4\n", "1,2,3,4;"},      // one comma, blanks around it
        {"1\t2\r\n3 4\r\n", "1,2,3,4;"},  // tabs and CR are blanks; spans lines
        {"1 2\n\n3\n 4 5 junk\n6 7 8 9\n", "1,2,3,4;6,7,8,9;"},  // rest of the line ignored
        {"1 2 3 4,\n5 6 7 8\n", "1,2,3,4;5,6,7,8;"},             // comma at the end of a line
        {"1 2,\n3 4\n", "1,2,3,4;"},
        {"+1 -2 -3 +4\n", "1,-2,-3,4;"},
        {"1 2 3 4\n\n\n5 6 7 8\n\n", "1,2,3,4;5,6,7,8;"},  // blank lines passed over
        {"9223372036854775807 -9223372036854775808 0 -2147483648\n",
         "9223372036854775807,-9223372036854775808,0,-2147483648;"},
        // Records that cannot be read.
        {"1 2 3\n", "!"},  // cut short by the end of the file
        {"1 2 3 4\n5 6\n", "1,2,3,4;!"},
        {"1,,3 4 5\n", "!"},  // null value
        {",1 2 3 4\n", "!"},  // comma at the start of a record
        {"1 2,\n,3 4\n", "!"},
        {"1 x 3 4\n", "!"},
        {"1 2x 3 4\n", "!"},
        {"1 2 3 4.5\n", "!"},
        {"1 2 3 2147483648\n", "!"},  // beyond 32 bits
        {"9223372036854775808 2 3 4\n", "!"},
        {"1 +-2 3 4\n", "!"},
        {"1 + 3 4 5\n", "!"},
        // Integer bounds: leading zeros of any number, the two ends of 64 bits, one past them.
        {"00000000000000000000000000001 -0 +0000000000000000000009223372036854775807 7\n",
         "1,0,9223372036854775807,7;"},
        {"-00000000000000000000009223372036854775808 2 3 4\n", "-9223372036854775808,2,3,4;"},
        {"-9223372036854775809 2 3 4\n", "!"},
        {"18446744073709551616 2 3 4\n", "!"},
        {"99999999999999999999 2 3 4\n", "!"},
        {"1000000000000000000 2 3 4\n", "1000000000000000000,2,3,4;"},
        {"- 1 2 3 4\n", "!"},
        {"--1 2 3 4\n", "!"},
        {"1 2 3 -\n", "!"},
    };
    for (const auto& row : rows) EXPECT_EQ(pedigree_records(row.text), row.records) << row.text;
}

// The integers read as std::from_chars reads them, on random digit strings around the bounds,
// followed by each way a value can end (or by a letter, which spoils it).
TEST(RecordReader, IntegersAsFromChars) {
    std::mt19937_64 rng(3);
    const std::string alphabet = "0123456789";
    // The bytes next to the digits in ASCII, and bytes above 127, must end a number too.
    const char* const endings[] = {" x\n",
                                   ",1\n",
                                   "\n",
                                   "",
                                   "\t9 9 9 9 9 9\n",
                                   "\r\n",
                                   "a",
                                   "-1",
                                   ":123",
                                   "/123",
                                   "\xb9\xba",
                                   "\x7f"
                                   "1"};
    for (int n = 0; n < 300000; ++n) {
        std::string number;
        if (rng() % 2 == 0) number += '-';
        const std::size_t zeros = rng() % 4 == 0 ? rng() % 25 : 0;
        number += std::string(zeros, '0');
        const std::size_t digits = 1 + rng() % 21;
        for (std::size_t i = 0; i < digits; ++i) number += alphabet[rng() % 10];
        const std::string ending = endings[rng() % std::size(endings)];
        int64_t expected = 0;
        const auto [end, ec] =
            std::from_chars(number.data(), number.data() + number.size(), expected);
        const bool readable = ec == std::errc() && end == number.data() + number.size() &&
                              (ending.empty() || ending[0] == ' ' || ending[0] == ',' ||
                               ending[0] == '\n' || ending[0] == '\t' || ending[0] == '\r');
        const std::string text = number + ending;
        RecordReader r(text);
        int64_t got = 0;
        ASSERT_TRUE(r.start());
        ASSERT_EQ(r.int64(got), readable) << text;
        if (readable) {
            ASSERT_EQ(got, expected) << text;
        }
    }
}

// Whether a value stands on a later line than the one before it.
TEST(RecordReader, ValueOnNewLine) {
    RecordReader r("1 2,\n3\n\n 4 5\n");
    int64_t v = 0;
    std::string lines;
    ASSERT_TRUE(r.start());
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(r.int64(v));
        lines += r.on_new_line() ? "n" : "-";
    }
    EXPECT_EQ(lines, "--nn-");
}

TEST(RecordReader, Reals) {
    const struct {
        const char* text;
        bool ok;
        double value;
    } rows[] = {
        {"0.25", true, 0.25},       {"1", true, 1.0},       {".5", true, 0.5},
        {"-1.5e-3", true, -1.5e-3}, {"2.5D2", true, 250.0}, {"+1d-1", true, 0.1},
        {"1E+1", true, 10.0},       {"inf", false, 0},      {"nan", false, 0},
        {"-inf", false, 0},         {"1.5x", false, 0},     {"e5", false, 0},
        {"1e999", false, 0},
    };
    for (const auto& row : rows) {
        RecordReader r(row.text);
        ASSERT_TRUE(r.start());
        double v = -7;
        EXPECT_EQ(r.real(v), row.ok) << row.text;
        if (row.ok) {
            EXPECT_EQ(v, row.value) << row.text;
        }
    }
}

TEST(RecordReader, RewindReadsAgain) {
    const std::string text = "1 2 3 4\n5 6 7 8\n";
    RecordReader r(text);
    int64_t v = 0;
    ASSERT_TRUE(r.start());
    ASSERT_TRUE(r.int64(v));
    r.rewind();
    ASSERT_TRUE(r.start());
    ASSERT_TRUE(r.int64(v));
    EXPECT_EQ(v, 1);
}

TEST(Dates, DaysBetween) {
    const struct {
        int32_t date1, date2, days;
    } rows[] = {
        {20000301, 20000228, 2},  // 2000 is a leap year
        {19000301, 19000228, 1},  // 1900 is not
        {20200101, 20191231, 1},   {20100105, 20100105, 0}, {20100105, 20100106, -1},
        {20240301, 20230301, 366}, {19700101, 19691231, 1}, {20261205, 19900101, 13487},
    };
    for (const auto& row : rows) {
        const SplitDate a = split_date(row.date1), b = split_date(row.date2);
        EXPECT_EQ(daysbetween(a.day, a.month, a.year, b.day, b.month, b.year), row.days)
            << row.date1 << " " << row.date2;
    }
    const SplitDate d = split_date(20261205);
    EXPECT_EQ(d.day, 5);
    EXPECT_EQ(d.month, 12);
    EXPECT_EQ(d.year, 2026);
    // Extreme values give a number without overflow.
    const SplitDate lo = split_date(INT32_MIN), hi = split_date(INT32_MAX);
    EXPECT_GT(daysbetween(hi.day, hi.month, hi.year, lo.day, lo.month, lo.year), 0);
}

}  // namespace
}  // namespace kinstrom
