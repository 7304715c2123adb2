// The tables and their ID index.
#include <gtest/gtest.h>

#include "capture.hpp"

#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "pedigree/store.hpp"

namespace kinstrom {
namespace {

// A listing into a temporary file, read back as text.
struct Captured : Capture {
    Listing listing{file, RunDate{}};
};

TEST(Llist, PositionsInOrderOfInsertion) {
    Captured c;
    Table t("XLIST", 10);
    int32_t NEW = -1;
    const int64_t ids[] = {42, -42, 7, std::numeric_limits<int64_t>::max(), -9223372036854775807LL};
    for (int32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(llist(c.listing, ids[i], t, 1, NEW), i + 1);
        EXPECT_EQ(NEW, 1);
    }
    EXPECT_EQ(t.LAST, 5);
    // Found again, unchanged, whatever the order.
    for (int32_t i = 4; i >= 0; --i) {
        EXPECT_EQ(llist(c.listing, ids[i], t, 1, NEW), i + 1);
        EXPECT_EQ(NEW, 0);
        EXPECT_EQ(llist(c.listing, ids[i], t, 0, NEW), i + 1);
        EXPECT_EQ(t[i + 1].ID, ids[i]);
    }
    // A lookup of a missing ID returns 0 with NEW = 1 and leaves the table alone.
    EXPECT_EQ(llist(c.listing, 43, t, 0, NEW), 0);
    EXPECT_EQ(NEW, 1);
    EXPECT_EQ(t.LAST, 5);
    EXPECT_EQ(c.text(), "");
}

TEST(Llist, ManyKeysThroughIndexGrowth) {
    Captured c;
    Table t("XLIST", 100000);
    int32_t NEW = 0;
    for (int32_t i = 1; i <= 100000; ++i)
        ASSERT_EQ(llist(c.listing, int64_t{i} * 1000003 - 50000000, t, 1, NEW), i);
    for (int32_t i = 100000; i >= 1; i -= 7)
        ASSERT_EQ(llist(c.listing, int64_t{i} * 1000003 - 50000000, t, 0, NEW), i);
}

TEST(Llist, CapacityEnforcedExactly) {
    Captured c;
    Table t("PHG_LIST", 3);
    int32_t NEW = 0;
    for (int64_t id = -1; id >= -3; --id) llist(c.listing, id, t, 1, NEW);
    EXPECT_EQ(t.LAST, 3);
    EXPECT_EQ(llist(c.listing, -2, t, 1, NEW), 2);  // present: no overflow
    EXPECT_THROW(llist(c.listing, -4, t, 1, NEW), FatalStop);
    EXPECT_EQ(c.text(),
              " DIMENSION PROBLEM A LIST IN LLIST\n"
              " LIST OF DIMENSION            3 MUST BE ENLARGED\n"
              " COMPUTATIONS ABORTED\n");
}

TEST(Llist, UnstorableId) {
    Captured c;
    Table t("XLIST", 3);
    int32_t NEW = 0;
    EXPECT_THROW(llist(c.listing, std::numeric_limits<int64_t>::min(), t, 0, NEW), FatalStop);
    std::string expected = " BITSTR ERROR" + std::string(2, ' ') + "-9223372036854775808" +
                           std::string(2, ' ') + "-9223372036854775808";
    for (int i = 0; i < 65; ++i) expected += std::string(11, ' ') + "0";
    EXPECT_EQ(c.text(), expected + "\n");
}

TEST(Bitstr64, DigitsOfAbsoluteValue) {
    std::array<int32_t, 64> IBIT{};
    EXPECT_EQ(bitstr64(5, IBIT), 0);
    EXPECT_EQ(IBIT[0], 1);
    EXPECT_EQ(IBIT[1], 0);
    EXPECT_EQ(IBIT[2], 1);
    EXPECT_EQ(bitstr64(-5, IBIT), 0);
    EXPECT_EQ(IBIT[0] + IBIT[1] + IBIT[2], 2);
    EXPECT_EQ(bitstr64(std::numeric_limits<int64_t>::max(), IBIT), 0);
    for (int k = 0; k < 63; ++k) EXPECT_EQ(IBIT[static_cast<std::size_t>(k)], 1);
    EXPECT_EQ(IBIT[63], 0);
    // -2^63 takes no digit and is left over whole.
    EXPECT_EQ(bitstr64(std::numeric_limits<int64_t>::min(), IBIT),
              std::numeric_limits<int64_t>::min());
    for (const int32_t digit : IBIT) EXPECT_EQ(digit, 0);
}

TEST(Table, SentinelAndNegativePositions) {
    Captured c;
    Table t("XLIST", 5);
    t[0].ID = SENTINEL_ID;
    int32_t NEW = 0;
    llist(c.listing, 99, t, 1, NEW);
    EXPECT_EQ(t.at(0).ID, SENTINEL_ID);
    EXPECT_EQ(t.at(1).ID, 99);
    EXPECT_EQ(t.at(-3).ID, 0);
    EXPECT_EQ(t.at(-3).SIRE, 0);
    // The sentinel is not in the index.
    EXPECT_EQ(llist(c.listing, SENTINEL_ID, t, 0, NEW), 0);
}

// Many IDs at once give what llist gives one ID after another: the same positions, records,
// SORT values and lookups, through growth of the index (the tables start without room), taken
// in order or grouped by part of the index.
TEST(TableBatches, SameAsOneAfterAnother) {
    Captured c;
    std::mt19937_64 rng(7);
    for (const int64_t range : {int64_t{50}, int64_t{5000}, int64_t{1} << 40})
        for (const int grouped_from_bits : {0, 12, 22}) {
            Table batched("XLIST", 100000);
            batched.grouped_from_bits = grouped_from_bits;
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
            for (int32_t p = 1; p <= single.LAST; ++p) {
                ASSERT_EQ(batched[p].ID, single[p].ID);
                ASSERT_EQ(batched[p].SORT, single[p].SORT);
            }
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

// A full table and an ID that cannot be stored stop at the same ID as with llist, the records
// before it entered.
TEST(TableBatches, StopsWhereOneAfterAnotherStops) {
    const int64_t unstorable = std::numeric_limits<int64_t>::min();
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
        for (const int grouped_from_bits : {0, 22}) {
            std::string expected;
            for (const bool batched : {false, true}) {
                Captured c;
                Table t("XLIST", 3);
                t.grouped_from_bits = grouped_from_bits;
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
                EXPECT_EQ(c.text().find("DIMENSION PROBLEM") != std::string::npos, row.full);
                EXPECT_EQ(c.text().find("BITSTR ERROR") != std::string::npos, !row.full);
                if (batched) {
                    EXPECT_EQ(c.text(), expected);
                } else {
                    expected = c.text();
                }
            }
        }
}

}  // namespace
}  // namespace kinstrom
