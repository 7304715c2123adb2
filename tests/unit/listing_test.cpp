// Line layouts at their edges, the page heading and bookkeeping, and the clock (every golden
// case runs on one date, pages and lines well inside their bounds); output files at the edges
// of their block buffer: records written through several blocks and across their ends, read
// back, kept at a fatal stop, and write failures that stop the run.
#include <gtest/gtest.h>

#include "capture.hpp"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string>
#include <tuple>

#include "listing/listing.hpp"
#include "listing/outfile.hpp"

namespace kinstrom {
namespace {

const RunDate SAMPLE_DATE{5, 12, 2026, 6, 3, 57};
auto fields(const RunDate& d) {
    return std::tie(d.day, d.month, d.year, d.hour, d.minute, d.second);
}

// Output-file lines wrap before an item that would pass column 120; listing lines never wrap.
TEST(FreeLineLayout, FilesWrapAtColumn120ListingNever) {
    const std::string f12 = "           7", x107(107, 'x');  // 7 in its 12 columns
    EXPECT_EQ(FreeLine(true).text(x107).i32(7).str(), " " + x107 + f12);
    EXPECT_EQ(FreeLine(true).text(x107 + "x").i32(7).str(), " " + x107 + "x\n " + f12);
    EXPECT_EQ(FreeLine(false).text(x107 + "x").i32(7).str(), " " + x107 + "x" + f12);
    FreeLine twice(true);
    for (int i = 0; i < 19; ++i) twice.i32(7);  // nine items a line
    EXPECT_EQ(std::count(twice.str().begin(), twice.str().end(), '\n'), 2);
}

// Formatted rows: columns, and their numeric fields (see FormattedFields).
TEST(RowLayout, ColumnsTextAndFields) {
    EXPECT_EQ(Row().str(), " ");
    EXPECT_EQ(Row().text("ab").at(10).text("x").str(), " ab      x");
    EXPECT_EQ(Row().text("abcdef").at(3).text("g").str(), " abcdefg");  // already past
    EXPECT_EQ(Row().integer(5, 3, 2).text("-").integer(3, 2, 2).real(-2.25, 6, 1).str(),
              "  05-03  -2.2");
}

TEST(PageHeading, FirstAndLaterPages) {
    Capture out;
    Listing listing(out.file, RunDate{5, 3, 2026, 7, 5, 9});
    EXPECT_EQ(listing.heading(0), 2);
    EXPECT_EQ(listing.heading(1), 2);
    const std::string line =
        "Kinstrom ver. 2" + std::string(61, ' ') + "   5-03-2026 - 07:05:09\n\n";
    EXPECT_EQ(out.text(), " " + line + "1" + line);
}

// A block that fits the page (75 lines) stays on it; one that does not starts a new page.
TEST(PageHeading, ReserveBookkeeping) {
    const std::string eject =
        "1Kinstrom ver. 2" + std::string(61, ' ') + "   5-12-2026 - 06:03:57\n\n";
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
        listing.count(r.start);
        r.after ? listing.reserve_after(r.threshold, r.k) : listing.reserve(r.k);
        EXPECT_EQ(listing.lines(), r.lines) << r.start << " + " << r.k;
        EXPECT_EQ(out.text(), r.new_page ? eject : "") << r.start << " + " << r.k;
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
        if (r.ok) {
            EXPECT_EQ(fields(d), fields(r.date)) << r.epoch;
        }
    }
    // SOURCE_DATE_EPOCH sets the clock only when it is all digits and names a 4-digit year; a
    // value set but not taken is handed back for a warning, an empty one counts as not set.
    std::string ignored;
    const auto clock_set_by = [&ignored](const char* value) {
        ::setenv("SOURCE_DATE_EPOCH", value, 1);
        RunDate d;
        ignored.clear();
        dattim(d, &ignored);
        return fields(d) == fields(SAMPLE_DATE);
    };
    for (const char* v : {"1796450637", "01796450637"}) {
        EXPECT_TRUE(clock_set_by(v)) << v;
        EXPECT_EQ(ignored, "");
    }
    for (const char* v :
         {"+1796450637", " 1796450637", "1796450637x", "1e9", "-1", "253402300800"}) {
        EXPECT_FALSE(clock_set_by(v)) << '"' << v << '"';
        EXPECT_EQ(ignored, v);
    }
    EXPECT_FALSE(clock_set_by(""));
    EXPECT_EQ(ignored, "");
    ::unsetenv("SOURCE_DATE_EPOCH");
}

constexpr std::size_t BUFFER = OutFile::BUFFER_BYTES;

// Record k of the sample files: IDs, a count and two reals, wrapped at column 120.
const FreeLine& sample_record(FreeLine& line, int32_t k) {
    line.clear().i64(1000000000000 + k).i64(-k).i64(k * 7).i32(k).r32(static_cast<float>(k) / 7.0f);
    if (k % 3 == 0) line.r64(static_cast<double>(k) * 1e-9);
    return line;
}

// Records of several blocks, one of them longer than a whole block; at a fatal stop elsewhere
// the file is not closed, and what was recorded is still written.
TEST(OutFileBlocks, EveryByteInOrder) {
    for (const bool closed : {true, false}) {
        Scratch s;
        std::string want;
        {
            OutFile file;
            file.open(s.listing, s.path("ped.txt"));
            FreeLine line(true);
            for (int32_t k = 0; k < 40000; ++k) {
                file.record(sample_record(line, k));
                want += line.str() + "\n";
                if (k != 20000) continue;
                FreeLine big(true);
                while (big.str().size() <= BUFFER + 100) big.i64(k).r64(0.25);
                file.record(big);
                want += big.str() + "\n";
            }
            ASSERT_GT(want.size(), 3 * BUFFER);
            if (closed) file.close();
        }
        EXPECT_EQ(s.contents("ped.txt"), want);
        EXPECT_EQ(s.text(), "");
    }
}

// A record exactly filling what is left of the block, and one or two bytes longer.
TEST(OutFileBlocks, RecordsAtTheBufferEnd) {
    for (std::size_t extra : {0, 1, 2}) {
        Scratch s;
        OutFile file;
        file.open(s.listing, s.path("het.txt"));
        FreeLine first, second, third;
        file.record(first.text(std::string(BUFFER - 202, 'a')));  // 200 bytes left
        file.record(second.text(std::string(197 + extra, 'b')));  // 199 + extra bytes
        file.record(third.text("c"));
        file.close();
        EXPECT_EQ(s.contents("het.txt"),
                  first.str() + "\n" + second.str() + "\n" + third.str() + "\n");
    }
}

// Error files are read back after their records; the records stay in the file.
TEST(OutFileBlocks, ReadBackAfterManyBlocks) {
    Scratch s;
    OutFile file;
    file.open(s.listing, s.path("prob.err6"), true);
    FreeLine line(true);
    int32_t records = 0;
    std::size_t bytes = 0;
    for (; bytes < 2 * BUFFER + 12345; ++records) {
        file.record(
            line.clear().i64(records).i64(-records).i64(3 * records).flag(records % 2 == 0));
        bytes += line.str().size() + 1;
    }
    file.rewind_for_reading();
    std::string token;
    for (int32_t k = 0; k < records; ++k)
        for (const std::string& want :
             {std::to_string(k), std::to_string(-k), std::to_string(3 * k),
              std::string(k % 2 == 0 ? "T" : "F")}) {
            ASSERT_TRUE(file.read_value(token));
            ASSERT_EQ(token, want);
        }
    EXPECT_FALSE(file.read_value(token));
    file.close();
    EXPECT_EQ(s.contents("prob.err6").size(), bytes);
    EXPECT_EQ(s.text(), "");
}

// A write that fails stops the run with the listing lines, whether it happens when a full
// block is written or when the file is closed.
TEST(OutFileFailures, FullDeviceStops) {
    for (const int32_t records : {3, 100000}) {
        Scratch s;
        OutFile file;
        file.open(s.listing, "/dev/full");
        FreeLine line(true);
        try {
            for (int32_t k = 0; k < records; ++k) file.record(sample_record(line, k));
            file.close();
            ADD_FAILURE() << records << " records: no stop";
        } catch (const FatalStop& stop) {
            EXPECT_EQ(stop.status, STOP_CODE);
        }
        EXPECT_EQ(s.text(), "  \n Error when writing file /dev/full\n  \n Program terminates\n")
            << records << " records";
    }
}

}  // namespace
}  // namespace kinstrom
