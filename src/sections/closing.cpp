#include "sections/closing.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "listing/numbers.hpp"

namespace kinstrom {

namespace {

// Page bookkeeping of the closing sections (Listing::reserve, Listing::reserve_after). A table's
// block is checked with its rows: the size below plus the most rows the table can print.
namespace section {
// PHG table: two blanks, title, underline, blank, "Direct links", blank, three column-title lines,
// dashes; after the rows dashes, SUM, dashes: 13 lines besides the PHG rows (it prints 14).
constexpr int32_t PHG_TABLE = 13;
// Base-population table: two blanks, title, underline, "Contribution", blank, three column-title
// lines, dashes; after the rows dashes, SUM, dashes: 13 lines besides the base-population rows.
constexpr int32_t BASE_POPULATION_TABLE = 13;
// Statistics heading (two blanks, title, underline) with the first contribution table (blank,
// title, underline, blank, column titles, rule; rule after the rows): 11 lines besides the rows.
constexpr int32_t STATISTICS_FIRST_TABLE = 11;
// Second contribution table: two blanks, title, underline, blank, column titles, rule; rule after
// the rows: 8 lines besides the base-population rows.
constexpr int32_t CONTRIBUTION_TABLE = 8;
// Each heterozygosity table: two blanks, title, underline, blank, "Base populations" and its
// underline, column titles, rule; rule after the rows: 10 lines besides the pair rows.
constexpr int32_t HETEROZYGOSITY_TABLE = 10;
// The output-file descriptions: a section starts a new page when more than 75 - k lines are used
// (k its size), so that it fits below.
// .PED: two blanks, title, underline, blank, rule; four opening lines; at most ten format and
// variable lines; rule: 22 lines (it prints at most 21).
constexpr int32_t PED = 22;
constexpr int32_t PED_AFTER = Listing::PAGE_LINES - PED;
// .PRUNE: blank, three file lines, blank; at most eight format and variable lines; rule: 14 lines.
constexpr int32_t PRUNE = 14;
constexpr int32_t PRUNE_AFTER = Listing::PAGE_LINES - PRUNE;
// .PHG_RENUM: blank, four file lines, blank, two format lines, blank, three variable lines, rule:
// 13 lines.
constexpr int32_t PHG_RENUM = 13;
constexpr int32_t PHG_RENUM_AFTER = Listing::PAGE_LINES - PHG_RENUM;
// .BCONTRIB: blank, three file lines, blank; at most seven format and variable lines; rule: 15
// lines (it prints at most 13).
constexpr int32_t BCONTRIB = 15;
constexpr int32_t BCONTRIB_AFTER = Listing::PAGE_LINES - BCONTRIB;
// .HET, the last section: room for 15 lines (it prints at most 14: blank, three file lines,
// blank, at most eight format and variable lines, rule); its lines are not counted (0).
constexpr int32_t HET_ROOM = 15;
constexpr int32_t HET_AFTER = Listing::PAGE_LINES - HET_ROOM;
constexpr int32_t HET = 0;
}  // namespace section

// Writes `text` from 1-based column `column`, over whatever stands there.
void place(std::string& line, int column, std::string_view text) {
    const auto start = static_cast<std::size_t>(column - 1);
    if (line.size() < start + text.size()) line.resize(start + text.size(), ' ');
    line.replace(start, text.size(), text);
}

std::string placed(std::initializer_list<std::pair<int, std::string_view>> texts) {
    std::string line = " ";
    for (const auto& [column, text] : texts) place(line, column, text);
    return line;
}

std::string dashes(int column, int count) {
    std::string line = " ";
    place(line, column, std::string(static_cast<std::size_t>(count), '-'));
    return line;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// PHG contribution tables

namespace {

// Genomes and gene proportions, over all traced individuals and over the marked ones.
struct Contribution {
    double genomes_all = 0, prop_all = 0, genomes_marked = 0, prop_marked = 0;
};

void phg_table_heading(Listing& listing, bool bprop) {
    listing.blank();
    listing.blank();
    if (bprop) {
        listing.text("PHANTOM PARENT GROUPS");
        listing.text(std::string(21, '-'));
    } else {
        listing.text("PHANTOM PARENT GROUPS = BASE POPULATIONS(B POP)");
        listing.text(std::string(47, '-'));
    }
    listing.blank();
    listing.text("Direct links and contribution expressed as no. of genomes and gene proportions");
    listing.blank();
    if (bprop) {
        listing.raw(placed({{51, "All in traced ped."}, {72, "Marked for traced"}}));
        listing.raw(placed({{47, std::string(22, '-')}, {71, std::string(22, '-')}}));
        listing.raw(placed({{18, "PHG"},
                            {29, "As Sire "},
                            {42, "As Dam    "},
                            {50, "Genomes"},
                            {60, "Gene prop"},
                            {74, "Genomes"},
                            {84, "Gene prop"}}));
    } else {
        listing.raw(placed({{56, "All in traced ped."}, {81, "Marked for traced"}}));
        listing.raw(placed({{54, std::string(22, '-')}, {78, std::string(22, '-')}}));
        listing.raw(placed({{18, "PHG  B POP"},
                            {36, "Sire "},
                            {49, "Dam    "},
                            {57, "Genomes"},
                            {67, "Gene prop"},
                            {81, "Genomes"},
                            {91, "Gene prop"}}));
    }
}

Row contribution_row(Row row, const Contribution& c) {
    return row.real(c.genomes_all, 12, 2)
        .real(c.prop_all, 12, 8)
        .real(c.genomes_marked, 12, 2)
        .real(c.prop_marked, 12, 8);
}

// The base-population table: the PHG rows' contributions spread by breed proportion.
void base_population_table(Listing& listing, const std::vector<Contribution>& BP_C,
                           const Row& sum_row) {
    listing.reserve(section::BASE_POPULATION_TABLE + static_cast<int32_t>(BP_C.size()));
    listing.blank();
    listing.blank();
    listing.text("BASE POPULATIONS");
    listing.text(std::string(16, '-'));
    listing.text("Contribution expressed as genomes and gene proportions");
    listing.blank();
    listing.raw(placed({{46, "All     "}, {69, "Traced     "}}));
    listing.raw(placed({{39, std::string(22, '-')}, {63, std::string(22, '-')}}));
    listing.raw(placed({{10, "Base population"},
                        {42, "Genomes"},
                        {52, "Gene prop"},
                        {66, "Genomes"},
                        {76, "Gene prop"}}));
    listing.raw(dashes(2, 83));
    for (std::size_t b = 0; b < BP_C.size(); ++b)
        listing.row(
            contribution_row(Row().integer(static_cast<int64_t>(b) + 1, 15).at(37), BP_C[b]));
    listing.raw(dashes(2, 83));
    listing.row(sum_row);
    listing.raw(dashes(2, 83));
}

}  // namespace

void phg_tables(Listing& listing, bool use_bprop, const Pedigree& pedigree,
                const std::vector<int32_t>& IW2, const Bidrag& BIDRAG,
                const OutputResults& results) {
    const int32_t n_phg = pedigree.N_PHG1;
    const int32_t ANTAL1 = results.ANTAL1, ANTAL2 = pedigree.N_PROB;
    const bool bprop = use_bprop;
    const int32_t n_bpop = bprop ? pedigree.N_BPOP : 0;
    std::vector<Contribution> BP_C(at(n_bpop > 0 ? n_bpop : 0));

    listing.reserve(section::PHG_TABLE + n_phg);
    phg_table_heading(listing, bprop);
    const int width = bprop ? 91 : 98;
    listing.raw(dashes(2, width));

    double sum_prop_all = 0, sum_prop_marked = 0;
    for (int32_t j = 1; j <= n_phg; ++j) {
        const int32_t k = IW2[at(j)];
        if (!phg_in_tables(pedigree, results, k)) continue;
        const int32_t as_sire = results.ND_PHG[2 * at(k)], as_dam = results.ND_PHG[2 * at(k) + 1];
        Contribution c{BIDRAG.all[at(k)], 0, BIDRAG.marked[at(k)], 0};
        if (ANTAL1 > 0) {
            c.prop_all = c.genomes_all / ANTAL1;
            sum_prop_all += c.prop_all;
        }
        if (ANTAL2 > 0) {
            c.prop_marked = c.genomes_marked / ANTAL2;
            sum_prop_marked += c.prop_marked;
        }
        Row row;
        row.integer(pedigree.PHG_LIST[k].ID, 20);
        if (bprop) {
            row.integer(as_sire, 11).integer(as_dam, 12);
        } else {
            row.integer(k, 6).integer(as_sire, 12).integer(as_dam, 12);
        }
        listing.row(contribution_row(row, c));
        for (int32_t b = 1; b <= n_bpop; ++b) {
            const double p = pedigree.B_PROP.at(b, k);
            Contribution& sum = BP_C[at(b - 1)];
            sum.genomes_all += c.genomes_all * p;
            sum.prop_all += c.prop_all * p;
            sum.genomes_marked += c.genomes_marked * p;
            sum.prop_marked += c.prop_marked * p;
        }
    }
    Contribution total{0, sum_prop_all, 0, sum_prop_marked};
    for (int32_t k = 1; k <= n_phg; ++k) {
        total.genomes_all += BIDRAG.all[at(k)];
        total.genomes_marked += BIDRAG.marked[at(k)];
    }
    const auto sum_row = [&](int column) {
        return contribution_row(Row().text("SUM ").at(column), total);
    };
    listing.raw(dashes(2, width));
    listing.row(sum_row(bprop ? 45 : 52));
    listing.raw(dashes(2, width));
    if (bprop) base_population_table(listing, BP_C, sum_row(37));
}

// ---------------------------------------------------------------------------------------------
// Traced-pedigree statistics

namespace {

struct Summary {
    int32_t n;
    double sum, squares, min, max;
};

// The counts, the average, the S.D. and (for the tables of all individuals) the minimum are
// 32-bit reals: each is rounded to single precision before it is printed.
std::string statistics_values(const Summary& s, bool min_single) {
    const auto n = static_cast<double>(static_cast<float>(s.n));
    const double average = s.sum / n;
    double sd = 0;
    if (s.n > 1) {
        const double spread = s.squares - s.sum * s.sum / n;
        sd = spread < 0 ? 0 : std::sqrt(spread / static_cast<double>(static_cast<float>(s.n - 1)));
    }
    const double min = min_single ? static_cast<double>(static_cast<float>(s.min)) : s.min;
    return general_field(static_cast<double>(static_cast<float>(average))) +
           general_field(static_cast<double>(static_cast<float>(sd))) + general_field(min) +
           general_field(s.max);
}

}  // namespace

void traced_statistics(Listing& listing, const Pedigree& pedigree, const OutputResults& results) {
    const BreedSums& s = results.sums;
    const int32_t n_bpop = pedigree.N_BPOP > 0 ? pedigree.N_BPOP : 0;
    const auto pairs = static_cast<int32_t>(s.HET_S.size());
    const int32_t NIN_PED = results.NIN_PED;
    const std::string value_header =
        "      Average          S.D.           Min value        Max value";
    const std::string rule = " " + std::string(89, '-');

    listing.reserve(section::STATISTICS_FIRST_TABLE + n_bpop);
    listing.raw("");
    listing.raw("");
    listing.text("          Simple statistics for the traced pedigree");
    listing.text(std::string(10, ' ') + std::string(41, '-'));

    for (int table = 1; table <= 2; ++table) {
        if (table == 2) {
            listing.reserve(section::CONTRIBUTION_TABLE + n_bpop);
            listing.raw("");
        }
        listing.raw("");
        if (table == 1) {
            listing.text("    Contribution from base populations to all individuals");
            listing.text("    " + std::string(49, '-'));
        } else {
            listing.text(
                "    Contribution from base populations to individuals with contribution > 0");
            listing.text("    " + std::string(67, '-'));
        }
        listing.raw("");
        listing.text("Base population     N-obs" + value_header);
        listing.raw(rule);
        for (int32_t j = 1; j <= n_bpop; ++j) {
            const std::size_t u = at(j - 1);
            if (!(s.MAX_ANDEL[u] > 0)) continue;
            const int32_t n = table == 1 ? NIN_PED : s.N_ANDEL[u];
            const double min = table == 1 && s.N_ANDEL[u] < NIN_PED ? 0.0 : s.MIN_ANDEL[u];
            listing.row(Row().integer(j, 8).at(19).integer(n, 8).text(statistics_values(
                {n, s.ANDEL_SUM[u], s.ANDEL_SSQ[u], min, s.MAX_ANDEL[u]}, table == 1)));
        }
        listing.raw(rule);
    }

    for (int table = 3; table <= 4; ++table) {
        listing.reserve(section::HETEROZYGOSITY_TABLE + pairs);
        listing.raw("");
        listing.raw("");
        if (table == 3) {
            listing.text("    Heterozygosity all individuals");
            listing.text("    " + std::string(26, '-'));
        } else {
            listing.text("    Heterozygosity for individuals with specific heterozygosity > 0");
            listing.text("    " + std::string(59, '-'));
        }
        listing.raw("");
        listing.text("Base populations");
        listing.text("----------------");
        listing.text("     1     2        N-obs" + value_header);
        listing.raw(rule);
        std::size_t l = 0;
        for (int32_t j1 = 1; j1 <= n_bpop - 1; ++j1) {
            for (int32_t j2 = j1 + 1; j2 <= n_bpop; ++j2, ++l) {
                if (table == 4 && s.N_HET[l] <= 0) continue;
                if (!(s.MAX_HET[l] > 0)) continue;
                const int32_t n = table == 3 ? NIN_PED : s.N_HET[l];
                const double min = table == 3 && s.N_HET[l] < NIN_PED ? 0.0 : s.MIN_HET[l];
                listing.row(
                    Row().integer(j1, 6).integer(j2, 6).at(19).integer(n, 8).text(statistics_values(
                        {n, s.HET_S[l], s.HET_SS[l], min, s.MAX_HET[l]}, table == 3)));
            }
        }
        listing.raw(rule);
    }
}

// ---------------------------------------------------------------------------------------------
// Output-file descriptions

namespace {

// Sections of the description of the output files: free-format texts, " " a blank line.
class Descriptions {
  public:
    Descriptions(Listing& listing, const std::string& base_name, bool renumbered, bool text_ids)
        : l_(listing), base_(base_name), renumbered_(renumbered), text_ids_(text_ids) {}

    void text_lines(std::initializer_list<std::string> lines) {
        static constexpr std::string_view LONG = "(long integer)";
        for (const std::string& line : lines) {
            const std::size_t type = line.find(LONG);
            if (text_ids_ && type != std::string::npos &&
                line.find("Original") != std::string::npos &&
                line.find("PHG") == std::string::npos) {
                l_.text(line.substr(0, type) + "(text)");
            } else {
                l_.text(line);
            }
        }
    }
    // The opening of a file's section.
    void file_lines(const std::string& what, int32_t count, const char* suffix) {
        text_lines({" ", what, "It contains " + int_text(count) + " records",
                    "File name: " + base_ + suffix, " "});
    }

    void ped(int32_t count, bool inbreeding) {
        l_.reserve_after(section::PED_AFTER, section::PED);
        text_lines({" ", " ", "          Description of output files",
                    std::string(10, ' ') + std::string(27, '-'), " ", RULE});
        text_lines({"A pedigree file has been created.",
                    "It contains " + int_text(count) + " records", "File name: " + base_ + ".PED",
                    " "});
        const std::string n = inbreeding ? "7" : "6";
        if (renumbered_) {
            text_lines(
                {"The format is ASCII and it has " + n + " variables", " ",
                 "The variables are:", "   1. Renumbered ID          (integer)",
                 "   2. Renumbered sire ID     (integer)", "   3. Renumbered dam ID      (integer)",
                 "   4. Birth date (sort var.) (integer)", "   5. Known generations      (real)"});
            if (inbreeding) text_lines({"   6. Inbreeding coefficent  (real)"});
            text_lines({"   " + n + ". Original ID           (long integer)"});
        } else {
            text_lines({inbreeding ? "The format is ASCII and it has 6 variables"
                                   : "The format is ASCII and it has 5 variables",
                        " ", "The variables are:", "   1. Original ID            (long integer)",
                        "   2. Original sire ID       (long integer)",
                        "   3. Original dam ID        (long integer)",
                        "   4. Birth date (sort var.) (integer)",
                        "   5. Known generations      (real)"});
            if (inbreeding) text_lines({"   6. Inbreeding coefficent  (real)"});
        }
        text_lines({RULE});
    }

    void prune(int32_t count) {
        l_.reserve_after(section::PRUNE_AFTER, section::PRUNE);
        file_lines("A pruned pedigree file has been created.", count, ".PRUNE");
        if (renumbered_) {
            text_lines({"The format is ASCII and it has 5 variables", " ",
                        "The variables are:", "   1. Renumbered ID          (integer)",
                        "   2. Renumbered sire ID     (integer)",
                        "   3. Renumbered dam ID      (integer)",
                        "   4. Birth date (sort var.) (integer)",
                        "   5. Original ID            (long integer)", RULE});
        } else {
            text_lines({"The format is ASCII and it has 4 variables", " ",
                        "The variables are:", "   1. Original ID            (long integer)",
                        "   2. Original sire ID       (long integer)",
                        "   3. Original dam ID        (long integer)",
                        "   4. Birth date (sort var.) (integer)", RULE});
        }
    }

    void phg_renum(int32_t count) {
        l_.reserve_after(section::PHG_RENUM_AFTER, section::PHG_RENUM);
        text_lines({" ", "A file with renumbered phantom parent groups ID's has been created.",
                    "-1 times the assigned base population number is used as the renumbered PHG ID",
                    "It contains " + int_text(count) + " records",
                    "File name: " + base_ + ".PHG_RENUM", " ",
                    "The format is ASCII and it has 2 variables", "(2 integer).", " ",
                    "The variables are:", "   1. The original PHG ID (long integer)",
                    "   2. Renumbered PHG ID   (integer)", RULE});
    }

    void bcontrib(int32_t count) {
        l_.reserve_after(section::BCONTRIB_AFTER, section::BCONTRIB);
        file_lines("A file with breed (PHG) contributions has been created.", count, ".BCONTRIB");
        if (renumbered_) {
            text_lines({"The format is ASCII and it has 4 variables", " ",
                        "The variables are:", "   1. Renumbered ID                      (integer)",
                        "   2. Renumbered breed (PHG) ID          (integer)",
                        "   3. Contribution from this breed (PHG) (real)",
                        "   4. Original ID                        (long integer)", RULE});
        } else {
            text_lines({"The format is ASCII and it has 3 variables", " ", "The variables are:",
                        "   1. Original ID                       (long integer)",
                        "   2. Renumbered breed (PHG) ID          (integer)",
                        "   3. Contribution from this breed (PHG) (real)", RULE});
        }
    }

    void het(int32_t count) {
        l_.reserve_after(section::HET_AFTER, section::HET);
        file_lines("A file with breed (PHG) heterozygosity has been created.", count, ".HET");
        if (renumbered_) {
            text_lines(
                {"The format is ASCII and it has 5 variables", " ", "The variables are:",
                 "   1. Renumbered ID                                           (integer)",
                 "   2. Renumbered breed (PHG) ID for breed (PHG) 1             (integer)",
                 "   3. Renumbered breed (PHG) ID for breed (PHG) 2             (integer)",
                 "   4. Heterozygosity with respect to these two breeds (PHG's) (real)",
                 "   5. Original ID                                             (long integer)"});
        } else {
            text_lines(
                {"The format is ASCII and it has 4 variables", " ", "The variables are:",
                 "   1. Original ID                                             (long integer)",
                 "   2. Renumbered breed (PHG) ID for breed (PHG) 1             (integer)",
                 "   3. Renumbered breed (PHG) ID for breed (PHG) 2             (integer)",
                 "   4. Heterozygosity with respect to these two breeds (PHG's) (real)"});
        }
        text_lines({RULE});
    }

  private:
    inline static const std::string RULE = std::string(79, '-');
    Listing& l_;
    const std::string& base_;
    bool renumbered_;
    bool text_ids_;
};

}  // namespace

void describe_output_files(Listing& listing, const OutputOptions& options,
                           const std::string& base_name, const OutputResults& results,
                           bool text_ids) {
    Descriptions d(listing, base_name, options.renumbered, text_ids);
    d.ped(results.NIN_PED, options.inbreeding);
    d.prune(results.NIN_PRUNE);
    if (results.NIN_PHG_RENUM > 0) d.phg_renum(results.NIN_PHG_RENUM);
    if (results.sums.NIN_BCONTRIB > 0) d.bcontrib(results.sums.NIN_BCONTRIB);
    if (results.sums.NIN_HET > 0) d.het(results.sums.NIN_HET);
}

}  // namespace kinstrom
