#include "run/driver.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include <unistd.h>

#include "diagnostics/diagnostics.hpp"
#include "directives/directives.hpp"
#include "evaluation/evaluation.hpp"
#include "genetics/genetics.hpp"
#include "input/reader.hpp"
#include "listing/listing.hpp"
#include "listing/progress.hpp"
#include "output/output.hpp"
#include "pedigree/reading.hpp"
#include "run/files.hpp"
#include "run/watch.hpp"
#include "sections/closing.hpp"
#include "sections/error_reports.hpp"
#include "sections/statistics.hpp"
#include "summary/summary.hpp"
#include "trace/tracing.hpp"
#include "trace/untraceable.hpp"

namespace kinstrom {

namespace {

// The directives completed by the echo, the settings that follow from them and the input names
// resolved.
struct RunDirectives {
    Directives d;
    Settings settings;
    FileNames names;
};

// The run state: the results of the phases as far as the run got, kept past a fatal stop for
// the run summary.
struct RunState {
    bool summary = false;  // a summary or report is asked for
    Watch* watch = nullptr;
    std::string run_date;
    std::optional<Directives> read;           // the directive group as read
    std::optional<RunDirectives> directives;  // once the echo is through
    RunFiles files;
    Pedigree pedigree;
    std::optional<TableLayout> table;      // how a pedigree table was read
    std::optional<PedigreeCounts> counts;  // the pedigree statistics
    std::vector<std::string> untraceable;  // why individuals cannot be traced
    std::optional<bool> inbreeding;        // whether F is computed, after the statistics
    // With a summary; shared with the documents kept for a run interrupted later.
    std::shared_ptr<const TracedValues> values;
    std::shared_ptr<const std::vector<double>> contributions;  // by cohort, once summed
    OutputResults output;
    // --evaluation-pedigree: where it goes, the file while it is written (until the run's end
    // commits it), and what the summary tells of it.
    std::optional<Target> evaluation_target;
    std::unique_ptr<WholeFile> evaluation_file;
    std::optional<EvaluationResult> evaluation;
    bool finished = false;  // the run is over, stopped or not
};

constexpr const char* BANNER[] = {
    "",
    "",
    "_____________________________________________________________________________",
    "|                                                                           |",
    "|   *     *  *****  *     *   *****   *******  ******    *****   *     *    |",
    "|   *    *     *    **    *  *     *     *     *     *  *     *  **   **    |",
    "|   *   *      *    * *   *  *           *     *     *  *     *  * * * *    |",
    "|   ****       *    *  *  *   *****      *     ******   *     *  *  *  *    |",
    "|   *   *      *    *   * *        *     *     *   *    *     *  *     *    |",
    "|   *    *     *    *    **  *     *     *     *    *   *     *  *     *    |",
    "|   *     *  *****  *     *   *****      *     *     *   *****   *     *    |",
    "|                                                                           |",
    nullptr,  // version line
    "|                                                                           |",
    "|      A program to extract pedigree information for a subset of            |",
    "|      individuals from a larger pedigree file                              |",
    "|                                                                           |",
    "|      Written and maintained by the Kinstrom developers                    |",
    "|                                                                           |",
    "|      Source code, manual (README.md) and example data:                    |",
    "|         the Kinstrom source repository                                    |",
    "|                                                                           |",
    "|      Questions and error reports:                                         |",
    "|         the issue tracker of the Kinstrom source repository               |",
    "|                                                                           |",
    "|___________________________________________________________________________|",
};

void banner(Listing& listing) {
    for (const char* line : BANNER) {
        if (line == nullptr) {
            std::string version = "|                           Version: ";
            const std::string number = KINSTROM_VERSION;
            version += std::string(4 - std::min<std::size_t>(number.size(), 4), ' ') + number;
            version.resize(76, ' ');
            version += '|';
            listing.raw("   " + version);
        } else if (*line == '\0') {
            listing.raw("");
        } else {
            listing.raw(std::string("   ") + line);
        }
        listing.count();
    }
}

// Why individuals cannot be traced back to PHGs: loops (with their members' lines, read again
// from the pedigree file), lines longer than MAX_NIV, individuals below a loop.
std::vector<std::string> explain_untraceable(Listing& listing, const Pedigree& pedigree,
                                             int32_t MAX_NIV, const InputSource& ped,
                                             const InputBound& bound,
                                             const std::optional<TableLayout>& table) {
    const UntraceableCauses causes = untraceable_causes(pedigree, MAX_NIV);
    std::vector<int64_t> lines;
    if (!causes.loops.empty()) {
        InputText text;
        text.load(listing, ped.file, ped.name, bound);
        const std::vector<int64_t> ids = loop_member_ids(causes, pedigree);
        lines = table ? table_record_lines(text.text(), *table, pedigree.ids, ids)
                      : record_lines(text.text(), ids);
    }
    return untraceable_messages(causes, pedigree, lines, MAX_NIV);
}

// Untraceable individuals explained on standard error, in lines of their own: errors when the
// run stops for them (some are marked for tracing), warnings otherwise.
std::vector<std::string> untraceable_lines(Listing& listing, const Pedigree& pedigree,
                                           const PedigreeCounts& counts, int32_t MAX_NIV,
                                           const InputSource& ped, const InputBound& bound,
                                           const std::optional<TableLayout>& table,
                                           Diagnostics& diagnostics) {
    if (counts.not_traceable_to_phgs == 0) return {};
    std::vector<std::string> lines =
        explain_untraceable(listing, pedigree, MAX_NIV, ped, bound, table);
    for (const std::string& line : lines) {
        if (counts.not_traceable_to_trace > 0) {
            diagnostics.error({{}, 0, 0, line});
        } else {
            diagnostics.warning(line);
        }
    }
    return lines;
}

// What standard error says of the stops after the pedigree statistics.
StatisticsStops stop_causes(const Pedigree& pedigree, const ErrorFiles& errors,
                            const PedigreeCounts& counts, int32_t MAX_NIV, const FileNames& names) {
    StatisticsStops out;
    out.untraceable.text =
        std::to_string(counts.not_traceable_to_trace) + " of the individuals marked for tracing (" +
        std::to_string(counts.not_traceable_to_phgs) +
        " individuals in all) cannot be traced back to PHGs within MAX_NIV=" +
        std::to_string(MAX_NIV) + " generations; they are listed in " + errors.files[5].name();
    const Table& missing = pedigree.PHG_ERRLIST;
    // Code 0 cannot be added to the breed-proportion file, which takes codes below 0 only: it
    // gets advice of its own.
    std::string codes;
    int32_t n = 0;
    bool zero = false;
    for (int32_t k = 1; k <= missing.LAST; ++k) {
        if (missing[k].ID == 0) {
            zero = true;
        } else if (++n <= Diagnostics::SHOWN) {
            codes += (n > 1 ? ", " : "") + std::to_string(missing[k].ID);
        }
    }
    if (n > Diagnostics::SHOWN) codes += ", ...";
    std::string& text = out.missing_phgs.text;
    if (zero)
        text = "unknown parents coded 0 in the pedigree file cannot carry breed proportions: " +
               std::string(UNKNOWN_PARENTS_ADVICE);
    if (n > 0)
        text += (zero ? "; " : "") + counted(n, "PHG code", "PHG codes") +
                " of the pedigree file (" + codes + (n == 1 ? ") has" : ") have") +
                " no breed proportions in " + names.bprop + ": add them to that file";
    text += " (they are listed in " + errors.files[6].name() + ")";
    return out;
}

// Input files are the run's from the moment their names are read: nothing is written over them.
void protect_inputs(Watch& watch, const std::vector<std::string>& names, const Environment& env) {
    for (const std::string& name : names)
        if (!trim_leading(name).empty()) watch.protect(resolve_name(trim_leading(name), env));
}

// The directive group, or the stop with the line and reason; warnings for doubtful values.
Directives read_directive_group(std::istream& in, Listing& listing, Diagnostics& diagnostics,
                                Watch& watch, const Environment& env) {
    Directives d;
    DirectiveProblem problem;
    const bool read = read_directives(in, d, &problem);
    if (read) problem.file_names = {d.PED_FILE, d.PROB_FILE, d.BPROP_FILE};
    protect_inputs(watch, problem.file_names, env);
    if (!read)
        fatal_stop(listing, {" ", "Error reading the directive file"}, StopEnd::program_terminates,
                   {"<stdin>", problem.line, 0, problem.text});
    for (const std::string& warning : directive_warnings(d)) diagnostics.warning(warning);
    return d;
}

// The echo of the directives: their completed values, settings and input names.
RunDirectives complete_directives(Listing& listing, Directives d, const Environment& env) {
    RunDirectives out{std::move(d), {}, {}};
    derive_birth_date_mode(out.d, listing.date(), out.settings);
    echo_directives(listing, out.d, out.settings, env, out.names);
    return out;
}

void inbreeding_dropped(Diagnostics& diagnostics, const ErrorFiles& errors) {
    diagnostics.warning("INBREED='YES', but no inbreeding coefficients are computed: " +
                        doubtful_dates_text(errors.ERROR[8], errors.files[7].name()) +
                        "; correct them to get the inbreeding column of .PED");
}

// Before any output is written over, an earlier summary to be replaced is removed (unless it
// is a file of the run): a run that never gets to write its own leaves none to be taken for it.
// An earlier report stays until the new one replaces it.
void remove_earlier_summary(Watch& watch, const RunDirectives& run) {
    for (const std::string& name : output_names(run.settings, run.names.prob)) watch.protect(name);
    if (watch.summary && !watch.is_run_file(*watch.summary)) remove_earlier(*watch.summary);
}

// The evaluation pedigree replaces its file at the end of the run: a name that leads to another
// file of the run, an input file, the directives or the listing stops the run before any file
// is written.
void check_evaluation_target(Listing& listing, Watch& watch, const Target& target,
                             const std::vector<std::string>& outputs) {
    for (const std::string& name : outputs) {
        std::string error;
        const std::optional<Target> other = find_target(name, error);
        if (!other || !other->same_file(target)) continue;
        fatal_stop(listing, {" ", "File " + target.name + " is written twice"},
                   StopEnd::program_terminates,
                   {target.name, 0, 0,
                    "the evaluation pedigree would be written over the file " + name +
                        " of the run: give it a name of its own"});
    }
    if (watch.is_run_file(target))
        fatal_stop(listing, {" ", "File " + target.name + " is both input and output"},
                   StopEnd::program_terminates,
                   {target.name, 0, 0,
                    "the evaluation pedigree would be written over an input file of the run, "
                    "the directive file or the listing: give it a name of its own"});
}

// The directives read, echoed and checked, and the run's files opened: the opening section of
// the listing.
const RunDirectives& directives_and_files(std::istream& in, Listing& listing,
                                          Diagnostics& diagnostics, const Environment& env,
                                          std::unique_ptr<HalvingTable>& P_HALVE, RunState& state) {
    listing.first_page();
    banner(listing);
    state.read = read_directive_group(in, listing, diagnostics, *state.watch, env);
    try {
        P_HALVE = std::make_unique<HalvingTable>(state.read->MAX_NIV);
    } catch (const std::bad_alloc&) {
        allocation_failure(listing, "P_HALVE");
    }
    const RunDirectives& run =
        state.directives.emplace(complete_directives(listing, *state.read, env));
    check_input_files(listing, run.names);
    if (state.evaluation_target)
        check_evaluation_target(listing, *state.watch, *state.evaluation_target,
                                output_names(run.settings, run.names.prob));
    remove_earlier_summary(*state.watch, run);
    open_files(listing, run.d, run.settings, run.names, state.files);
    // The outputs are the run's files now that they are there.
    for (const std::string& name : output_names(run.settings, run.names.prob))
        state.watch->protect(name);
    return run;
}

// What the summary is derived from, as far as the run got.
SummarySources summary_sources(const RunState& state) {
    SummarySources in;
    in.run_date = state.run_date;
    if (state.directives) {
        in.directives = &state.directives->d;
        in.settings = &state.directives->settings;
        in.inputs = &state.directives->names;
    } else if (state.read) {
        in.directives = &*state.read;
    }
    in.pedigree = &state.pedigree;
    const RunFiles& f = state.files;
    in.errors = &f.errors;
    for (int kind = 1; kind <= ERROR_KINDS; ++kind)
        in.files.push_back({"error_" + std::to_string(kind), &f.errors.files[at(kind - 1)]});
    for (const auto& [role, file] : {std::pair{"PED", &f.PED}, std::pair{"PRUNE", &f.PRUNE},
                                     std::pair{"BCONTRIB", &f.BCONTRIB}, std::pair{"HET", &f.HET},
                                     std::pair{"PHG_RENUM", &f.PHG_RENUM}})
        in.files.push_back({role, file});
    in.counts = state.counts ? &*state.counts : nullptr;
    in.untraceable = &state.untraceable;
    in.inbreeding = state.inbreeding;
    in.values = state.values;
    in.contributions = state.contributions;
    in.table = state.table ? &*state.table : nullptr;
    in.evaluation = state.evaluation ? &*state.evaluation : nullptr;
    in.finished = state.finished;
    return in;
}

ReadOptions read_options(const RunDirectives& run, const InputBound& input_bound) {
    const Directives& d = run.d;
    const Settings& s = run.settings;
    return {d.MAX_A,        d.MAX_PHG,   d.N_BPOP,    d.MIN_ACC_BD, d.MAX_ACC_BD,
            s.ANE_MIN_DIFF, s.dob_check, s.use_bprop, input_bound};
}

// The pedigree statistics with their stops: the counts, the untraceable individuals explained,
// and whether inbreeding coefficients are computed.
bool statistics_and_stops(Listing& listing, const RunDirectives& run, const InputSource& ped,
                          const InputBound& bound, Diagnostics& diagnostics, RunState& state) {
    const ErrorFiles& errors = state.files.errors;
    const int32_t MAX_NIV = run.d.MAX_NIV;
    const PedigreeCounts& counts = state.counts.emplace(pedigree_counts(state.pedigree, errors));
    state.untraceable = untraceable_lines(listing, state.pedigree, counts, MAX_NIV, ped, bound,
                                          state.table, diagnostics);
    const StatisticsStops causes = stop_causes(state.pedigree, errors, counts, MAX_NIV, run.names);
    const bool inbreeding =
        *(state.inbreeding = pedigree_statistics(listing, counts, run.settings.inbreed, causes));
    if (run.settings.inbreed && !inbreeding) inbreeding_dropped(diagnostics, errors);
    return inbreeding;
}

// How the output stage writes; with a summary and contributions, it adds them up by cohort.
OutputOptions output_options(const Settings& s, bool inbreeding, unsigned threads,
                             const TracedValues* values) {
    OutputOptions output{s.contributions, s.renumbered, s.phg_renumbering(),
                         inbreeding,      s.use_bprop,  threads};
    if (values && s.contributions) {
        output.groups = &values->cohort_of;
        output.n_groups = values->cohorts.size();
    }
    return output;
}

// The contributions summed by cohort, kept for the summary once the output stage is done with
// them (or has stopped).
void keep_contributions(RunState& state) {
    if (state.contributions == nullptr && !state.output.group_sums.empty())
        state.contributions =
            std::make_shared<const std::vector<double>>(std::move(state.output.group_sums));
}

// A phase starts; with a summary, the document as it stands is kept for a run interrupted in
// that phase.
void begin_phase(const char* name, Progress& progress, const Diagnostics& diagnostics,
                 RunState& state) {
    progress.begin(name);
    if (!state.summary) return;
    state.watch->snapshot(
        summary_document(summary_sources(state), progress.phases(), diagnostics, 0), name);
}

[[noreturn]] void evaluation_failure(Listing& listing, const Target& target,
                                     const std::string& error) {
    fatal_stop(listing, {" ", "Error when writing file " + target.name},
               StopEnd::program_terminates,
               {target.name, 0, 0,
                "the evaluation pedigree was not written: " + error +
                    (target.kind == Target::Kind::replace
                         ? "; an earlier file of that name is left as it was"
                         : "")});
}

// The evaluation pedigree laid out and written under its temporary name; the end of the run
// commits it.
void write_evaluation(Listing& listing, const Pedigree& pedigree, const GeneticValues& genetics,
                      bool inbreeding, unsigned threads, Diagnostics& diagnostics,
                      RunState& state) {
    EvaluationResult& result = *state.evaluation;
    const Target& target = *state.evaluation_target;
    const EvaluationCodes codes = evaluation_codes(pedigree, genetics.order, result.options);
    const int32_t n = codes.individuals();
    result.individuals = n;
    result.group_phgs = codes.group_phgs;
    result.columns = evaluation_columns(inbreeding);
    WholeFile& file = *(state.evaluation_file = std::make_unique<WholeFile>(target));
    const bool overlap = threads > 1 || (threads == 0 && usable_processors() > 1);
    if (!file.open() ||
        !write_evaluation_pedigree(pedigree, codes, genetics.K_GEN, inbreeding, overlap,
                                   [&](std::string_view piece) { return file.write(piece); }))
        evaluation_failure(listing, target, file.error());
    diagnostics.note(evaluation_description(result), {target.name});
}

// The reading phase; with tables, the pedigree's ID texts go with it.
void read_inputs(Listing& listing, const TableOptions& table, const ReadOptions& options,
                 const InputSources& inputs, Diagnostics& diagnostics, RunState& state) {
    RunFiles& files = state.files;
    Pedigree& pedigree = state.pedigree;
    files.errors.ids = &pedigree.ids;
    if (!table.on) {
        read_input(listing, options, inputs, files.errors, pedigree, diagnostics);
        return;
    }
    TableInput t = read_tables(listing, table, options, inputs, diagnostics);
    pedigree.ids = std::move(t.ids);
    state.table = std::move(t.layout);
    read_input(listing, options, inputs, files.errors, pedigree, diagnostics, &t.records);
}

void run_phases(std::istream& in, Listing& listing, Progress& progress, Diagnostics& diagnostics,
                const TableOptions& table, RunState& state) {
    const auto phase = [&](const char* name) { begin_phase(name, progress, diagnostics, state); };
    phase("directives and files");
    const Environment env = Environment::read();
    if (!env.threads_ignored.empty())
        diagnostics.warning("KINSTROM_THREADS=" + quoted_bytes(env.threads_ignored) +
                            " ignored: it must be a whole number from 1 to 64; the run uses " +
                            counted(usable_processors(), "thread", "threads") +
                            ", one for each processor it may run on");
    const InputBound input_bound = input_bound_from_environment(diagnostics);
    std::unique_ptr<HalvingTable> P_HALVE;
    const auto& [d, settings, names] =
        directives_and_files(in, listing, diagnostics, env, P_HALVE, state);
    RunFiles& files = state.files;

    phase("reading the input");
    Pedigree& pedigree = state.pedigree;
    const InputSources inputs{{names.ped, files.ped.get()},
                              {names.prob, files.prob.get()},
                              {names.bprop, files.bprop.get()}};
    read_inputs(listing, table, read_options(*state.directives, input_bound), inputs, diagnostics,
                state);

    const ReportSettings report_settings{pedigree.N_BPOP, d.MIN_D_SBD, d.MIN_D_DBD, d.MIN_ACC_BD,
                                         d.MAX_ACC_BD};
    phase("error reports");
    report_input_errors(listing, report_settings, pedigree, files.errors);
    phase("tracing");
    trace_pedigree(d.MAX_NIV, pedigree, files.errors);
    write_missing_phgs(pedigree, files.errors);
    report_tracing_errors(listing, pedigree, files.errors);
    phase("pedigree statistics");
    const bool inbreeding = statistics_and_stops(listing, *state.directives, inputs.ped,
                                                 input_bound, diagnostics, state);

    phase("order, generations, walks");
    const std::vector<int32_t> IW2 = phg_output_order(listing, pedigree);
    const GeneticValues genetics = genetic_values(listing, pedigree, *P_HALVE, d.GPRUNE);
    if (inbreeding) {
        phase("inbreeding");
        const InbreedingWork work =
            inbreeding_coefficients(pedigree, genetics.order, progress, {.threads = env.threads});
        progress.detail(std::to_string(work.relationships) + " relationships computed by " +
                        counted(work.threads, "thread", "threads"));
    }
    if (state.summary) {
        phase("summary values");
        state.values = std::make_shared<const TracedValues>(
            traced_values(pedigree, genetics, inbreeding, settings.dob_check));
    }

    phase("writing the traced pedigree");
    const OutputOptions output =
        output_options(settings, inbreeding, env.threads, state.values.get());
    const OutputFiles output_files{files.PED, files.PRUNE, files.PHG_RENUM, files.BCONTRIB,
                                   files.HET};
    OutputResults& results = state.output;
    write_traced_pedigree(listing, output, pedigree, genetics, output_files, results, progress);
    keep_contributions(state);
    if (state.evaluation) {
        phase("writing the evaluation pedigree");
        write_evaluation(listing, pedigree, genetics, inbreeding, env.threads, diagnostics, state);
    }
    phase("PHG tables");
    phg_tables(listing, settings.use_bprop, pedigree, IW2, genetics.BIDRAG, results);
    write_phg_renumbering(output, pedigree, IW2, files.PHG_RENUM, results);
    phase("closing reports and pruning");
    if (settings.contributions) traced_statistics(listing, pedigree, results);
    write_pruned_pedigree(output, pedigree, genetics.order, files.PRUNE, results);
    describe_output_files(listing, output, names.prob, results, !pedigree.ids.empty());

    close_files(files);
    if (state.evaluation_file) {
        if (!state.evaluation_file->commit())
            evaluation_failure(listing, *state.evaluation_target, state.evaluation_file->error());
        state.evaluation->written = true;
    }
    listing.blank();
    listing.text("EOJ");
    progress.end();
}

// Writes the summary and the report asked for; the exit status, 16 when one cannot be written.
// Each tells the end of the run as it stands when it is written, and the second can fail when
// the first is written already: the first is one that replaces a plain file where there is one
// (a pipe or device may have been read at once), and it is written again when the second fails,
// so that both tell the true end.
int write_summary_files(RunState& state, const Progress& progress, Diagnostics& diagnostics,
                        int status) {
    Watch& watch = *state.watch;
    state.finished = true;
    keep_contributions(state);
    // Written again, a file is not checked again: the file there is the one written first, and
    // it may have the inode of an error file removed meanwhile.
    const auto write = [&](const std::optional<Target>& target, SummaryForm form, bool again) {
        if (!target) return false;
        const std::string what = form == SummaryForm::report ? "report" : "summary";
        std::string error;
        if (!again && watch.is_run_file(*target)) {
            error = "this is the listing, an input or an output file of the run; give the " + what +
                    " a name of its own";
        } else {
            try {
                const Summary summary = summary_document(summary_sources(state), progress.phases(),
                                                         diagnostics, status);
                watch.start_writing(*target);
                if (write_document(*target, form, summary, error)) return true;
            } catch (const std::bad_alloc&) {
                error = allocation_cause("the " + what);
            }
        }
        diagnostics.error({target->name, 0, 0, "the " + what + " was not written: " + error});
        status = STOP_CODE;
        return false;
    };
    const auto replaces = [](const std::optional<Target>& target) {
        return target && target->kind == Target::Kind::replace;
    };
    std::pair first{&watch.report, SummaryForm::report};
    std::pair second{&watch.summary, SummaryForm::json};
    if (!replaces(watch.report) && replaces(watch.summary)) std::swap(first, second);
    const bool first_written = write(*first.first, first.second, false);
    if (*second.first && !write(*second.first, second.second, false) && first_written &&
        replaces(*first.first))
        write(*first.first, first.second, true);
    watch.finish();
    return status;
}

// Where the summary and report go; false, with the reason on `err`, when they cannot go there.
bool find_summary_targets(const RunOptions& options, std::FILE* err, std::optional<Target>& summary,
                          std::optional<Target>& report) {
    for (const auto& [name, target, what] : {std::tuple{&options.summary, &summary, "summary"},
                                             std::tuple{&options.report, &report, "report"}}) {
        if (name->empty()) continue;
        std::string error;
        *target = find_target(*name, error);
        if (!*target) {
            write_line(err, "kinstrom: " + *name + ": error: the " + what +
                                " cannot be written there: " + error);
            return false;
        }
    }
    if (summary && report && summary->same_file(*report)) {
        write_line(err, "kinstrom: error: --summary and --report name the same file '" +
                            options.summary + "': give each its own name");
        return false;
    }
    return true;
}

}  // namespace

int run(std::istream& in, std::FILE* out, std::FILE* err, const RunOptions& options) {
    std::optional<Target> summary, report;
    if (!find_summary_targets(options, err, summary, report)) return STOP_CODE;
    RunState state;
    if (!options.evaluation.file.empty()) {
        std::string error;
        state.evaluation_target = find_target(options.evaluation.file, error);
        // Found missing only at the end, a folder would cost the whole run.
        if (state.evaluation_target && state.evaluation_target->kind == Target::Kind::replace &&
            !state.evaluation_target->folder) {
            error = "its folder does not exist: make the folder first";
            state.evaluation_target.reset();
        }
        if (!state.evaluation_target) {
            write_line(err,
                       "kinstrom: " + options.evaluation.file +
                           ": error: the evaluation pedigree cannot be written there: " + error);
            return STOP_CODE;
        }
        for (const auto& [other, option] :
             {std::pair{&summary, "--summary"}, std::pair{&report, "--report"}})
            if (*other && (*other)->same_file(*state.evaluation_target)) {
                write_line(err, "kinstrom: error: --evaluation-pedigree and " +
                                    std::string(option) + " name the same file '" +
                                    options.evaluation.file + "': give each its own name");
                return STOP_CODE;
            }
        state.evaluation.emplace().options = options.evaluation;
    }
    state.summary = summary || report;
    // The program's own watch lives as long as the program; another run gets one of its own.
    // It removes the temporary of an evaluation pedigree when a signal ends the run.
    std::unique_ptr<Watch> own_watch;
    if (options.watch_signals && (state.summary || state.evaluation)) {
        state.watch = &watch_signals(std::move(summary), std::move(report));
    } else {
        own_watch = std::make_unique<Watch>();
        own_watch->summary = std::move(summary);
        own_watch->report = std::move(report);
        state.watch = own_watch.get();
    }
    state.watch->protect(STDIN_FILENO);
    state.watch->protect(::fileno(out));

    RunDate date;
    std::string epoch_ignored;
    dattim(date, &epoch_ignored);
    Listing listing(out, date);
    Diagnostics diagnostics(err);
    if (!epoch_ignored.empty())
        diagnostics.warning("SOURCE_DATE_EPOCH=" + quoted_bytes(epoch_ignored) +
                            " ignored: it must be digits alone, the seconds since 1970-01-01 "
                            "00:00 UTC up to the year 9999; the run date is taken from the "
                            "clock, so the listing's date differs from run to run");
    int status = 0;
    Progress progress = Progress::from_environment();
    diagnostics.set_progress(&progress);
    StopCause cause;
    state.run_date = listing.date_text();
    try {
        run_phases(in, listing, progress, diagnostics, options.table, state);
    } catch (const FatalStop& stop) {
        status = stop.status;
        cause = stop.cause;
    } catch (const std::bad_alloc&) {
        // Tables name themselves when they cannot be allocated; this is any other request.
        print_allocation_failure(listing, "memory", false);
        status = STOP_CODE;
        cause.text = allocation_cause({});
    }
    progress.end();
    diagnostics.finish();
    if (status != 0) {
        if (cause.text.empty()) cause.text = "the run stopped; the listing says why";
        diagnostics.error(cause);
    }
    if (!listing.flush()) {
        diagnostics.error({{},
                           0,
                           0,
                           std::string("writing the listing failed on standard output: ") +
                               std::strerror(errno)});
        status = STOP_CODE;
    }
    if (state.summary) status = write_summary_files(state, progress, diagnostics, status);
    return status;
}

}  // namespace kinstrom
