// The run summary: what one run read, found, computed and wrote, gathered while it runs and
// written at its end as a JSON document (doc/summary.schema.json) for pipelines, and as the
// data of the HTML report. A part the run did not reach stays unknown and is written as null.
//
// Nothing here touches the listing or the run's other files.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "diagnostics/diagnostics.hpp"
#include "genetics/genetics.hpp"
#include "listing/progress.hpp"
#include "output/output.hpp"
#include "pedigree/errors.hpp"
#include "pedigree/pedigree.hpp"

namespace kinstrom {

// One directive in force: an integer or a text.
struct DirectiveValue {
    std::string key;
    bool is_text = false;
    int64_t number = 0;
    std::string text;  // without trailing blanks
};

// Count, mean, S.D. (Welford's running sums), smallest and largest value.
struct Moments {
    int64_t n = 0;
    double mean = 0, m2 = 0, min = 0, max = 0;
    void add(double x);
};

// The inbreeding coefficients and known generations of a group of individuals.
struct GroupValues {
    int64_t individuals = 0;
    Moments F, K_GEN;
    int64_t inbred = 0;                // F above 0
    std::array<int64_t, 7> classes{};  // F exactly 0, then up to 1/32, 1/16, 1/8, 1/4, 1/2, 1
};

// One birth year or generation of the traced pedigree.
struct Cohort {
    int32_t key = 0;
    int64_t individuals = 0;
    double F_sum = 0, F_max = 0;
    int64_t inbred = 0;
    double K_GEN_sum = 0;
    int64_t both_parents_known = 0;
};

struct FileRecord {
    std::string role;
    std::string name;
    int64_t records = -1;  // input files: -1 while not read to their end
};

struct ErrorKindRecord {
    int64_t count = 0;
    std::string file;
    bool on_disk = false;
};

// Everything the summary tells, filled in by the driver as the phases end.
struct RunRecord {
    std::string run_date;
    bool directives_read = false;
    std::vector<DirectiveValue> directives;
    std::vector<FileRecord> inputs;
    std::vector<FileRecord> files_written;
    std::optional<std::array<int64_t, 12>> statistics;  // in the listing's order
    std::vector<ErrorKindRecord> error_kinds;           // kinds 1 .. 8, once the files are open
    int64_t traced_phgs = 0;  // PHGs that are parents in the traced pedigree
    bool inbreeding_computed = false;
    std::string inbreeding_reason = "the run stopped before the inbreeding phase";
    bool values_known = false;
    GroupValues marked, traced;
    bool by_birth_year = false;
    std::vector<Cohort> cohorts;
    int64_t without_cohort = 0;
    std::vector<std::string> base_populations;  // with contributions by cohort
    ContributionSums contributions;             // sums of N_BPOP values per cohort
    std::vector<std::string> untraceable;
};

// The counts of "Statistics for the pedigree file" and the counts of the error kinds.
void note_statistics(RunRecord& record, const Pedigree& pedigree, const ErrorFiles& errors);
void note_error_kinds(RunRecord& record, const ErrorFiles& errors);

// The values of the traced pedigree: counts, the inbreeding coefficients (when computed) and
// known generations of the marked and of all traced individuals, and the cohorts: birth years
// (the sort variable's year, with birth-date checks) or else generations. With contributions,
// record.contributions is made ready for write_traced_pedigree to fill.
void note_traced_values(RunRecord& record, const Pedigree& pedigree,
                        const std::vector<float>& K_GEN, const TracedOrder& order, bool inbreeding,
                        bool by_birth_year, bool contributions);

// The summary document as JSON text, and the report page drawn from that document.
enum class SummaryForm { json, report };
std::string summary_text(SummaryForm form, const RunRecord& record,
                         const std::vector<Progress::Phase>& phases, const Diagnostics& diagnostics,
                         int exit_status);

// The summary or report of a run interrupted by `signal` in `phase`, from the summary document
// (JSON) as it stood at that phase's start.
std::string interrupted_text(SummaryForm form, const std::string& document, int signal,
                             const std::string& phase);

}  // namespace kinstrom
