// Ancestor tracing: which individuals make up the traced pedigree, and which individuals can
// not be traced back to PHGs within MAX_NIV generations; and the output order of the PHGs.
//
// Reads XLIST (parents, MARKED). Writes TRACED, ERROR(6), ERROR(7) and kind-6 records.
// An individual is traceable when every line of its ancestry reaches a PHG (or a missing PHG)
// with at most MAX_NIV individuals on it, itself included; a loop makes it untraceable. The
// traced pedigree is the marked individuals (with positive IDs) and their ancestors at most
// MAX_NIV generations back. Both are found in time linear in the pedigree, without recursion.
#pragma once

#include <cstdint>
#include <vector>

#include "pedigree/errors.hpp"
#include "pedigree/pedigree.hpp"

namespace kinstrom {

// Longest line of individuals from each position to a PHG, the individual included, for
// positions 0 .. LASTIL (0 for position 0); LINE_LOOP when a line never ends.
inline constexpr int32_t LINE_LOOP = INT32_MAX;
std::vector<int32_t> line_lengths(const Pedigree& pedigree);

void trace_pedigree(int32_t MAX_NIV, Pedigree& pedigree, ErrorFiles& errors);

// IW2: the PHG_LIST positions in descending order of PHG ID, IW2[1 .. N_PHG1] (IW2[0] unused).
std::vector<int32_t> phg_output_order(Listing& listing, const Pedigree& pedigree);

}  // namespace kinstrom
