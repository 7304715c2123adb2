// The closing sections of the listing: the PHG contribution tables, the traced-pedigree
// statistics and the description of the output files. Prints only; the files are the output
// stage's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "genetics/genetics.hpp"
#include "listing/listing.hpp"
#include "output/output.hpp"
#include "pedigree/pedigree.hpp"

namespace kinstrom {

// PHG rows in the output order IW2 with links, genomes and gene proportions; with a
// breed-proportion file, the same summed by base population.
void phg_tables(Listing& listing, bool use_bprop, const Pedigree& pedigree,
                const std::vector<int32_t>& IW2, const Bidrag& BIDRAG,
                const OutputResults& results);

// Averages, S.D.s, minima and maxima of the contributions and heterozygosities.
void traced_statistics(Listing& listing, const Pedigree& pedigree, const OutputResults& results);

// What each output file holds; the last section before "EOJ". With `text_ids` the original
// IDs of individuals are texts.
void describe_output_files(Listing& listing, const OutputOptions& options,
                           const std::string& base_name, const OutputResults& results,
                           bool text_ids = false);

}  // namespace kinstrom
