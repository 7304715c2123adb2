// The output stage: every file the run writes after its input is read. The kind-7 error file
// (PHGs without breed proportions), .PED with .BCONTRIB and .HET, .PHG_RENUM and .PRUNE. The
// values come from the genetics phase; this stage only lays them out and keeps the counts the
// closing reports print.
//
// Reads XLIST (TRACED, MARKED, KEEP, parents), PHG_LIST, PHG_ERRLIST. Writes IN_PED and KEEP,
// and clears the parents of .PRUNE records that are not kept. Fatal stops: write failures of
// its files, allocation failures.
#pragma once

#include <cstdint>
#include <vector>

#include "genetics/genetics.hpp"
#include "listing/outfile.hpp"
#include "listing/progress.hpp"
#include "pedigree/errors.hpp"
#include "pedigree/pedigree.hpp"

namespace kinstrom {

struct OutputOptions {
    bool contributions = false;    // OPT1 = 2: .BCONTRIB and .HET
    bool renumbered = false;       // OPT2 = 2: renumbered IDs in .PED, .HET and .PRUNE
    bool phg_renumbering = false;  // .PHG_RENUM is open (written without a breed-proportion file)
    bool inbreeding = false;       // requested and no kind-8 error
    bool use_bprop = false;
    unsigned threads = 0;  // 1: one thread only; 0: the processors the run may use
    // With contributions: the contributions are also added up by group, groups[i] being the
    // group of position i (-1: none), n_groups groups.
    const std::vector<int32_t>* groups = nullptr;
    std::size_t n_groups = 0;
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

// A contribution or heterozygosity is written and counted above 1.0E-13 taken in single
// precision (9.9999998E-14): the threshold is a 32-bit real.
inline const double WRITE_THRESHOLD = static_cast<double>(1.0e-13f);

// What the output stage leaves for the closing reports.
struct OutputResults {
    std::vector<int32_t> ND_PHG;     // ND_PHG[2 * k + 0] as sire, [2 * k + 1] as dam, k = 1 ..
    BreedSums sums;                  // with contributions
    std::vector<double> group_sums;  // N_BPOP sums of contributions per group of the options
    int32_t ANTAL1 = 0;
    int32_t NIN_PED = 0;
    int32_t NIN_PRUNE = 0;
    int32_t NIN_PHG_RENUM = 0;
};

// Whether PHG k stands in the PHG tables: marked, and a direct parent of a traced individual.
bool phg_in_tables(const Pedigree& pedigree, const OutputResults& results, int32_t k);

// Kind-7 records: one per PHG code missing from the breed-proportion file.
void write_missing_phgs(const Pedigree& pedigree, ErrorFiles& errors);

// .PED and, with contributions, .BCONTRIB and .HET, in position order; counts the direct links
// of the PHGs, and adds up the contributions by the options' groups.
void write_traced_pedigree(Listing& listing, const OutputOptions& options, Pedigree& pedigree,
                           const GeneticValues& genetics, OutputFiles files, OutputResults& results,
                           Progress& progress);

// .PHG_RENUM, when the options ask for it: the PHGs of the tables in their output order IW2.
void write_phg_renumbering(const OutputOptions& options, const Pedigree& pedigree,
                           const std::vector<int32_t>& IW2, OutFile& PHG_RENUM,
                           OutputResults& results);

// Prunes the traced pedigree and writes .PRUNE.
void write_pruned_pedigree(const OutputOptions& options, Pedigree& pedigree,
                           const TracedOrder& order, OutFile& PRUNE, OutputResults& results);

}  // namespace kinstrom
