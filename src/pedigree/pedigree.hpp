// The pedigree as read: the tables, the breed proportions of the PHGs and the counts of the
// reading phase. Created once, read and written in place by every later phase.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "listing/idtexts.hpp"
#include "pedigree/store.hpp"

namespace kinstrom {

// B_PROP: the proportion of each base population in each PHG (column k for PHG_LIST position
// k). Without a breed-proportion file each PHG is a base population of its own, and the table
// is the unit table, which is not stored.
class BreedProportions {
  public:
    void create(Listing& listing, int32_t n_bpop, int32_t n_phg1);  // all 0
    void make_unit(int32_t n);

    // Proportion of base population b (1-based) in the PHG at position k.
    double at(int32_t b, int32_t k) const {
        if (unit_) return b == k ? 1.0 : 0.0;
        return values_[index(b, k)];
    }
    void set(int32_t b, int32_t k, double v) { values_[index(b, k)] = v; }
    // The stored proportions of the PHG at position k (not for the unit table).
    std::span<double> column(int32_t k) {
        return std::span<double>(values_).subspan(index(1, k), static_cast<std::size_t>(n_bpop_));
    }

  private:
    std::size_t index(int32_t b, int32_t k) const {
        return static_cast<std::size_t>(k) * static_cast<std::size_t>(n_bpop_) +
               static_cast<std::size_t>(b - 1);
    }
    std::vector<double> values_;
    int32_t n_bpop_ = 0;
    bool unit_ = false;
};

struct Pedigree {
    Table XLIST{"XLIST", 0};
    Table PHG_LIST{"PHG_LIST", 0};
    Table PHG_ERRLIST{"PHG_ERRLIST", 0};
    BreedProportions B_PROP;
    // Inbreeding coefficients by XLIST position, when computed (kept apart from the records,
    // which stay 32 bytes).
    std::vector<float> F;
    // The original IDs' texts when the pedigree was read as a table (XLIST IDs then number
    // them); empty in the classic format.
    IdTexts ids;

    int32_t N_PHG1 = 0;          // PHG places; after reading, the PHGs present
    int32_t N_BPOP = 0;          // base populations
    int32_t N_INS = 0;           // inserted parents
    int32_t N_PROB = 0;          // trace-file records found in the pedigree
    int32_t N_INDIVIDUALS = 0;   // distinct IDs of the pedigree file's first column
    int32_t N_PHG_PRINTED = 0;   // PHGs as the pedigree statistics count them
    int32_t DUMMY_POSITION = 0;  // PHG_LIST position of the dummy PHG, 0 until needed
    // Records of each input file, -1 until the file is read to its end.
    int32_t N_PED_RECORDS = -1;
    int32_t N_PROB_RECORDS = -1;
    int32_t N_BPROP_RECORDS = -1;

    // Sets `flag` on every individual at most `generations` generations back from one of
    // `sources` (breadth first, so along its shortest line); the sources themselves are left
    // as they are.
    void mark_ancestors(const std::vector<int32_t>& sources, int32_t generations,
                        uint8_t Record::*flag);

    // ID of a stored parent position: an individual, a PHG, or the sentinel for a missing PHG.
    int64_t parent_id(int32_t p) const {
        if (p > 0) return XLIST[p].ID;
        if (p < 0) return PHG_LIST[-p].ID;
        return SENTINEL_ID;
    }
};

}  // namespace kinstrom
