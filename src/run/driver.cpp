#include "run/driver.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <tuple>

#include <unistd.h>

#include "diagnostics/diagnostics.hpp"
#include "genetics/genetics.hpp"
#include "input/reader.hpp"
#include "listing/listing.hpp"
#include "listing/progress.hpp"
#include "output/output.hpp"
#include "pedigree/reading.hpp"
#include "run/directives.hpp"
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

// What the phases leave behind, kept past a fatal stop for the run summary.
struct RunState {
    bool summary = false;  // a summary or report is asked for
    Watch* watch = nullptr;
    RunRecord record;
    RunFiles files;
    Pedigree pedigree;
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
            version += Row().integer(2, 4).str().substr(1);
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
                                             int32_t MAX_NIV, const InputSource& ped) {
    const UntraceableCauses causes = untraceable_causes(pedigree, MAX_NIV);
    std::vector<int64_t> lines;
    if (!causes.loops.empty()) {
        InputText text;
        text.load(listing, ped.file, ped.name);
        lines = record_lines(text.text(), loop_member_ids(causes, pedigree));
    }
    return untraceable_messages(causes, pedigree, lines, MAX_NIV);
}

// What standard error says of the stops after the pedigree statistics; the untraceable
// individuals are explained in lines of their own (errors when the run stops for them,
// warnings otherwise).
StatisticsStops stop_causes(Listing& listing, const Pedigree& pedigree, const ErrorFiles& errors,
                            const Directives& d, const InputSources& inputs,
                            Diagnostics& diagnostics, RunRecord& record) {
    StatisticsStops out;
    const int32_t untraceable = errors.ERROR[6], marked = errors.ERROR[7];
    if (untraceable > 0) {
        record.untraceable = explain_untraceable(listing, pedigree, d.MAX_NIV, inputs.ped);
        for (const std::string& line : record.untraceable) {
            if (marked > 0) {
                diagnostics.error({{}, 0, 0, line});
            } else {
                diagnostics.warning(line);
            }
        }
    }
    out.untraceable.text = std::to_string(marked) + " of the individuals marked for tracing (" +
                           std::to_string(untraceable) +
                           " individuals in all) cannot be traced back to PHGs within MAX_NIV=" +
                           std::to_string(d.MAX_NIV) + " generations; they are listed in " +
                           errors.files[5].name();
    const Table& missing = pedigree.PHG_ERRLIST;
    std::string codes;
    for (int32_t k = 1; k <= missing.LAST && k <= Diagnostics::SHOWN; ++k)
        codes += (k > 1 ? ", " : "") + std::to_string(missing[k].ID);
    if (missing.LAST > Diagnostics::SHOWN) codes += ", ...";
    out.missing_phgs.text =
        counted(missing.LAST, "PHG code", "PHG codes") + " of the pedigree file (" + codes +
        (missing.LAST == 1 ? ") has" : ") have") + " no breed proportions in " + inputs.bprop.name +
        ": add them to that file (they are listed in " + errors.files[6].name() + ")";
    return out;
}

// Input files are the run's from the moment their names are read: nothing is written over them.
void protect_inputs(Watch& watch, const std::vector<std::string>& names, const Environment& env) {
    for (const std::string& name : names)
        if (!trim_leading(name).empty()) watch.protect(resolve_name(trim_leading(name), env));
}

// The directive group, or the stop with the line and reason; warnings for doubtful values.
void read_directive_group(std::istream& in, Listing& listing, Diagnostics& diagnostics,
                          Directives& d, Watch& watch, const Environment& env) {
    DirectiveProblem problem;
    const bool read = read_directives(in, d, &problem);
    protect_inputs(
        watch, read ? std::vector{d.PED_FILE, d.PROB_FILE, d.BPROP_FILE} : problem.file_names, env);
    if (!read)
        fatal_stop(listing, {" ", "Error reading the directive file"}, StopEnd::program_terminates,
                   {"<stdin>", problem.line, 0, problem.text});
    for (const std::string& warning : directive_warnings(d)) diagnostics.warning(warning);
}

std::string doubtful_dates(const ErrorFiles& errors) {
    return counted(errors.ERROR[8], "doubtful birth date or sort value",
                   "doubtful birth dates or sort values") +
           " (born before, or too soon after, a parent, or out of the accepted range) in " +
           errors.files[7].name();
}

void inbreeding_dropped(Diagnostics& diagnostics, const ErrorFiles& errors) {
    diagnostics.warning(
        "INBREED='YES', but no inbreeding coefficients are computed: " + doubtful_dates(errors) +
        "; correct them to get the inbreeding column of .PED");
}

// Every directive in force, in the order of the echo.
std::vector<DirectiveValue> directive_values(const Directives& d) {
    const auto number = [](const char* key, int32_t v) {
        return DirectiveValue{key, false, v, {}};
    };
    const auto text = [](const char* key, const std::string& v) {
        return DirectiveValue{key, true, 0, std::string(trim_trailing(v))};
    };
    return {number("MAX_NIV", d.MAX_NIV),
            number("MAX_A", d.MAX_A),
            number("MAX_PHG", d.MAX_PHG),
            text("PED_FILE", d.PED_FILE),
            text("PROB_FILE", d.PROB_FILE),
            text("BPROP_FILE", d.BPROP_FILE),
            number("N_BPOP", d.N_BPOP),
            number("OPT1", d.OPT1),
            number("OPT2", d.OPT2),
            number("GPRUNE", d.GPRUNE),
            text("DOB_CHECK", d.DOB_CHECK),
            number("MIN_ACC_BD", d.MIN_ACC_BD),
            number("MAX_ACC_BD", d.MAX_ACC_BD),
            number("MIN_D_SBD", d.MIN_D_SBD),
            number("MIN_D_DBD", d.MIN_D_DBD),
            text("INBREED", d.INBREED)};
}

// The names of the base populations whose contributions the summary gives by cohort.
std::vector<std::string> base_population_names(const Pedigree& pedigree, bool use_bprop) {
    std::vector<std::string> names;
    for (int32_t b = 1; b <= pedigree.N_BPOP; ++b)
        names.push_back(use_bprop ? std::to_string(b) : std::to_string(pedigree.PHG_LIST[b].ID));
    return names;
}

// Before any output is written over, an earlier summary to be replaced is removed (unless it
// is a file of the run): a run that never gets to write its own leaves none to be taken for it.
// An earlier report stays until the new one replaces it.
void remove_earlier_summary(RunState& state, const Directives& d, const FileNames& names) {
    Watch& watch = *state.watch;
    for (const std::string& name : output_names(d, names.prob)) watch.protect(name);
    if (watch.summary && !watch.is_run_file(*watch.summary)) remove_earlier(*watch.summary);
}

void run_phases(std::istream& in, Listing& listing, Progress& progress, Diagnostics& diagnostics,
                RunState& state) {
    RunRecord& record = state.record;
    // Each phase starts here; with a summary, the document as it stands is kept for a run
    // interrupted in that phase.
    const auto phase = [&](const char* name) {
        progress.begin(name);
        if (state.summary)
            state.watch->snapshot(
                summary_text(SummaryForm::json, record, progress.phases(), diagnostics, 0), name);
    };
    phase("directives and files");
    listing.first_page();
    banner(listing);

    const Environment env = Environment::read();
    Directives d;
    read_directive_group(in, listing, diagnostics, d, *state.watch, env);
    record.directives_read = true;
    record.directives = directive_values(d);
    Settings settings;
    derive_birth_date_mode(d, listing.date(), settings);

    std::unique_ptr<HalvingTable> P_HALVE;
    try {
        P_HALVE = std::make_unique<HalvingTable>(d.MAX_NIV);
    } catch (const std::bad_alloc&) {
        allocation_failure(listing, "P_HALVE");
    }

    FileNames names;
    echo_directives(listing, d, settings, env, names);
    record.directives = directive_values(d);
    record.inputs = {{"pedigree", names.ped}, {"trace", names.prob}};
    if (!names.bprop.empty()) record.inputs.push_back({"breed_proportions", names.bprop});
    check_input_files(listing, names);

    RunFiles& files = state.files;
    remove_earlier_summary(state, d, names);
    open_files(listing, d, names, files);
    for (const std::string& name : output_names(d, names.prob)) state.watch->protect(name);

    phase("reading the input");
    Pedigree& pedigree = state.pedigree;
    const InputSources inputs{{names.ped, files.ped.get()},
                              {names.prob, files.prob.get()},
                              {names.bprop, files.bprop.get()}};
    const ReadOptions read_options{d.MAX_A,
                                   d.MAX_PHG,
                                   d.N_BPOP,
                                   d.MIN_ACC_BD,
                                   d.MAX_ACC_BD,
                                   settings.ANE_MIN_DIFF,
                                   settings.dob_check,
                                   settings.use_bprop};
    read_input(listing, read_options, inputs, files.errors, pedigree, diagnostics);

    const ReportSettings report_settings{pedigree.N_BPOP, d.MIN_D_SBD, d.MIN_D_DBD, d.MIN_ACC_BD,
                                         d.MAX_ACC_BD};
    phase("error reports");
    report_input_errors(listing, report_settings, pedigree, files.errors);
    phase("tracing");
    trace_pedigree(d.MAX_NIV, pedigree, files.errors);
    write_missing_phgs(pedigree, files.errors);
    report_tracing_errors(listing, pedigree, files.errors);
    phase("pedigree statistics");
    note_statistics(record, pedigree, files.errors);
    if (!settings.inbreed)
        record.inbreeding_reason =
            "not asked for: INBREED='" + std::string(trim_trailing(d.INBREED)) + "'";
    const bool inbreeding = pedigree_statistics(
        listing, pedigree, files.errors, settings.inbreed,
        stop_causes(listing, pedigree, files.errors, d, inputs, diagnostics, record));
    if (settings.inbreed && !inbreeding) {
        inbreeding_dropped(diagnostics, files.errors);
        record.inbreeding_reason = doubtful_dates(files.errors);
    }

    phase("order, generations, walks");
    const std::vector<int32_t> IW2 = phg_output_order(listing, pedigree);
    const GeneticValues genetics = genetic_values(listing, pedigree, *P_HALVE, d.GPRUNE);
    if (inbreeding) {
        phase("inbreeding");
        inbreeding_coefficients(pedigree, genetics.order, progress, {env.threads, 0});
    }
    ContributionSums* by_cohort = nullptr;
    if (state.summary) {
        phase("summary values");
        note_traced_values(record, pedigree, genetics.K_GEN, genetics.order, inbreeding,
                           settings.dob_check, d.OPT1 == 2);
        if (d.OPT1 == 2) {
            record.base_populations = base_population_names(pedigree, settings.use_bprop);
            by_cohort = &record.contributions;
        }
    }

    phase("writing the traced pedigree");
    const OutputOptions output{d.OPT1, d.OPT2, inbreeding, settings.use_bprop, env.threads};
    const OutputFiles output_files{files.PED, files.PRUNE, files.PHG_RENUM, files.BCONTRIB,
                                   files.HET};
    OutputResults results;
    write_traced_pedigree(listing, output, pedigree, genetics, output_files, results, progress,
                          by_cohort);
    phase("PHG tables");
    phg_tables(listing, settings.use_bprop, pedigree, IW2, genetics.BIDRAG, results);
    write_phg_renumbering(output, pedigree, IW2, files.PHG_RENUM, results);
    phase("closing reports and pruning");
    if (d.OPT1 == 2) traced_statistics(listing, pedigree, results);
    write_pruned_pedigree(output, pedigree, genetics.order, files.PRUNE, results);
    describe_output_files(listing, output, names.prob, results);

    close_files(files);
    listing.blank();
    listing.text("EOJ");
    progress.end();
}

// What the run left behind for the summary: the input files' records, the error kinds and the
// files on disk.
void note_run_end(RunState& state) {
    RunRecord& record = state.record;
    const Pedigree& p = state.pedigree;
    for (FileRecord& input : record.inputs) {
        const std::string& role = input.role;
        input.records = role == "pedigree" ? p.N_PED_RECORDS
                        : role == "trace"  ? p.N_PROB_RECORDS
                                           : p.N_BPROP_RECORDS;
    }
    note_error_kinds(record, state.files.errors);
    RunFiles& f = state.files;
    record.files_written.clear();
    for (int kind = 1; kind <= ERROR_KINDS; ++kind) {
        const OutFile& e = f.errors.file(kind);
        if (e.on_disk())
            record.files_written.push_back(
                {"error_" + std::to_string(kind), e.name(), e.records()});
    }
    const std::pair<const char*, const OutFile*> outputs[] = {{"PED", &f.PED},
                                                              {"PRUNE", &f.PRUNE},
                                                              {"BCONTRIB", &f.BCONTRIB},
                                                              {"HET", &f.HET},
                                                              {"PHG_RENUM", &f.PHG_RENUM}};
    for (const auto& [role, file] : outputs)
        if (file->on_disk()) record.files_written.push_back({role, file->name(), file->records()});
}

// Writes the summary and the report asked for; the exit status, 16 when one cannot be written.
int write_summary_files(RunState& state, const Progress& progress, Diagnostics& diagnostics,
                        int status) {
    Watch& watch = *state.watch;
    const auto write = [&](const std::optional<Target>& target, SummaryForm form,
                           const char* what) {
        if (!target) return;
        std::string error;
        if (watch.is_run_file(*target)) {
            error = "this is the listing, an input or an output file of the run; give the " +
                    std::string(what) + " a name of its own";
        } else {
            try {
                const std::string text =
                    summary_text(form, state.record, progress.phases(), diagnostics, status);
                watch.start_writing(*target);
                if (write_whole(*target, text, error)) return;
            } catch (const std::bad_alloc&) {
                error = allocation_cause(std::string("the ") + what);
            }
        }
        diagnostics.error(
            {target->name, 0, 0, std::string("the ") + what + " was not written: " + error});
        status = STOP_CODE;
    };
    try {
        note_run_end(state);
    } catch (const std::bad_alloc&) {
        diagnostics.error({{}, 0, 0, allocation_cause("the summary")});
        return STOP_CODE;
    }
    // The report first: when it cannot be written, the summary tells so.
    write(watch.report, SummaryForm::report, "report");
    write(watch.summary, SummaryForm::json, "summary");
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
            std::fprintf(err, "kinstrom: %s: error: the %s cannot be written there: %s\n",
                         name->c_str(), what, error.c_str());
            return false;
        }
    }
    if (summary && report && summary->same_file(*report)) {
        std::fprintf(err,
                     "kinstrom: error: --summary and --report name the same file '%s': give "
                     "each its own name\n",
                     options.summary.c_str());
        return false;
    }
    return true;
}

}  // namespace

int run(std::istream& in, std::FILE* out, std::FILE* err, const RunOptions& options) {
    std::optional<Target> summary, report;
    if (!find_summary_targets(options, err, summary, report)) return STOP_CODE;
    RunState state;
    state.summary = summary || report;
    // The program's own watch lives as long as the program; another run gets one of its own.
    std::unique_ptr<Watch> own_watch;
    if (options.watch_signals && state.summary) {
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
    dattim(date);
    Listing listing(out, date);
    Diagnostics diagnostics(err);
    int status = 0;
    Progress progress = Progress::from_environment();
    StopCause cause;
    state.record.run_date = listing.date_text();
    try {
        run_phases(in, listing, progress, diagnostics, state);
    } catch (const FatalStop& stop) {
        status = stop.status;
        cause = stop.cause;
    } catch (const std::bad_alloc&) {
        // Tables name themselves when they cannot be allocated; this is any other request.
        print_allocation_failure(listing, "memory", false);
        status = STOP_CODE;
        cause.text = allocation_cause("memory");
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
