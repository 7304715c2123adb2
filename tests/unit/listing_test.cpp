// Free-format and formatted lines, the page heading and bookkeeping, the invalid-input abort
// and the clock.
#include <gtest/gtest.h>

#include "capture.hpp"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <tuple>
#include <vector>

#include "listing/listing.hpp"

namespace kinstrom {
namespace {

std::string joined(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\n";
    return s;
}

const RunDate SAMPLE_DATE{5, 12, 2026, 6, 3, 57};
auto fields(const RunDate& d) {
    return std::tie(d.day, d.month, d.year, d.hour, d.minute, d.second);
}

std::string heading_line(char mark, const std::string& date_text) {
    return std::string(1, mark) + "Kinstrom ver. 2" + std::string(61, ' ') + date_text;
}

TEST(FreeLineLayout, LabelAndItems) {
    const std::string label = "No. of individuals ............................................";
    ASSERT_EQ(label.size(), 63u);
    EXPECT_EQ(FreeLine().text(label).i32(1234).str(), " " + label + "        1234");
    EXPECT_EQ(FreeLine().flag(true).flag(false).str(), "  T F");
    EXPECT_EQ(FreeLine().text("ab  ").i64(-1).str(), " ab  " + std::string(20, ' ') + "-1");
    EXPECT_EQ(FreeLine().r32(1.0f).r64(1.0).str(), "    1.000000       1.00000000000000     ");
    EXPECT_EQ(FreeLine().text(" ").str(), "  ");
    EXPECT_EQ(FreeLine().str(), " ");
    EXPECT_EQ(FreeLine().i32(5).clear().i32(6).str(), "            6");
}

TEST(FreeLineLayout, FilesWrapAtColumn120ListingNever) {
    const std::string f12 = "           7";  // 7 in its 12 columns
    std::string nine;
    for (int i = 0; i < 9; ++i) nine += f12;  // columns 2..109
    const std::string d24 = "   1.00000000000000     ";
    const struct {
        const char* name;
        int i32s, r64s;
        std::string pre;  // a text item first
        std::string wrapped;
    } rows[] = {
        {"nine ints fit", 9, 0, "", " " + nine},
        {"tenth int wraps", 10, 0, "", " " + nine + "\n " + f12},
        {"twenty ints on three lines", 20, 0, "", " " + nine + "\n " + nine + "\n " + f12 + f12},
        {"four doubles fit, fifth wraps", 0, 5, "", " " + d24 + d24 + d24 + d24 + "\n " + d24},
        {"item ending at column 120 stays", 1, 0, std::string(107, 'x'),
         " " + std::string(107, 'x') + f12},
    };
    for (const auto& r : rows) {
        FreeLine file(true), listing(false);
        for (FreeLine* line : {&file, &listing}) {
            line->text(r.pre);
            for (int i = 0; i < r.i32s; ++i) line->i32(7);
            for (int i = 0; i < r.r64s; ++i) line->r64(1.0);
        }
        EXPECT_EQ(file.str(), r.wrapped) << r.name;
        std::string flat = r.wrapped;
        for (std::size_t p; (p = flat.find("\n ")) != std::string::npos;) flat.erase(p, 2);
        EXPECT_EQ(listing.str(), flat) << r.name;
    }
    // One character past column 120 moves the item to the next line.
    EXPECT_EQ(FreeLine(true).text(std::string(108, 'x')).i32(7).str(),
              " " + std::string(108, 'x') + "\n " + f12);
}

TEST(RowLayout, ColumnsTextAndFields) {
    EXPECT_EQ(Row().str(), " ");
    EXPECT_EQ(Row().text("ab").at(10).text("x").str(), " ab      x");
    EXPECT_EQ(Row().at(5).integer(42, 4).str(), "      42");
    EXPECT_EQ(Row().text("abcdef").at(3).text("g").str(), " abcdefg");  // already past
    EXPECT_EQ(Row().text("n=").integer(123456, 4).str(), " n=****");
    EXPECT_EQ(Row().integer(5, 3, 2).text("-").integer(3, 2, 2).str(), "  05-03");
    EXPECT_EQ(Row().real(1.5, 6, 2).real(-2.25, 6, 1).str(), "   1.50  -2.2");
    EXPECT_EQ(Row().real(1234.5, 5, 2).str(), " *****");
}

TEST(PageHeading, FirstAndLaterPages) {
    const struct {
        RunDate date;
        const char* date_text;
    } rows[] = {
        {SAMPLE_DATE, "   5-12-2026 - 06:03:57"},
        {{5, 3, 2026, 7, 5, 9}, "   5-03-2026 - 07:05:09"},
        {{31, 12, 1999, 23, 59, 59}, "  31-12-1999 - 23:59:59"},
        {{1, 1, 2000, 0, 0, 0}, "   1-01-2000 - 00:00:00"},
    };
    for (const auto& r : rows) {
        Capture out;
        Listing listing(out.file, r.date);
        EXPECT_EQ(listing.heading(0), 2);
        EXPECT_EQ(listing.heading(1), 2);
        const std::string want =
            joined({heading_line(' ', r.date_text), "", heading_line('1', r.date_text), ""});
        EXPECT_EQ(out.text(), want) << r.date_text;
    }
}

TEST(PageHeading, ReserveBookkeeping) {
    const std::string eject = joined({heading_line('1', "   5-12-2026 - 06:03:57"), ""});
    const struct {
        bool after;
        int32_t threshold, start, k, lines;
        bool new_page;
    } rows[] = {
        {false, 0, 2, 10, 12, false}, {false, 0, 70, 5, 75, false}, {false, 0, 71, 5, 7, true},
        {false, 0, 75, 1, 3, true},   {false, 0, 2, 80, 82, true},  {true, 60, 60, 3, 63, false},
        {true, 60, 61, 3, 5, true},   {true, 70, 71, 0, 2, true},
    };
    for (const auto& r : rows) {
        Capture out;
        Listing listing(out.file, SAMPLE_DATE);
        listing.lines = r.start;
        if (r.after) {
            listing.reserve_after(r.threshold, r.k);
        } else {
            listing.reserve(r.k);
        }
        EXPECT_EQ(listing.lines, r.lines) << r.start << " + " << r.k;
        EXPECT_EQ(out.text(), r.new_page ? eject : "") << r.start << " + " << r.k;
    }
}

TEST(ListingWriters, LinesAsWritten) {
    Capture out;
    Listing listing(out.file, SAMPLE_DATE);
    listing.blank();
    listing.text("EOJ");
    listing.label_number("Smallest accepted day of birth:           ", 19900101);
    listing.row(Row().text("Option").integer(2, 10));
    listing.raw("");
    EXPECT_TRUE(listing.flush());
    EXPECT_EQ(out.text(), joined({"  ", " EOJ",
                                  " Smallest accepted day of birth:           "
                                  "    19900101",
                                  " Option         2", ""}));
}

TEST(InvalidInput, PrintsAndStops) {
    for (const std::string& name : {std::string("ped.txt"), "ped.txt" + std::string(233, ' ')}) {
        Capture out;
        Listing listing(out.file, SAMPLE_DATE);
        try {
            ill_input(listing, name, 17);
            ADD_FAILURE() << "ill_input returned";
        } catch (const FatalStop& stop) {
            EXPECT_EQ(stop.status, 16);
        }
        EXPECT_EQ(out.text(),
                  joined({"  ", " ERROR - invalid input on file: ped.txt",
                          "         in obs no.           17", "  ", " The program terminates"}));
    }
}

TEST(RunClock, DateFromEpochInUtc) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const struct {
        int64_t epoch;
        bool ok;
        RunDate date;
    } rows[] = {{1796450637, true, SAMPLE_DATE},
                {0, true, {1, 1, 1970, 0, 0, 0}},
                {951782400, true, {29, 2, 2000, 0, 0, 0}},
                {253402300799, true, {31, 12, 9999, 23, 59, 59}},  // the year keeps 4 digits
                {253402300800, false, {}},
                {-30610224000, true, {1, 1, 1000, 0, 0, 0}},
                {-30610224001, false, {}}};
    for (const auto& r : rows) {
        RunDate d;
        ASSERT_EQ(date_from_epoch(r.epoch, d), r.ok) << r.epoch;
        if (!r.ok) continue;
        EXPECT_EQ(fields(d), fields(r.date)) << r.epoch;
    }
}

TEST(RunClock, SourceDateEpochOnlyWhenDigits) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const struct {
        const char* value;
        bool used;
    } rows[] = {{"1796450637", true},   {"01796450637", true},  {"+1796450637", false},
                {" 1796450637", false}, {"1796450637x", false}, {"", false}};
    for (const auto& r : rows) {
        ::setenv("SOURCE_DATE_EPOCH", r.value, 1);
        RunDate d;
        dattim(d);
        EXPECT_EQ(fields(d) == fields(SAMPLE_DATE), r.used) << '"' << r.value << '"';
    }
    ::unsetenv("SOURCE_DATE_EPOCH");
}

}  // namespace
}  // namespace kinstrom
