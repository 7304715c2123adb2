// The traced pedigree written out: renumbering and the order of the PHGs, the output loop
// (.PED), the PHG loop (.PHG_RENUM), pruning (.PRUNE).
//
// Reads XLIST (TRACED, MARKED, KEEP, parents), PHG_LIST. Writes IN_PED, KEEP, F, the link
// fields, and prunes the parents of written .PRUNE records.
#pragma once

#include <cstdint>
#include <vector>

#include "genetics/genetics.hpp"
#include "listing/outfile.hpp"
#include "listing/progress.hpp"
#include "pedigree/pedigree.hpp"

namespace kinstrom {

// Heapsort of keys[1..n] into ascending order, companions moved alike (index 0 unused).
void isort64(int32_t n, std::vector<int64_t>& keys, std::vector<int64_t>& companions);

// The value written for a parent field p: p itself with renumbered IDs (OPT2 = 2), otherwise
// the ID of the individual or PHG (-999999997 for 0).
int64_t parent_value(const Pedigree& pedigree, int32_t p, int32_t OPT2);

struct OutputOptions {
    int32_t OPT1 = 1;
    int32_t OPT2 = 1;
    int32_t GPRUNE = 0;
    bool inbreeding = false;  // requested and no kind-8 error
    bool use_bprop = false;
};

struct OutputFiles {
    OutFile& PED;
    OutFile& PRUNE;
    OutFile& PHG_RENUM;
    OutFile& BCONTRIB;
    OutFile& HET;
};

// Running sums of the contributions (per base population) and heterozygosities (per pair)
// written to .BCONTRIB and .HET.
struct BreedSums {
    std::vector<double> ANDEL_SUM, ANDEL_SSQ, MIN_ANDEL, MAX_ANDEL;
    std::vector<int32_t> N_ANDEL;
    std::vector<double> HET_S, HET_SS, MIN_HET, MAX_HET;
    std::vector<int32_t> N_HET;
    int32_t NIN_BCONTRIB = 0;
    int32_t NIN_HET = 0;
};

// A contribution or heterozygosity is written and counted above 1.0E-13 in single precision.
inline const double WRITE_THRESHOLD = static_cast<double>(1.0e-13f);

// What the output stage leaves for the closing reports.
struct OutputResults {
    std::vector<int64_t> IW2;     // PHG positions in output order, IW2[1 .. N_PHG1]
    std::vector<int32_t> ND_PHG;  // ND_PHG[2 * k + 0] as sire, [2 * k + 1] as dam, k = 1 ..
    TracedOrder order;            // the traced individuals, parents first
    std::vector<float> K_GEN;     // known generations by position
    Bidrag BIDRAG;
    BreedSums sums;  // with OPT1 = 2
    int32_t ANTAL1 = 0;
    int32_t NIN_PED = 0;
    int32_t NIN_PRUNE = 0;
    int32_t NIN_PHG_RENUM = 0;
};

// Orders the PHGs, computes the genetic values and writes .PED.
void write_traced_pedigree(Listing& listing, const OutputOptions& options,
                           const HalvingTable& P_HALVE, Pedigree& pedigree, OutputFiles files,
                           OutputResults& results, Progress& progress);

// The .PHG_RENUM record of PHG k.
void write_phg_renumbering(const Pedigree& pedigree, int32_t k, OutFile& PHG_RENUM);

// Prunes the traced pedigree and writes .PRUNE.
void write_pruned_pedigree(const OutputOptions& options, Pedigree& pedigree, OutputFiles files,
                           OutputResults& results);

}  // namespace kinstrom
