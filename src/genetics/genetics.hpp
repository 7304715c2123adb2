// The genetics phase: known generations, inbreeding coefficients, the base-population
// contributions and heterozygosities of the ancestor walks, the genomes each PHG gives (BIDRAG),
// and the keep marks and link counts that pruning reads. The driver calls it; the writers of the
// output stage only write what it computes.
//
// The values are those of recursive walks over every line of each ancestry, computed here once
// per individual (or per pair of individuals) in parents-first order, with explicit stacks:
// the cost grows about linearly with the pedigree and no recursion grows with its depth.
// Requires a traced pedigree whose every ancestry ends in PHGs (the preconditions hold).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "listing/listing.hpp"
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
// in that order (from 1), 0 outside the traced pedigree; depth[p] the longest line of traced
// individuals from p back to the PHGs, p included (its generation: 1 for an individual whose
// parents are PHGs), 0 outside the traced pedigree.
struct TracedOrder {
    std::vector<int32_t> order;
    std::vector<int32_t> rank;
    std::vector<int32_t> depth;
    int32_t deepest = 0;
};
TracedOrder traced_order(const Pedigree& pedigree);

// Known generations of each traced individual (K_GEN_S + K_GEN_D), indexed by position.
std::vector<float> known_generations(const Pedigree& pedigree, const TracedOrder& order,
                                     const HalvingTable& P_HALVE);

// The processors this process may run on (1 to 64; 1 when that is unknown).
unsigned usable_processors();

// How the inbreeding phase runs, chosen by the caller; the coefficients are the same bits
// whatever is chosen. The defaults are the ones to run with.
struct InbreedingSettings {
    unsigned threads = 0;  // 0: the processors the run may use
    // Relationships the cache remembers; 0: cache_per_individual per traced individual.
    std::size_t cache_entries = 0;
    // Matings each thread walks at once (0 counts as 1): a walk that needs lines from memory asks
    // for them and lets the next walk go on meanwhile.
    unsigned walks = 8;
    std::size_t cache_per_individual = 22;
    // The cache takes at most this share of the machine's memory: 4, a quarter (0 counts as 1).
    unsigned cache_memory_share = 4;
};

// What the inbreeding phase did: the relationships it computed (a pair the cache forgot and
// the recursion met again counts again), the threads and the cache entries it had.
struct InbreedingWork {
    uint64_t relationships = 0;
    unsigned threads = 0;
    std::size_t cache_entries = 0;
};

// Stores F of every traced individual: half the relationship of its sire and dam by the
// recursive rule, the individual of higher rank taken as the younger.
InbreedingWork inbreeding_coefficients(Pedigree& pedigree, const TracedOrder& order,
                                       Progress& progress, const InbreedingSettings& settings = {});

// Base-population vectors (N_BPOP 32-bit reals) of the walks: at a traced individual the mean
// of its parents' vectors, at a PHG its breed proportions. A vector is made when first needed
// and freed after its last use, so that only those of individuals with offspring still to be
// written are held: the output loop runs in position order, which in a pedigree file sorted by
// birth keeps a window of parents, not the whole pedigree.
class WalkVectors {
  public:
    WalkVectors(const Pedigree& pedigree, const TracedOrder& order);

    // The vectors the walks return at the sire and at the dam of traced individual i. Each
    // traced individual is asked for once, in any order.
    void parents(int32_t i, double* sire, double* dam);

  private:
    float* slot(int32_t k) {
        return chunks_[static_cast<std::size_t>(k) / CHUNK].get() +
               static_cast<std::size_t>(k) % CHUNK * n_;
    }
    void make(int32_t p);
    void parent(int32_t p, double* out);
    void used(int32_t p);

    static constexpr std::size_t CHUNK = 4096;
    const Pedigree& pedigree_;
    std::size_t n_;
    std::vector<int32_t> uses_;  // uses left of each individual's vector
    std::vector<int32_t> slot_;  // where it is held, -1 while it is not
    std::vector<std::unique_ptr<float[]>> chunks_;
    std::vector<int32_t> free_;
    int32_t slots_ = 0;
    std::vector<int32_t> stack_;
    std::vector<float> vs_, vd_;
};

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

// What the genetics phase leaves for the output stage and the closing reports.
struct GeneticValues {
    TracedOrder order;
    std::vector<float> K_GEN;  // known generations by position
    Bidrag BIDRAG;
};

// The genetics phase up to the inbreeding coefficients: the parents-first order, the keep
// marks and link counts for pruning, the known generations and the PHG genomes.
GeneticValues genetic_values(Listing& listing, Pedigree& pedigree, const HalvingTable& P_HALVE,
                             int32_t GPRUNE);

// Breed contributions of the traced individuals, asked for one individual at a time in any
// order (see WalkVectors): ANDEL, the mean of the parents' base-population vectors, and HET,
// the heterozygosity for each pair of base populations (1, 2), (1, 3), ..., (N_BPOP - 1,
// N_BPOP).
class BreedValues {
  public:
    BreedValues(Listing& listing, const Pedigree& pedigree, const TracedOrder& order);
    void of(int32_t i);

    std::vector<double> ANDEL;
    std::vector<double> HET;

  private:
    WalkVectors walk_;
    std::vector<double> ANDEL_S, ANDEL_D;
};

}  // namespace kinstrom
