// Output files: records written through the block buffer, read back, kept at a fatal stop,
// and write failures that stop the run.
#include <gtest/gtest.h>

#include "capture.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "listing/listing.hpp"
#include "listing/outfile.hpp"

namespace kinstrom {
namespace {

const RunDate SAMPLE_DATE{5, 12, 2026, 6, 3, 57};

// A fresh folder, removed with its files.
struct Folder {
    std::filesystem::path path;
    Folder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kinstrom-out-XXXXXX").string();
        EXPECT_NE(mkdtemp(pattern.data()), nullptr);
        path = pattern;
    }
    ~Folder() { std::filesystem::remove_all(path); }
    std::string file(const char* name) const { return (path / name).string(); }
};

std::string contents(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Record k of the sample files: IDs, a count and two reals, wrapped at column 120.
const FreeLine& sample_record(FreeLine& line, int32_t k) {
    line.clear().i64(1000000000000 + k).i64(-k).i64(k * 7).i32(k).r32(static_cast<float>(k) / 7.0f);
    if (k % 3 == 0) line.r64(static_cast<double>(k) * 1e-9);
    return line;
}

// Records of several buffers, one of them longer than a whole buffer.
TEST(OutFileBlocks, EveryByteInOrder) {
    Folder folder;
    Capture out;
    Listing listing(out.file, SAMPLE_DATE);
    OutFile file;
    file.open(listing, folder.file("ped.txt"));
    std::string want;
    FreeLine line(true);
    for (int32_t k = 0; k < 40000; ++k) {
        file.record(sample_record(line, k));
        want += line.str() + "\n";
        if (k == 20000) {
            FreeLine big(true);
            while (big.str().size() <= OutFile::BUFFER_BYTES + 100) big.i64(k).r64(0.25);
            file.record(big);
            want += big.str() + "\n";
        }
    }
    ASSERT_GT(want.size(), 3 * OutFile::BUFFER_BYTES);
    file.close();
    EXPECT_FALSE(file.is_open());
    EXPECT_EQ(contents(folder.file("ped.txt")), want);
    EXPECT_EQ(out.text(), "");
}

// A record exactly filling what is left of the buffer, and one a byte longer.
TEST(OutFileBlocks, RecordsAtTheBufferEnd) {
    for (std::size_t extra : {0, 1, 2}) {
        Folder folder;
        Capture out;
        Listing listing(out.file, SAMPLE_DATE);
        OutFile file;
        file.open(listing, folder.file("het.txt"));
        FreeLine first;
        first.text(std::string(OutFile::BUFFER_BYTES - 202, 'a'));  // 200 bytes left
        file.record(first);
        FreeLine second;
        second.text(std::string(197 + extra, 'b'));  // with blank and newline: 199 + extra
        file.record(second);
        FreeLine third;
        third.text("c");
        file.record(third);
        file.close();
        EXPECT_EQ(contents(folder.file("het.txt")),
                  first.str() + "\n" + second.str() + "\n" + third.str() + "\n");
    }
}

// Error files are read back after their records; the records stay in the file.
TEST(OutFileBlocks, ReadBackAfterManyBlocks) {
    Folder folder;
    Capture out;
    Listing listing(out.file, SAMPLE_DATE);
    OutFile file;
    file.open(listing, folder.file("prob.err6"), true);
    FreeLine line(true);
    int32_t records = 0;
    std::size_t bytes = 0;
    for (; bytes < 2 * OutFile::BUFFER_BYTES + 12345; ++records) {
        file.record(
            line.clear().i64(records).i64(-records).i64(3 * records).flag(records % 2 == 0));
        bytes += line.str().size() + 1;
    }
    file.rewind_for_reading();
    std::string token;
    for (int32_t k = 0; k < records; ++k) {
        ASSERT_TRUE(file.read_value(token));
        ASSERT_EQ(token, std::to_string(k));
        ASSERT_TRUE(file.read_value(token));
        ASSERT_EQ(token, std::to_string(-k));
        ASSERT_TRUE(file.read_value(token));
        ASSERT_EQ(token, std::to_string(3 * k));
        ASSERT_TRUE(file.read_value(token));
        ASSERT_EQ(token, k % 2 == 0 ? "T" : "F");
    }
    EXPECT_FALSE(file.read_value(token));
    file.close();
    EXPECT_EQ(contents(folder.file("prob.err6")).size(), bytes);
    EXPECT_EQ(out.text(), "");
}

// At a fatal stop elsewhere the files are not closed: what was recorded is still written.
TEST(OutFileBlocks, RecordsKeptWithoutClose) {
    Folder folder;
    Capture out;
    Listing listing(out.file, SAMPLE_DATE);
    std::string want;
    {
        OutFile file;
        file.open(listing, folder.file("prune.txt"));
        FreeLine line(true);
        for (int32_t k = 0; k < 30000; ++k) {
            file.record(sample_record(line, k));
            want += line.str() + "\n";
        }
    }
    EXPECT_EQ(contents(folder.file("prune.txt")), want);
}

TEST(OutFileBlocks, DiscardRemovesTheFile) {
    Folder folder;
    Capture out;
    Listing listing(out.file, SAMPLE_DATE);
    OutFile file;
    file.open(listing, folder.file("prob.err1"), true);
    FreeLine line(true);
    file.record(sample_record(line, 5));
    file.discard();
    EXPECT_FALSE(file.is_open());
    EXPECT_FALSE(std::filesystem::exists(folder.file("prob.err1")));
    EXPECT_EQ(out.text(), "");
}

const char* const STOP_LINES = "  \n Error when writing file /dev/full\n  \n Program terminates\n";

// A write that fails stops the run with the listing lines, whether it happens when a full
// buffer is written or when the file is closed.
TEST(OutFileFailures, FullDeviceStops) {
    if (std::FILE* probe = std::fopen("/dev/full", "w")) {
        std::fclose(probe);
    } else {
        GTEST_SKIP() << "no full device";
    }
    for (const int32_t records : {3, 100000}) {
        Capture out;
        Listing listing(out.file, SAMPLE_DATE);
        OutFile file;
        file.open(listing, "/dev/full");
        FreeLine line(true);
        bool stopped = false;
        try {
            for (int32_t k = 0; k < records; ++k) file.record(sample_record(line, k));
            file.close();
        } catch (const FatalStop& stop) {
            stopped = true;
            EXPECT_EQ(stop.status, STOP_CODE);
        }
        EXPECT_TRUE(stopped) << records << " records";
        EXPECT_FALSE(file.is_open());
        EXPECT_EQ(out.text(), STOP_LINES) << records << " records";
    }
}

TEST(OutFileFailures, FileThatCannotBeCreated) {
    Folder folder;
    Capture out;
    Listing listing(out.file, SAMPLE_DATE);
    OutFile file;
    const std::string name = folder.file("missing") + "/ped.txt";
    EXPECT_THROW(file.open(listing, name), FatalStop);
    EXPECT_FALSE(file.is_open());
    EXPECT_EQ(out.text(), "  \n Error when writing file " + name + "\n  \n Program terminates\n");
}

}  // namespace
}  // namespace kinstrom
