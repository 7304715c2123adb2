// Why individuals cannot be traced back to PHGs: pedigree loops (an individual among its own
// ancestors), lines of ancestry longer than MAX_NIV, and loops among the ancestors; and the
// message texts that tell a breeder what to correct.
//
// Reads XLIST (parents, MARKED). Only the individuals with positive IDs are counted, as tracing
// counts them. Runs in time linear in the pedigree, without recursion.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pedigree/pedigree.hpp"

namespace kinstrom {

// The loops kept with their members, and printed.
inline constexpr int32_t LOOPS_LISTED = 5;

// A member of a loop: its XLIST position, and how it is reached from the member before it
// ("sire" or "dam" of it; for the first member, of the last one, which closes the loop).
struct LoopStep {
    int32_t position = 0;
    std::string_view reached_as;
};

struct UntraceableCauses {
    // At most LOOPS_LISTED loops, in increasing order of their lowest position; each starts at
    // that position and goes round the loop along the fewest individuals (sire before dam).
    std::vector<std::vector<LoopStep>> loops;
    // Distinct loops: strongly connected parts of the parent graph with a cycle in them (an
    // individual that is its own parent makes one).
    int32_t n_loops = 0;
    // Individuals on a loop.
    int32_t on_loop = 0, on_loop_marked = 0;
    // Individuals with no loop among their ancestors whose longest line back to the PHGs has
    // more than MAX_NIV individuals on it, the individual included.
    int32_t too_long = 0, too_long_marked = 0;
    // The smallest MAX_NIV with which every marked individual without a loop among its
    // ancestors is traceable: the longest line of those individuals; 0 when there are none.
    int32_t depth_needed = 0;
    // Individuals not on a loop with an ancestor on one.
    int32_t below_loop = 0, below_loop_marked = 0;
};

UntraceableCauses untraceable_causes(const Pedigree& pedigree, int32_t MAX_NIV);

// The IDs of the members of the loops kept, loop after loop, each loop from its first member:
// the order of the line numbers untraceable_messages takes.
std::vector<int64_t> loop_member_ids(const UntraceableCauses& causes, const Pedigree& pedigree);

// For each of `ids` the physical line (from 1) of the first record of the total pedigree file
// (its whole `text`) with that ID as its first value; 0 when there is none. Reading ends at a
// record that cannot be read, as the reading phase does.
std::vector<int64_t> record_lines(std::string_view text, const std::vector<int64_t>& ids);

// The messages, one line each: the loops kept (a member's line in the pedigree file given
// where `lines_of_loop_members`, in the order of loop_member_ids, holds one that is not 0), the
// number of loops, the individuals on loops, those below a loop, and those whose lines are
// too long, with the MAX_NIV they need.
std::vector<std::string> untraceable_messages(const UntraceableCauses& c, const Pedigree& p,
                                              const std::vector<int64_t>& lines_of_loop_members,
                                              int32_t MAX_NIV);

}  // namespace kinstrom
