// The tables and their ID index.
#include <gtest/gtest.h>

#include "capture.hpp"

#include <cstdio>
#include <limits>
#include <string>

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

}  // namespace
}  // namespace kinstrom
