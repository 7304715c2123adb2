#include "run/driver.hpp"

#include <algorithm>
#include <memory>
#include <new>
#include <string>

#include "genetics/genetics.hpp"
#include "listing/listing.hpp"
#include "listing/progress.hpp"
#include "output/output.hpp"
#include "pedigree/reading.hpp"
#include "reports/closing.hpp"
#include "reports/error_reports.hpp"
#include "reports/statistics.hpp"
#include "run/directives.hpp"
#include "run/files.hpp"
#include "trace/tracing.hpp"

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

void run_phases(std::istream& in, Listing& listing, Progress& progress) {
    progress.begin("directives and files");
    listing.first_page();
    banner(listing);

    Directives d;
    if (!read_directives(in, d))
        fatal_stop(listing, {" ", "Error reading the directive file"}, StopEnd::program_terminates);
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
    read_input(listing, read_options, inputs, files.errors, pedigree);

    const ReportSettings report_settings{pedigree.N_BPOP, d.MIN_D_SBD, d.MIN_D_DBD, d.MIN_ACC_BD,
                                         d.MAX_ACC_BD};
    progress.begin("error reports");
    report_input_errors(listing, report_settings, pedigree, files.errors);
    progress.begin("tracing");
    trace_pedigree(d.MAX_NIV, pedigree, files.errors);
    write_missing_phgs(pedigree, files.errors);
    report_tracing_errors(listing, pedigree, files.errors);
    progress.begin("pedigree statistics");
    const bool inbreeding = pedigree_statistics(listing, pedigree, files.errors, settings.inbreed);

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

int run(std::istream& in, std::FILE* out) {
    RunDate date;
    dattim(date);
    Listing listing(out, date);
    int status = 0;
    Progress progress = Progress::from_environment();
    try {
        run_phases(in, listing, progress);
    } catch (const FatalStop& stop) {
        status = stop.status;
    } catch (const std::bad_alloc&) {
        // Tables name themselves when they cannot be allocated; this is any other request.
        print_allocation_failure(listing, "memory", false);
        status = STOP_CODE;
    }
    progress.end();
    if (!listing.flush()) {
        std::fputs("kinstrom: writing the listing failed\n", stderr);
        return STOP_CODE;
    }
    if (status != 0) std::fprintf(stderr, "kinstrom: run stopped, exit status %d\n", status);
    return status;
}

}  // namespace kinstrom
