// The eight error files and their counters. The checks of the input append records here; the
// error reports read them back.
//
// Record layouts (free-format records, wrapped at column 120):
//   1: obs. number, PHG ID, the proportions of this record, the proportions stored first
//   2: obs. number, ID, sire and dam ID of this record, sire and dam ID of the first appearance
//   3: obs. number, ID, parent number (1 sire, 2 dam), ID of the inserted parent
//   4: obs. number, ID, sire ID, dam ID
//   5: obs. number, ID
//   6: ID, sire ID, dam ID, marked for tracing (flag)
//   7: PHG ID, ID of the first individual naming it, 1 (as sire) or 2 (as dam)
//   8: obs. number, ID, sort value, parent number, parent ID, parent's sort value; a value out
//      of range has 0 in the last three (all three written as 32-bit integers)
// An ID field holds the original ID: with texts (see IdTexts), the text of an individual or the
// integer of a PHG code, right-justified in a field widened to hold the longest text.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "listing/outfile.hpp"

namespace kinstrom {

inline constexpr int ERROR_KINDS = 8;

struct ErrorFiles {
    std::array<OutFile, ERROR_KINDS> files;        // files[k - 1] holds kind k
    std::array<int32_t, ERROR_KINDS + 1> ERROR{};  // ERROR[1] .. ERROR[8]

    // The texts of the original IDs, shown in every ID field; empty in the classic format.
    const IdTexts* ids = nullptr;

    OutFile& file(int kind) { return files[static_cast<std::size_t>(kind - 1)]; }
    // The texts shown: those of `ids`, none when it is null.
    const IdTexts& texts() const;

    // Record writers; the callers keep the counters.
    void repeated_phg(int32_t nobs, int64_t phg, std::span<const double> read,
                      std::span<const double> stored);
    void repeated_record(int32_t nobs, int64_t id, int64_t sire, int64_t dam, int64_t first_sire,
                         int64_t first_dam);
    void inserted_parent(int32_t nobs, int64_t id, int32_t parent, int64_t parent_id);
    void inconsistent(int32_t nobs, int64_t id, int64_t sire, int64_t dam);
    void not_in_pedigree(int32_t nobs, int64_t id);
    void untraceable(int64_t id, int64_t sire, int64_t dam, bool marked);
    void missing_phg(int64_t phg, int64_t first_id, int32_t parent);
    void date_out_of_range(int32_t nobs, int64_t id, int32_t value);
    void date_against_parent(int32_t nobs, int64_t id, int32_t value, int32_t parent,
                             int64_t parent_id, int32_t parent_value);

  private:
    FreeLine line_{true};
};

}  // namespace kinstrom
