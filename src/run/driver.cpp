#include "run/driver.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "diagnostics/diagnostics.hpp"
#include "genetics/genetics.hpp"
#include "listing/listing.hpp"
#include "listing/progress.hpp"
#include "output/output.hpp"
#include "pedigree/reader.hpp"
#include "pedigree/reading.hpp"
#include "reports/closing.hpp"
#include "reports/error_reports.hpp"
#include "reports/statistics.hpp"
#include "run/directives.hpp"
#include "run/files.hpp"
#include "trace/tracing.hpp"
#include "trace/untraceable.hpp"

namespace kinstrom {

namespace {

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
                            Diagnostics& diagnostics) {
    StatisticsStops out;
    const int32_t untraceable = errors.ERROR[6], marked = errors.ERROR[7];
    if (untraceable > 0) {
        for (const std::string& line :
             explain_untraceable(listing, pedigree, d.MAX_NIV, inputs.ped)) {
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

// The directive group, or the stop with the line and reason; warnings for doubtful values.
void read_directive_group(std::istream& in, Listing& listing, Diagnostics& diagnostics,
                          Directives& d) {
    DirectiveProblem problem;
    if (!read_directives(in, d, &problem))
        fatal_stop(listing, {" ", "Error reading the directive file"}, StopEnd::program_terminates,
                   {"<stdin>", problem.line, 0, problem.text});
    for (const std::string& warning : directive_warnings(d)) diagnostics.warning(warning);
}

void inbreeding_dropped(Diagnostics& diagnostics, const ErrorFiles& errors) {
    diagnostics.warning(
        "INBREED='YES', but no inbreeding coefficients are computed: " +
        counted(errors.ERROR[8], "doubtful birth date or sort value",
                "doubtful birth dates or sort values") +
        " (born before, or too soon after, a parent, or out of the accepted range) in " +
        errors.files[7].name() + "; correct them to get the inbreeding column of .PED");
}

void run_phases(std::istream& in, Listing& listing, Progress& progress, Diagnostics& diagnostics) {
    progress.begin("directives and files");
    listing.first_page();
    banner(listing);

    Directives d;
    read_directive_group(in, listing, diagnostics, d);
    Settings settings;
    derive_birth_date_mode(d, listing.date(), settings);

    std::unique_ptr<HalvingTable> P_HALVE;
    try {
        P_HALVE = std::make_unique<HalvingTable>(d.MAX_NIV);
    } catch (const std::bad_alloc&) {
        allocation_failure(listing, "P_HALVE");
    }

    const Environment env = Environment::read();
    FileNames names;
    echo_directives(listing, d, settings, env, names);
    check_input_files(listing, names);

    RunFiles files;
    open_files(listing, d, names, files);

    progress.begin("reading the input");
    Pedigree pedigree;
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
    progress.begin("error reports");
    report_input_errors(listing, report_settings, pedigree, files.errors);
    progress.begin("tracing");
    trace_pedigree(d.MAX_NIV, pedigree, files.errors);
    write_missing_phgs(pedigree, files.errors);
    report_tracing_errors(listing, pedigree, files.errors);
    progress.begin("pedigree statistics");
    const bool inbreeding =
        pedigree_statistics(listing, pedigree, files.errors, settings.inbreed,
                            stop_causes(listing, pedigree, files.errors, d, inputs, diagnostics));
    if (settings.inbreed && !inbreeding) inbreeding_dropped(diagnostics, files.errors);

    progress.begin("order, generations, walks");
    const std::vector<int32_t> IW2 = phg_output_order(listing, pedigree);
    const GeneticValues genetics = genetic_values(listing, pedigree, *P_HALVE, d.GPRUNE);
    if (inbreeding) {
        progress.begin("inbreeding");
        inbreeding_coefficients(pedigree, genetics.order, progress, {env.threads, 0});
    }

    progress.begin("writing the traced pedigree");
    const OutputOptions output{d.OPT1, d.OPT2, inbreeding, settings.use_bprop};
    const OutputFiles output_files{files.PED, files.PRUNE, files.PHG_RENUM, files.BCONTRIB,
                                   files.HET};
    OutputResults results;
    write_traced_pedigree(listing, output, pedigree, genetics, output_files, results, progress);
    progress.begin("PHG tables");
    phg_tables(listing, settings.use_bprop, pedigree, IW2, genetics.BIDRAG, results);
    write_phg_renumbering(output, pedigree, IW2, files.PHG_RENUM, results);
    progress.begin("closing reports and pruning");
    if (d.OPT1 == 2) traced_statistics(listing, pedigree, results);
    write_pruned_pedigree(output, pedigree, genetics.order, files.PRUNE, results);
    describe_output_files(listing, output, names.prob, results);

    close_files(files);
    listing.blank();
    listing.text("EOJ");
    progress.end();
}

}  // namespace

int run(std::istream& in, std::FILE* out, std::FILE* err) {
    RunDate date;
    dattim(date);
    Listing listing(out, date);
    Diagnostics diagnostics(err);
    int status = 0;
    Progress progress = Progress::from_environment();
    StopCause cause;
    try {
        run_phases(in, listing, progress, diagnostics);
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
        return STOP_CODE;
    }
    return status;
}

}  // namespace kinstrom
