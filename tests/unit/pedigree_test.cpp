// Reading records of the input files; the tables and their ID index.
#include <gtest/gtest.h>

#include "capture.hpp"

#include <algorithm>
#include <charconv>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "input/reader.hpp"
#include "pedigree/dates.hpp"
#include "pedigree/reading.hpp"
#include "pedigree/store.hpp"

namespace kinstrom {
namespace {

using namespace std::literals;

// Reads pedigree records (three 64-bit IDs and a 32-bit value) until the end or the first
// record that cannot be read; the text of the records read, then "!" for a failure.
std::string pedigree_records(std::string_view text) {
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
        std::string_view text;
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
        {"1 2 3 4\n5 6\n", "1,2,3,4;!"},  // the second record cut short by the end of the file
        // Integer bounds: leading zeros of any number, the two ends of 64 bits.
        {"00000000000000000000000000001 -0 +0000000000000000000009223372036854775807 7\n",
         "1,0,9223372036854775807,7;"},
        {"-00000000000000000000009223372036854775808 2 3 4\n", "-9223372036854775808,2,3,4;"},
        {"1000000000000000000 2 3 4\n", "1000000000000000000,2,3,4;"},
    };
    for (const auto& row : rows) EXPECT_EQ(pedigree_records(row.text), row.records) << row.text;
    // Records that cannot be read: cut short, a null value or a comma at the start of a record,
    // letters, a real, beyond 32 or 64 bits, stray signs, a NUL byte, a byte-order mark.
    for (const std::string_view text :
         {"1 2 3\n"sv, "1,,3 4 5\n"sv, ",1 2 3 4\n"sv, "1 2,\n,3 4\n"sv, "1 x 3 4\n"sv,
          "1 2x 3 4\n"sv, "1 2 3 4.5\n"sv, "1 2 3 2147483648\n"sv, "9223372036854775808 2 3 4\n"sv,
          "-9223372036854775809 2 3 4\n"sv, "18446744073709551616 2 3 4\n"sv,
          "99999999999999999999 2 3 4\n"sv, "1 +-2 3 4\n"sv, "1 + 3 4 5\n"sv, "- 1 2 3 4\n"sv,
          "--1 2 3 4\n"sv, "1 2 3 -\n"sv, "1 2\0 3 4\n"sv, "\357\273\2771 2 3 4\n"sv})
        EXPECT_EQ(pedigree_records(text), "!") << text;
}

// The integers read as std::from_chars reads them, on random digit strings around the bounds,
// followed by each way a value can end (or by a letter, which spoils it).
TEST(RecordReader, IntegersAsFromChars) {
    std::mt19937_64 rng(3);
    const std::string alphabet = "0123456789";
    // The bytes next to the digits in ASCII, and bytes above 127, must end a number too.
    const char* const endings[] = {" x\n", ",1\n", "\n",   "",     "\t9 9 9 9 9 9\n", "\r\n",
                                   "a",    "-1",   ":123", "/123", "\271\272",        "\1771"};
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

// Reals of the breed-proportion file: exponents with E or D, one sign; no words, nothing out of
// range.
TEST(RecordReader, Reals) {
    const auto read = [](const char* text, double& v) {
        RecordReader r(text);
        return r.start() && r.real(v);
    };
    const std::pair<const char*, double> valid[] = {
        {"0.25", 0.25},   {"1", 1.0},     {".5", 0.5},    {"-1.5e-3", -1.5e-3},
        {"2.5D2", 250.0}, {"+1d-1", 0.1}, {"1E+1", 10.0}, {"1e100", 1e100}};
    for (const auto& [text, value] : valid) {
        double v = -7;
        EXPECT_TRUE(read(text, v) && v == value) << text << " read as " << v;
    }
    // At most one sign.
    for (const char* text :
         {"inf", "nan", "-inf", "1.5x", "e5", "1e999", "++0.5", "+-0.5", "-+0.5", "--0.5", "+"}) {
        double v = -7;
        EXPECT_FALSE(read(text, v)) << text;
    }
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
    EXPECT_EQ(std::tie(d.day, d.month, d.year), std::make_tuple(5, 12, 2026));
    // Extreme values give a number without overflow.
    const SplitDate lo = split_date(INT32_MIN), hi = split_date(INT32_MAX);
    EXPECT_GT(daysbetween(hi.day, hi.month, hi.year, lo.day, lo.month, lo.year), 0);
}

// Many IDs at once give what llist gives one ID after another: the same positions, records,
// SORT values and lookups, through growth of the index (the tables start without room), taken
// in order or grouped by part of the index.
// A reading of the three input files (no breed-proportion file when `bp` is empty): the stop's
// cause as "FILE:LINE:COLUMN: TEXT" ("" without a stop), the warnings, the kind-8 count.
struct Read {
    std::string stop, warnings;
    int32_t error8 = 0;
};
Read read_files(const std::string& ped, const std::string& prob, const std::string& bp,
                const ReadOptions& o) {
    Scratch s;
    Read out;
    std::FILE* f[3] = {};
    for (const int k : {0, 1, 2}) {
        f[k] = std::fopen(s.path(std::to_string(k)).c_str(), "w+");
        std::fputs((k == 0 ? ped : k == 1 ? prob : bp).c_str(), f[k]);
        std::rewind(f[k]);
    }
    ErrorFiles errors;
    for (int kind = 1; kind <= ERROR_KINDS; ++kind)
        errors.file(kind).open(s.listing, s.path("err" + std::to_string(kind)));
    Pedigree p;
    Capture err;
    Diagnostics d(err.file);
    try {
        read_input(s.listing, o, {{"ped", f[0]}, {"prob", f[1]}, {bp.empty() ? "" : "bp", f[2]}},
                   errors, p, d);
    } catch (const FatalStop& stop) {
        const StopCause& c = stop.cause;
        out.stop =
            c.file + ":" + std::to_string(c.line) + ":" + std::to_string(c.column) + ": " + c.text;
    }
    d.finish();
    out.warnings = err.text();
    out.error8 = errors.ERROR[8];
    for (std::FILE* file : f) std::fclose(file);
    return out;
}

const ReadOptions TRACE_ONLY{100, 10, 0, 1, 2147483647, {1, 1}, false, false, {}};

// Each parent is held to its own minimum age: the sire to MIN_D_SBD, the dam to MIN_D_DBD.
TEST(Dates, MinimumAgeOfEachParent) {
    const std::tuple<int32_t, int32_t, int32_t> rows[] = {
        {30, 90, 1}, {90, 30, 1}, {30, 30, 0}, {90, 90, 2}};  // sire's, dam's minimum; errors
    for (const auto& [sire_days, dam_days, errors_found] : rows) {
        // Both parents born 60 days before their offspring.
        const ReadOptions o{10, 10, 0, 1, 20261205, {sire_days, dam_days}, true, false, {}};
        EXPECT_EQ(
            read_files("1 0 0 20000101\n2 0 0 20000101\n3 1 2 20000301\n", "3\n", "", o).error8,
            errors_found)
            << sire_days << " " << dam_days;
    }
}

// What standard error says of an input record that stops the run.
TEST(Messages, InvalidInputCauses) {
    const ReadOptions breeds{100, 10, 2, 1, 2147483647, {1, 1}, false, true, {}};
    const struct {
        const char *ped, *prob, *bp, *stop;
    } rows[] = {
        {"ID SIRE DAM BORN\n1 0 0 1\n", "1\n", "",
         "ped:1:1: record 1: found \"ID\" where the individual's ID, an integer was expected; the "
         "first line looks like a header line: remove it, or read the file as a table (kinstrom "
         "--table)"},
        {"\n\n1 0 0 1\nA7 0 0 1\n", "1\n", "",
         "ped:4:1: record 2: found \"A7\" where the "
         "individual's ID, an integer was expected; IDs are integers here: read the file as a "
         "table (kinstrom --table)"},
        {"1;0;0;1\n", "1\n", "",
         "ped:1:1: record 1: found \"1;0;0;1\" where the individual's "
         "ID, an integer was expected; values seem to be separated by ';'"},
        {"1 0 0 1\n2 NA 0 1\n", "1\n", "",
         "ped:2:3: record 2: found \"NA\" where the sire's ID, "
         "an integer was expected; a missing value written NA: write an unknown parent as a PHG"},
        {"\xef\xbb\xbf"
         "1 0 0 1\n",
         "1\n", "", "the file begins with a byte-order mark"},
        {"BZh91AY&SY", "1\n", "", "the file looks compressed (bzip2): decompress it first"},
        {"1 0 0 99999999999\n", "1\n", "",
         "ped:1:7: record 1: found \"99999999999\" where the "
         "sort variable (birth date), an integer was expected; the number is too large: the sort"},
        {"1 0 0 1\n2 0,,0 1\n", "1\n", "",
         "ped:2:5: record 2: found \",\" where the dam's ID, an "
         "integer was expected; an empty value between two commas"},
        {"1 0 0 1\n0 1 1 1\n", "1\n", "", "ped:2:1: record 2: \"0\" is not an individual's ID"},
        {"1 0 0 1\n2 1 0\n", "1\n", "", "ped:2:6: record 2: the file ends where the sort variable"},
        {"1 -1 -1 1\n", "1\n", "-1 0.5 0.5\n1 0.5 0.5\n",
         "bp:2:1: record 2: \"1\" is not a PHG "
         "code: PHG codes in the breed-proportion file are below 0"},
        {"1 -1 -1 1\n", "1\n", "-1 0.5\n",
         "bp:1:7: record 1: the file ends where breed "
         "proportion 2 of 2, a real number was expected; the record has fewer values than "
         "N_BPOP + 1 = 3 on its line: N_BPOP or the file is likely wrong"},
        {"1 0 0 1\n", "1\nx\n", "",
         "prob:2:1: record 2: found \"x\" where the ID of an individual "
         "to trace, an integer was expected"},
    };
    for (const auto& r : rows) {
        const std::string stop = read_files(r.ped, r.prob, r.bp, *r.bp ? breeds : TRACE_ONLY).stop;
        EXPECT_NE(stop.find(r.stop), std::string::npos) << r.stop << "\n" << stop;
    }
}

// Warnings of the reading phase; the run goes on.
TEST(Messages, ReadingWarnings) {
    const ReadOptions breeds{100, 10, 2, 1, 2147483647, {1, 1}, false, true, {}};
    const ReadOptions dates{100, 10, 0, 19000101, 20261205, {1, 1}, true, false, {}};
    const std::string records = "1 0 0 1\n2 0\n0 1\n3 1 2 5\n4 3 1 6\n";
    const struct {
        std::string ped, prob, bp;
        const ReadOptions& o;
        std::string warnings;
    } rows[] = {
        {records, "3\n", "", TRACE_ONLY,
         "kinstrom: ped:2: warning: record 2 (line 2) has 2 values on its line; the 3rd was taken "
         "from line 3: is a value missing on that line?\n"
         "kinstrom: ped: warning: individual 1 is a dam of 4 and a sire elsewhere: check the "
         "parents' order\n"},
        {"1 0 0 19990231\n2 0 0 20000101\n", "2\n", "", dates,
         "kinstrom: ped: warning: record 1: the birth date 19990231 of individual 1 is no "
         "calendar date (yyyymmdd)\n"},
        {"1 -1 -2 1\n", "1\n", "-1 0.5 0.5 0.25\n-2 0.5 0.25\n", breeds,
         "kinstrom: bp:1: warning: record 1 has more values on its line than the 3 it needs (a "
         "PHG code and N_BPOP proportions): is N_BPOP too small?\n"
         "kinstrom: bp:2: warning: the breed proportions of PHG -2 sum to 0.75, not 1\n"},
        {"1 0 0 1\n", "7\n8\n", "", TRACE_ONLY,
         "kinstrom: prob: warning: none of the 2 IDs of the trace file is in the pedigree file: "
         "nothing is traced\n"},
    };
    for (const auto& r : rows) {
        const Read got = read_files(r.ped, r.prob, r.bp, r.o);
        EXPECT_EQ(got.stop, "");
        EXPECT_EQ(got.warnings, r.warnings);
    }
    // Many findings of a kind: the first 5 and the count.
    std::string wrapped;
    for (int i = 1; i <= 7; ++i) wrapped += std::to_string(i) + " 0 0\n1\n";
    const std::string w = read_files(wrapped, "1\n", "", TRACE_ONLY).warnings;
    EXPECT_EQ(std::count(w.begin(), w.end(), '\n'), 6);
    EXPECT_NE(w.find("warning: 7 records running over a line end in all; the first 5 are shown"),
              std::string::npos);
}

TEST(TableBatches, SameAsOneAfterAnother) {
    CapturedListing c;
    std::mt19937_64 rng(7);
    for (const int64_t range : {int64_t{50}, int64_t{5000}, int64_t{1} << 40})
        for (const int grouped_from_bits : {0, 12, 22, -1}) {  // -1: a dense index
            Table batched("XLIST", 100000);
            batched.grouped_from_bits = std::max(grouped_from_bits, 0);
            if (grouped_from_bits < 0)
                batched.use_dense_index(c.listing, std::min<int64_t>(range / 4, 1000));
            Table single("XLIST", 100000);
            std::size_t entered = 0;
            while (entered < 30000) {
                const std::size_t n = rng() % 3000;
                std::vector<int64_t> ids(n);
                std::vector<int32_t> sorts(n), positions(n, -7);
                for (std::size_t i = 0; i < n; ++i) {
                    ids[i] = static_cast<int64_t>(rng() % static_cast<uint64_t>(range)) - range / 2;
                    sorts[i] = static_cast<int32_t>(rng() % 1000);
                }
                batched.enter_many(c.listing, ids, sorts, positions);
                for (std::size_t i = 0; i < n; ++i) {
                    int32_t NEW = 0;
                    const int32_t p = llist(c.listing, ids[i], single, 1, NEW);
                    if (NEW == 1) single.set_sort(p, sorts[i]);
                    ASSERT_EQ(positions[i], p);
                }
                entered += n;
            }
            ASSERT_EQ(batched.LAST, single.LAST);
            for (int32_t p = 1; p <= single.LAST; ++p)
                ASSERT_TRUE(batched[p].ID == single[p].ID && batched[p].SORT == single[p].SORT)
                    << p;
            // Lookups of present and absent IDs, with a SORT changed after entry.
            batched.set_sort(1, -99999990);
            std::vector<int64_t> ids(20000);
            for (int64_t& id : ids)
                id = static_cast<int64_t>(rng() % static_cast<uint64_t>(2 * range)) - range;
            ids.push_back(batched[1].ID);
            std::vector<int32_t> positions(ids.size()), sorts(ids.size());
            batched.find_many(ids, positions, sorts);
            for (std::size_t i = 0; i < ids.size(); ++i) {
                ASSERT_EQ(positions[i], batched.find(ids[i])) << ids[i];
                ASSERT_EQ(sorts[i], positions[i] == 0 ? 0 : batched[positions[i]].SORT);
            }
            EXPECT_EQ(sorts.back(), -99999990);
        }
    EXPECT_EQ(c.text(), "");
}

// A full table and an ID that cannot be stored (-2^63, which has no digits: it is left over
// whole) stop at the same ID as with llist, with its message, the records before it entered.
TEST(TableBatches, StopsWhereOneAfterAnotherStops) {
    const int64_t unstorable = std::numeric_limits<int64_t>::min();
    std::string unstorable_lines = " BITSTR ERROR  -9223372036854775808  -9223372036854775808";
    for (int i = 0; i < 65; ++i) unstorable_lines += "           0";
    const std::string full_lines =
        " DIMENSION PROBLEM A LIST IN LLIST\n LIST OF DIMENSION"
        "            3 MUST BE ENLARGED\n COMPUTATIONS ABORTED\n";
    const struct {
        std::vector<int64_t> ids;
        int32_t last;  // records entered at the stop
        bool full;     // the capacity message, else BITSTR ERROR
    } rows[] = {
        {{1, 2, 1, 2, 3, 2, 4}, 3, true},
        {{1, 2, unstorable, 3, 4}, 2, false},
        {{1, 2, 3, 4, unstorable}, 3, true},
        {{1, 1, 1, unstorable, 5, 6, 7}, 1, false},
    };
    for (const auto& row : rows)
        for (const int grouped_from_bits : {0, 22, -1})  // -1: a dense index
            for (const bool batched : {false, true}) {
                CapturedListing c;
                Table t("XLIST", 3);
                t.grouped_from_bits = std::max(grouped_from_bits, 0);
                if (grouped_from_bits < 0) t.use_dense_index(c.listing, 5);
                std::vector<int32_t> sorts(row.ids.size()), positions(row.ids.size());
                int32_t NEW = 0;
                if (batched) {
                    EXPECT_THROW(t.enter_many(c.listing, row.ids, sorts, positions), FatalStop);
                } else {
                    EXPECT_THROW(for (const int64_t id
                                      : row.ids) llist(c.listing, id, t, 1, NEW),
                                 FatalStop);
                }
                EXPECT_EQ(t.LAST, row.last);
                EXPECT_EQ(c.text(), row.full ? full_lines : unstorable_lines + "\n");
            }
}

}  // namespace
}  // namespace kinstrom
