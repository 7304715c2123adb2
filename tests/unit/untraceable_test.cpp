// The causes of untraceable individuals against tracing itself (loops, lines longer than
// MAX_NIV, loops among the ancestors); the lines of records in a pedigree file; the messages.
#include <gtest/gtest.h>

#include "capture.hpp"

#include <array>
#include <random>
#include <string>
#include <vector>

#include "pedigree/errors.hpp"
#include "trace/tracing.hpp"
#include "trace/untraceable.hpp"

namespace kinstrom {
namespace {

constexpr int32_t P = -1;                             // the one PHG; 0 is a missing PHG
using Parents = std::vector<std::array<int32_t, 2>>;  // sire and dam of positions 1, 2, ...
// Loops at 1 and at 7 and 8, 2 below one, and a line of 4 from 3 to 6.
const Parents MIX = {{1, P}, {P, 1}, {P, P}, {3, P}, {4, 3}, {5, 0}, {8, P}, {P, 7}};

// Position i holds ID 1000 + i. Checks that each individual tracing finds untraceable has one
// cause, and that each loop member is the parent it is said to be of the member before it.
UntraceableCauses causes(Pedigree& p, const Parents& parents, const std::vector<int32_t>& marked,
                         int32_t MAX_NIV, int32_t* error7 = nullptr) {
    Scratch cap;
    const auto n = static_cast<int32_t>(parents.size());
    p.XLIST = Table("XLIST", n);
    p.XLIST[0].ID = SENTINEL_ID;
    p.PHG_LIST = Table("PHG_LIST", 1);
    int32_t NEW = 0;
    llist(cap.listing, P, p.PHG_LIST, 1, NEW);
    for (int32_t i = 1; i <= n; ++i) {
        llist(cap.listing, 1000 + i, p.XLIST, 1, NEW);
        p.XLIST[i].SIRE = parents[i - 1][0], p.XLIST[i].DAM = parents[i - 1][1];
    }
    for (const int32_t i : marked) p.XLIST[i].MARKED = FLAG_TRUE;
    ErrorFiles errors;
    errors.file(6).open(cap.listing, cap.path("kind6"), true);
    trace_pedigree(MAX_NIV, p, errors);
    const UntraceableCauses c = untraceable_causes(p, MAX_NIV);
    EXPECT_EQ(c.on_loop + c.below_loop + c.too_long, errors.ERROR[6]);
    EXPECT_EQ(c.on_loop_marked + c.below_loop_marked + c.too_long_marked, errors.ERROR[7]);
    for (const auto& loop : c.loops)
        for (std::size_t k = 0; k < loop.size(); ++k) {
            const Record& before = p.XLIST[loop[(k + loop.size() - 1) % loop.size()].position];
            EXPECT_EQ(loop[k].reached_as == "sire" ? before.SIRE : before.DAM, loop[k].position);
        }
    if (error7 != nullptr) *error7 = errors.ERROR[7];
    return c;
}

TEST(Untraceable, CausesOfSmallPedigrees) {
    const struct {
        const char* name;
        Parents parents;
        std::vector<int32_t> marked;
        int32_t MAX_NIV;
        std::array<int32_t, 8> counts;  // loops; on one, marked; too long, marked; depth needed;
        std::string loops;              // below one, marked. Loops as printed, joined by "; ".
    } rows[] = {
        // clang-format off
        {"self-parent", {{1, P}}, {1}, 25, {1, 1, 1, 0, 0, 0, 0, 0}, "1001 -> sire 1001"},
        {"two-individual loop", {{P, 2}, {1, P}}, {2}, 25, {1, 2, 1, 0, 0, 0, 0, 0},
         "1001 -> dam 1002 -> sire 1001"},
        {"loop and descendants", {{2, P}, {3, P}, {P, 1}, {1, P}, {4, 6}, {P, P}}, {5}, 25,
         {1, 3, 0, 0, 0, 0, 2, 1}, "1001 -> sire 1002 -> sire 1003 -> dam 1001"},
        {"line of MAX_NIV", {{P, P}, {1, P}, {P, 2}}, {3}, 3, {0, 0, 0, 0, 0, 3, 0, 0}, ""},
        {"line past MAX_NIV", {{P, P}, {1, P}, {P, 2}}, {3}, 2, {0, 0, 0, 1, 1, 3, 0, 0}, ""},
        {"two cycles, one loop", {{2, 3}, {3, P}, {P, 1}}, {}, 9, {1, 3, 0, 0, 0, 0, 0, 0},
         "1001 -> dam 1003 -> dam 1001"},
        {"mix", MIX, {2, 5, 6}, 2, {2, 3, 0, 2, 2, 4, 1, 1},
         "1001 -> sire 1001; 1007 -> sire 1008 -> dam 1007"},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Pedigree p;
        const UntraceableCauses c = causes(p, row.parents, row.marked, row.MAX_NIV);
        EXPECT_EQ((std::array{c.n_loops, c.on_loop, c.on_loop_marked, c.too_long, c.too_long_marked,
                              c.depth_needed, c.below_loop, c.below_loop_marked}),
                  row.counts);
        std::string loops;
        for (const std::string& m : untraceable_messages(c, p, {}, row.MAX_NIV)) {
            if (!m.starts_with("pedigree loop: ")) continue;
            if (!loops.empty()) loops += "; ";
            loops += m.substr(15);
        }
        EXPECT_EQ(loops, row.loops);
    }
}

// Random pedigrees, every other one with loops: from the depth needed on, and only from there,
// tracing finds no marked individual untraceable but those on or below a loop.
TEST(Untraceable, DepthNeededIsTheSmallestSufficientMaxNiv) {
    std::mt19937 rng(20260512);
    const auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution(lo, hi)(rng); };
    for (int round = 0; round < 100; ++round) {
        const int32_t n = pick(1, 12);
        Parents parents(static_cast<std::size_t>(n));
        std::vector<int32_t> marked;
        for (int32_t i = 1; i <= n; ++i) {
            for (int32_t& x : parents[i - 1])
                x = pick(0, 2) == 0 ? P : round % 2 == 1 ? pick(1, n) : i > 1 ? pick(1, i - 1) : 0;
            if (pick(0, 2) == 0) marked.push_back(i);
        }
        for (int32_t m = 0, depth = 0; m <= n + 1; ++m) {
            Pedigree p;
            int32_t error7 = 0;
            const UntraceableCauses c = causes(p, parents, marked, m, &error7);
            if (m == 0) depth = c.depth_needed;
            EXPECT_EQ(c.depth_needed, depth);
            EXPECT_EQ(error7 == c.on_loop_marked + c.below_loop_marked, m >= depth)
                << "round " << round << ", MAX_NIV " << m;
        }
    }
}

TEST(Untraceable, RecordLinesCountBlankLinesAndRecordsOverLineEnds) {
    const std::string text =
        "\n1001 -1 -1 19900101\n\n  \r\n1002 1001\n\n  -1 19910101\n1003,1002,-1,19920101\r\n"
        "1002 0 0 0";
    EXPECT_EQ(record_lines(text, {1003, 1002, 9999, 1001, 1003}),
              (std::vector<int64_t>{8, 5, 0, 2, 8}));
}

TEST(Untraceable, Messages) {
    Pedigree p;
    const UntraceableCauses c = causes(p, MIX, {2, 5, 6}, 2);
    EXPECT_EQ(loop_member_ids(c, p), (std::vector<int64_t>{1001, 1007, 1008}));
    EXPECT_EQ(untraceable_messages(c, p, {2, 0, 9}, 2),
              (std::vector<std::string>{
                  "pedigree loop: 1001 (line 2) -> sire 1001",
                  "pedigree loop: 1007 -> sire 1008 (line 9) -> dam 1007",
                  "2 pedigree loops in all; an individual cannot be its own ancestor: correct the "
                  "parents of one individual in each loop",
                  "3 individuals (0 marked for tracing) are on pedigree loops",
                  "1 individual (1 marked for tracing) cannot be traced only because an ancestor "
                  "is on a pedigree loop",
                  "2 individuals (2 marked for tracing) have lines back to the PHGs longer than "
                  "MAX_NIV=2: set MAX_NIV to at least 4"}));
}

}  // namespace
}  // namespace kinstrom
