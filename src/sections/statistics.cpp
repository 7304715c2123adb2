#include "sections/statistics.hpp"

namespace kinstrom {

namespace {

// Page bookkeeping of the statistics section (Listing::reserve).
namespace section {
// Blank, title, underline, blank, the ten count rows: 14 lines (the unspecified-breed-proportion
// row and the six lines of the inbreeding note that may follow are not counted).
constexpr int32_t STATISTICS = 14;
// Added with untraceable marked individuals, for the stop that follows: 5 lines (it prints six:
// two blanks, two texts, a blank and the closing line).
constexpr int32_t UNTRACEABLE_STOP = 5;
}  // namespace section

}  // namespace

PedigreeCounts pedigree_counts(const Pedigree& pedigree, const ErrorFiles& errors) {
    const auto& E = errors.ERROR;
    return {int64_t{pedigree.N_INDIVIDUALS} + pedigree.N_INS,
            pedigree.N_INS,
            pedigree.N_PHG_PRINTED,
            pedigree.N_PROB,
            E[1],
            E[2],
            int64_t{E[3]} + E[4],
            E[5],
            E[6],
            E[7],
            pedigree.PHG_ERRLIST.LAST,
            E[8]};
}

bool pedigree_statistics(Listing& listing, const PedigreeCounts& c, bool inbreed_requested,
                         const StatisticsStops& causes) {
    listing.reserve(section::STATISTICS +
                    (c.not_traceable_to_trace > 0 ? section::UNTRACEABLE_STOP : 0));
    listing.blank();
    listing.text("Statistics for the pedigree file");
    listing.text("--------------------------------");
    listing.blank();
    const struct {
        const char* label;
        int64_t count;
    } rows[] = {
        {"No. of individuals ............................................", c.individuals},
        {"No. of individuals inserted ...................................", c.inserted},
        {"No. of phantom parent groups ..................................", c.phgs},
        {"No. of individuals that should be traced ......................", c.to_trace},
        {"No. of phantom parent groups with repeated information ........",
         c.phgs_with_repeated_information},
        {"No. of individuals with repeated pedigree information .........",
         c.repeated_pedigree_information},
        {"No. of individuals with inconsistent pedigree information .....",
         c.inconsistent_pedigree_information},
        {"No. of individuals that should be traced not in pedigree file .",
         c.to_trace_not_in_pedigree},
        {"No. of individuals that can not be traced back to PHG's .......",
         c.not_traceable_to_phgs},
        {"No. of these that should be traced ............................",
         c.not_traceable_to_trace},
    };
    for (const auto& row : rows) listing.label_number(row.label, static_cast<int32_t>(row.count));
    if (c.phgs_without_breed_proportions != 0)
        listing.label_number("No. of phantom parrent groups with unspecified breed prop .....",
                             static_cast<int32_t>(c.phgs_without_breed_proportions));

    if (c.not_traceable_to_trace > 0)
        fatal_stop(listing,
                   {" ", " ", "When some individuals can not be traced back to PHG's,",
                    "the calculation of breed proportions can not be performed"},
                   StopEnd::the_program_terminates, causes.untraceable);
    if (c.phgs_without_breed_proportions > 0)
        fatal_stop(
            listing,
            {" ", " ", "When breed proportions is not specified for all PHG's,",
             "the calculation can not be performed breed proportions", "can not be performed"},
            StopEnd::the_program_terminates, causes.missing_phgs);
    if (inbreed_requested && c.doubtful_sort_values > 0) {
        listing.blank();
        listing.blank();
        listing.label_number("No. of inconsisten sort variable for parent-offspring .........",
                             static_cast<int32_t>(c.doubtful_sort_values));
        listing.text("Inbreeding coefficents can only be computed if sort variable");
        listing.text("for parents have smaller values then the offsprings sort variable");
        listing.text("Inbreeding coefficents will not be computed");
    }
    return inbreed_requested && c.doubtful_sort_values == 0;
}

}  // namespace kinstrom
