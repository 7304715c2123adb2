// The run summary: what one run read, found, computed and wrote, derived from the results of
// its phases as a JSON document (doc/summary.schema.json) for pipelines, and the data of the
// HTML report. A part the run did not reach stays unknown and is written as null.
//
// Bounded by design: the rows of the cohorts (one for each birth year, which may be one for each
// individual) stay plain numbers, shared and not copied; the document holds the rest, and its
// JSON text is written piece by piece, never whole in memory.
//
// Nothing here touches the listing or the run's other files.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "diagnostics/diagnostics.hpp"
#include "directives/directives.hpp"
#include "evaluation/evaluation.hpp"
#include "genetics/genetics.hpp"
#include "listing/progress.hpp"
#include "output/output.hpp"
#include "pedigree/errors.hpp"
#include "pedigree/pedigree.hpp"
#include "report/report.hpp"
#include "sections/statistics.hpp"
#include "table/table.hpp"

namespace kinstrom {

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

// The values of the traced pedigree, the phase "summary values": counts, the inbreeding
// coefficients (when computed) and known generations of the marked and of all traced
// individuals, and the cohorts: birth years (the sort variable's year, with birth-date checks)
// or else generations.
struct TracedValues {
    bool inbreeding = false;  // F computed
    GroupValues marked, traced;
    int64_t phgs = 0;  // PHGs that are parents in the traced pedigree
    bool by_birth_year = false;
    std::vector<Cohort> cohorts;     // in the order of their keys
    int64_t without_cohort = 0;      // traced individuals without a birth year
    std::vector<int32_t> cohort_of;  // the cohort row of each position, -1: none
};
TracedValues traced_values(const Pedigree& pedigree, const GeneticValues& genetics, bool inbreeding,
                           bool by_birth_year);

// An output or error file of the run with its role in the summary.
struct RoleFile {
    std::string role;
    const OutFile* file;
};

// What the summary is derived from: the results of the phases the run went through, null where
// it did not get there. `finished`: the run is over (stopped or not), so the input files' record
// counts, the error kinds and the files written are told.
struct SummarySources {
    std::string run_date;
    const Directives* directives = nullptr;  // as completed by the echo, else as read
    const Settings* settings = nullptr;      // once the directives are echoed
    const FileNames* inputs = nullptr;       // once the input names are resolved
    const Pedigree* pedigree = nullptr;
    const ErrorFiles* errors = nullptr;
    std::vector<RoleFile> files;             // the error files, then the outputs
    const PedigreeCounts* counts = nullptr;  // once the pedigree statistics begin
    const std::vector<std::string>* untraceable = nullptr;
    std::optional<bool> inbreeding;  // after the pedigree statistics
    std::shared_ptr<const TracedValues> values;
    // The contributions summed by cohort (OutputResults::group_sums), once they are summed.
    std::shared_ptr<const std::vector<double>> contributions;
    const TableLayout* table = nullptr;            // how a pedigree table was read (--table)
    const EvaluationResult* evaluation = nullptr;  // --evaluation-pedigree
    bool finished = false;
};

// Why inbreeding is not computed when `count` birth dates or sort values are doubtful: a
// sentence naming the kind-8 error file.
std::string doubtful_dates_text(int64_t count, const std::string& file);

// The summary document (doc/summary.schema.json) with the rows of its cohorts apart: `document`
// holds every part but them ("cohorts" without "rows"), `rows` gives them one at a time (null
// when "cohorts" is). A copy shares the rows.
struct Summary {
    nlohmann::ordered_json document;
    std::shared_ptr<const CohortRows> rows;
};
Summary summary_document(const SummarySources& sources, const std::vector<Progress::Phase>& phases,
                         const Diagnostics& diagnostics, int exit_status);

// The JSON text of a summary, the rows in their place: the bytes of the whole document dumped
// with an indent of two blanks, given to `write` piece by piece. False as soon as `write` is.
bool write_summary_text(const Summary& summary, const std::function<bool(std::string_view)>& write);
std::string summary_text(const Summary& summary);  // the same text whole

// The summary of a run interrupted by `signal` in `phase`, from the summary as it stood at
// that phase's start.
Summary interrupted_document(const Summary& summary, int signal, const std::string& phase);

}  // namespace kinstrom
