// The error and warning reports: for each kind with records, a title, the first 50 records read
// back from its error file, the count, the file's name and a description of its variables.
// The error file of a kind without records is closed and deleted where its report would stand.
//
// Reads: the error files, XLIST and PHG_ERRLIST (kind 7). Writes: the listing, with its page
// bookkeeping; deletes the error files of kinds without records.
#pragma once

#include <cstdint>

#include "listing/listing.hpp"
#include "pedigree/errors.hpp"
#include "pedigree/pedigree.hpp"

namespace kinstrom {

// What the reports show besides the records.
struct ReportSettings {
    int32_t N_BPOP = 0;
    int32_t MIN_D_SBD = 0;
    int32_t MIN_D_DBD = 0;
    int32_t MIN_ACC_BD = 0;
    int32_t MAX_ACC_BD = 0;
};

// Kinds 1, 2, 3, 4, 8 and 5, after the input is read; preceded by the "ERROR/WARNINGS" heading
// when ERROR(1) + ... + ERROR(8) is above 0.
void report_input_errors(Listing& listing, const ReportSettings& s, const Pedigree& pedigree,
                         ErrorFiles& errors);

// Kinds 6 and 7, after ancestor tracing.
void report_tracing_errors(Listing& listing, const Pedigree& pedigree, ErrorFiles& errors);

}  // namespace kinstrom
