// Genetic values of the traced pedigree: known generations, inbreeding coefficients, the
// base-population vectors of the ancestor walk, the genomes each PHG gives (BIDRAG), and the
// keep marks and link counts that pruning reads.
//
// The values are those of recursive walks over every line of each ancestry, computed here once
// per individual (or per pair of individuals) in parents-first order, with explicit stacks:
// the cost grows about linearly with the pedigree and no recursion grows with its depth.
// Requires a traced pedigree whose every ancestry ends in PHGs (the preconditions hold).
#pragma once

#include <cstdint>
#include <vector>

#include "listing/progress.hpp"
#include "pedigree/pedigree.hpp"

namespace kinstrom {

// P_HALVE: entry g holds 0.5 to the power g for g = 0 .. MAX_NIV. Entries past the last one
// stored are exactly 0 in double precision and are not stored.
class HalvingTable {
  public:
    explicit HalvingTable(int32_t max_niv);
    double operator[](int32_t g) const {
        return static_cast<std::size_t>(g) < values_.size() ? values_[static_cast<std::size_t>(g)]
                                                            : 0.0;
    }

  private:
    std::vector<double> values_;
};

// The traced individuals in the post-order of a depth-first visit started at positions 1, 2,
// ..., LASTIL, sire before dam: every individual after both its parents. rank[p] is p's place
// in that order (from 1), 0 outside the traced pedigree.
struct TracedOrder {
    std::vector<int32_t> order;
    std::vector<int32_t> rank;
};
TracedOrder traced_order(const Pedigree& pedigree);

// Known generations of each traced individual (K_GEN_S + K_GEN_D), indexed by position.
std::vector<float> known_generations(const Pedigree& pedigree, const TracedOrder& order,
                                     const HalvingTable& P_HALVE);

// How the inbreeding phase runs; the coefficients are the same bits whatever is chosen.
struct InbreedingSettings {
    unsigned threads = 0;           // 0: KINSTROM_THREADS, else the available processors
    std::size_t cache_entries = 0;  // relationships remembered; 0: 16 per traced individual
};

// Stores F of every traced individual: half the relationship of its sire and dam by the
// recursive rule, the individual of higher rank taken as the younger.
void inbreeding_coefficients(Pedigree& pedigree, const TracedOrder& order, Progress& progress,
                             const InbreedingSettings& settings = {});

// Base-population vector (N_BPOP 32-bit reals) of the walk at each traced individual:
// the mean of its parents' vectors, a PHG's vector being its breed proportions. Row p holds
// position p.
struct WalkVectors {
    int32_t N_BPOP = 0;
    std::vector<float> values;
    const float* at(int32_t p) const {
        return values.data() + static_cast<std::size_t>(p) * static_cast<std::size_t>(N_BPOP);
    }
};
WalkVectors walk_vectors(const Pedigree& pedigree, const TracedOrder& order);
// The vector a walk returns at parent position p (an individual, or the PHG -p).
void parent_vector(const Pedigree& pedigree, const WalkVectors& walk, int32_t p, double* out);

// BIDRAG: for each PHG k (1 .. N_PHG1), the sum over the walks of all traced individuals
// (column 1) and of the marked ones (column 2) of one half to the power of the level at which
// a walk arrives at k.
struct Bidrag {
    std::vector<double> all;     // all[k]
    std::vector<double> marked;  // marked[k]
};
Bidrag phg_genomes(const Pedigree& pedigree, const TracedOrder& order);

// Keep marks and link counts of the walks: KEEP for every ancestor at most GPRUNE generations
// back from a marked traced individual; FIRST_OFFSPRING and N_LINKS as the walks leave them,
// as far as pruning reads them (whether N_LINKS reaches 2).
void keep_marks_and_links(Pedigree& pedigree, int32_t GPRUNE);

}  // namespace kinstrom
