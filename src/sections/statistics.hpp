// The pedigree statistics printed after the tracing reports, and the conditions checked right
// after them: untraceable marked individuals (stop), PHGs without breed proportions (stop), and
// inbreeding switched off by doubtful birth dates or sort variables.
#pragma once

#include "listing/listing.hpp"
#include "pedigree/errors.hpp"
#include "pedigree/pedigree.hpp"

namespace kinstrom {

// The counts of the statistics, in the listing's order.
struct PedigreeCounts {
    int64_t individuals = 0;  // inserted ones included
    int64_t inserted = 0;
    int64_t phgs = 0;
    int64_t to_trace = 0;
    int64_t phgs_with_repeated_information = 0;
    int64_t repeated_pedigree_information = 0;
    int64_t inconsistent_pedigree_information = 0;
    int64_t to_trace_not_in_pedigree = 0;
    int64_t not_traceable_to_phgs = 0;
    int64_t not_traceable_to_trace = 0;  // of these, marked for tracing
    int64_t phgs_without_breed_proportions = 0;
    int64_t doubtful_sort_values = 0;
};
PedigreeCounts pedigree_counts(const Pedigree& pedigree, const ErrorFiles& errors);

// Prints the statistics and applies the conditions; returns whether inbreeding coefficients
// are computed (requested, and no doubtful sort value). Throws FatalStop for the two stops.
// `causes` hold what standard error says of the two stops.
struct StatisticsStops {
    StopCause untraceable;   // marked individuals that cannot be traced back to PHGs
    StopCause missing_phgs;  // PHG codes without breed proportions
};
bool pedigree_statistics(Listing& listing, const PedigreeCounts& counts, bool inbreed_requested,
                         const StatisticsStops& causes = {});

}  // namespace kinstrom
