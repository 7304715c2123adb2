// The pedigree statistics printed after the tracing reports, and the conditions checked right
// after them: untraceable marked individuals (stop), PHGs without breed proportions (stop), and
// inbreeding switched off by doubtful birth dates or sort variables.
#pragma once

#include "listing/listing.hpp"
#include "pedigree/errors.hpp"
#include "pedigree/pedigree.hpp"

namespace kinstrom {

// Prints the statistics and applies the conditions; returns whether inbreeding coefficients
// are computed (requested, and no kind-8 error). Throws FatalStop for the two stops.
// `causes` hold what standard error says of the two stops.
struct StatisticsStops {
    StopCause untraceable;   // marked individuals that cannot be traced back to PHGs
    StopCause missing_phgs;  // PHG codes without breed proportions
};
bool pedigree_statistics(Listing& listing, const Pedigree& pedigree, const ErrorFiles& errors,
                         bool inbreed_requested, const StatisticsStops& causes = {});

}  // namespace kinstrom
