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

bool pedigree_statistics(Listing& listing, const Pedigree& pedigree, const ErrorFiles& errors,
                         bool inbreed_requested, const StatisticsStops& causes) {
    const auto& ERROR = errors.ERROR;
    const int32_t LASTPHGERR = pedigree.PHG_ERRLIST.LAST;
    listing.reserve(section::STATISTICS + (ERROR[7] > 0 ? section::UNTRACEABLE_STOP : 0));
    listing.blank();
    listing.text("Statistics for the pedigree file");
    listing.text("--------------------------------");
    listing.blank();
    const struct {
        const char* label;
        int64_t count;
    } rows[] = {
        {"No. of individuals ............................................",
         int64_t{pedigree.N_INDIVIDUALS} + pedigree.N_INS},
        {"No. of individuals inserted ...................................", pedigree.N_INS},
        {"No. of phantom parent groups ..................................", pedigree.N_PHG_PRINTED},
        {"No. of individuals that should be traced ......................", pedigree.N_PROB},
        {"No. of phantom parent groups with repeated information ........", ERROR[1]},
        {"No. of individuals with repeated pedigree information .........", ERROR[2]},
        {"No. of individuals with inconsistent pedigree information .....",
         int64_t{ERROR[3]} + ERROR[4]},
        {"No. of individuals that should be traced not in pedigree file .", ERROR[5]},
        {"No. of individuals that can not be traced back to PHG's .......", ERROR[6]},
        {"No. of these that should be traced ............................", ERROR[7]},
    };
    for (const auto& row : rows) listing.label_number(row.label, static_cast<int32_t>(row.count));
    if (LASTPHGERR != 0)
        listing.label_number("No. of phantom parrent groups with unspecified breed prop .....",
                             LASTPHGERR);

    if (ERROR[7] > 0)
        fatal_stop(listing,
                   {" ", " ", "When some individuals can not be traced back to PHG's,",
                    "the calculation of breed proportions can not be performed"},
                   StopEnd::the_program_terminates, causes.untraceable);
    if (LASTPHGERR > 0)
        fatal_stop(
            listing,
            {" ", " ", "When breed proportions is not specified for all PHG's,",
             "the calculation can not be performed breed proportions", "can not be performed"},
            StopEnd::the_program_terminates, causes.missing_phgs);
    if (inbreed_requested && ERROR[8] > 0) {
        listing.blank();
        listing.blank();
        listing.label_number("No. of inconsisten sort variable for parent-offspring .........",
                             ERROR[8]);
        listing.text("Inbreeding coefficents can only be computed if sort variable");
        listing.text("for parents have smaller values then the offsprings sort variable");
        listing.text("Inbreeding coefficents will not be computed");
    }
    return inbreed_requested && ERROR[8] == 0;
}

}  // namespace kinstrom
