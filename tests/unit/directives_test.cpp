// The DIRECTIVES group: reading, derived settings, name resolution and the start-up echo.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "run/directives.hpp"

namespace kinstrom {
namespace {

using Lines = std::vector<std::string>;
const RunDate RUN_DATE{5, 12, 2026, 6, 3, 57};

auto all_fields(const Directives& d) {
    return std::tie(d.MAX_NIV, d.MAX_A, d.MAX_PHG, d.PED_FILE, d.PROB_FILE, d.BPROP_FILE, d.N_BPOP,
                    d.OPT1, d.OPT2, d.GPRUNE, d.DOB_CHECK, d.MIN_ACC_BD, d.MAX_ACC_BD, d.MIN_D_SBD,
                    d.MIN_D_DBD, d.INBREED);
}

std::string name240(const std::string& s) {
    return s + std::string(240 - s.size(), ' ');
}

bool read(const std::string& input, Directives& d) {
    std::istringstream in(input);
    return read_directives(in, d);
}

TEST(DirectiveReading, DefaultsAndEveryKey) {
    Directives d;
    EXPECT_EQ(all_fields(d),
              std::make_tuple(25, 10000000, 500, name240("TOTAL_PEDIGREE"), name240("PROB"),
                              name240(""), 0, 0, 0, 0, "No" + std::string(18, ' '), 1, 2147483647,
                              1, 1, std::string("NO  ")));
    ASSERT_TRUE(
        read("&DIRECTIVES max_niv=30 max_a=1000 max_phg=20 ped_file='p' prob_file='s'\n"
             "BPROP_FILE='b' N_BPOP=3 OPT1=2 OPT2=2 GPRUNE=5 DOB_CHECK='Yes'\n"
             "Min_Acc_Bd=19900101 Max_Acc_Bd=20201231 MIN_D_SBD=300 MIN_D_DBD=250\n"
             "INBREED='YES' /",
             d));
    EXPECT_EQ(all_fields(d), std::make_tuple(30, 1000, 20, name240("p"), name240("s"), name240("b"),
                                             3, 2, 2, 5, "Yes" + std::string(17, ' '), 19900101,
                                             20201231, 300, 250, std::string("YES ")));
}

TEST(DirectiveReading, AcceptedGroups) {
    const struct {
        std::string input;
        int32_t opt1, opt2;
        std::string ped, prob;
    } rows[] = {
        {"&DIRECTIVES /", 0, 0, "TOTAL_PEDIGREE", "PROB"},
        {"&DIRECTIVES/", 0, 0, "TOTAL_PEDIGREE", "PROB"},
        {"&DIRECTIVES\n/\n", 0, 0, "TOTAL_PEDIGREE", "PROB"},
        {"title line\n OPT1=9 /\n  &DIRECTIVES OPT1=2 /", 2, 0, "TOTAL_PEDIGREE", "PROB"},
        {"&DIRECTIVESX OPT1=7 /\n&DIRECTIVES,OPT1=2/", 2, 0, "TOTAL_PEDIGREE", "PROB"},
        {"&directives opt1=2, Opt2=+2 /", 2, 2, "TOTAL_PEDIGREE", "PROB"},
        {"&Directives\tOPT1 = 2\r\n\tOPT2\t=\t-2\r\n/\r\n", 2, -2, "TOTAL_PEDIGREE", "PROB"},
        {"&DIRECTIVES ,, OPT1=2,,\n\n ,\t, OPT2=2, , /", 2, 2, "TOTAL_PEDIGREE", "PROB"},
        {"&DIRECTIVES OPT1=1\nOPT2=2\nOPT1=2/", 2, 2, "TOTAL_PEDIGREE", "PROB"},
        {"&DIRECTIVES OPT1=-2147483648, OPT2=2147483647 /", -2147483648, 2147483647,
         "TOTAL_PEDIGREE", "PROB"},
        {"&DIRECTIVES PED_FILE='it''s', PROB_FILE=\"a\"\"b\" /", 0, 0, "it's", "a\"b"},
        {"&DIRECTIVES PED_FILE=\"it's\", PROB_FILE='say \"hi\"' /", 0, 0, "it's", "say \"hi\""},
        {"&DIRECTIVES PED_FILE='/d/a/b',PROB_FILE=' run 1, x=2 '/", 0, 0, "/d/a/b", " run 1, x=2 "},
        {"&DIRECTIVES PED_FILE='/data/\nped.txt' /", 0, 0, "/data/ped.txt", "PROB"},
        {"&DIRECTIVES PED_FILE='', PROB_FILE=' ' /", 0, 0, "", ""},
        {"&DIRECTIVES PED_FILE='" + std::string(300, 'x') + "' /", 0, 0, std::string(240, 'x'),
         "PROB"},
    };
    for (const auto& r : rows) {
        Directives d, want;
        d.OPT2 = want.OPT2 = 0;
        ASSERT_TRUE(read(r.input, d)) << r.input;
        want.OPT1 = r.opt1, want.OPT2 = r.opt2;
        want.PED_FILE = name240(r.ped), want.PROB_FILE = name240(r.prob);
        EXPECT_EQ(all_fields(d), all_fields(want)) << r.input;
    }
    Directives d;
    d.OPT2 = 2;  // absent keys keep their values
    ASSERT_TRUE(read("&DIRECTIVES OPT1=2, DOB_CHECK='  yes', INBREED='YESSIR' /", d));
    EXPECT_EQ(std::tie(d.OPT1, d.OPT2, d.DOB_CHECK, d.INBREED),
              std::make_tuple(2, 2, "  yes" + std::string(15, ' '), std::string("YESS")));
}

TEST(DirectiveReading, FailuresLeaveValuesUnchanged) {
    const char* rows[] = {"",
                          "OPT1=2 /\n",
                          "&DIRECTIVESX OPT1=2 /",
                          "x &DIRECTIVES OPT1=2 /",
                          "& DIRECTIVES OPT1=2 /",
                          "&DIRECTIVE OPT1=2 /",
                          "&DIRECTIVES OPT1=2, FOO=1 /",
                          "&DIRECTIVES OPT1= /",
                          "&DIRECTIVES OPT1=, OPT2=1 /",
                          "&DIRECTIVES OPT1=/",
                          "&DIRECTIVES OPT1=\n2 /",
                          "&DIRECTIVES OPT1 2 /",
                          "&DIRECTIVES PED_FILE=ped.txt /",
                          "&DIRECTIVES OPT1=2.5 /",
                          "&DIRECTIVES OPT1=1e3 /",
                          "&DIRECTIVES OPT1=2x /",
                          "&DIRECTIVES OPT1='2' /",
                          "&DIRECTIVES OPT1=2147483648 /",
                          "&DIRECTIVES OPT1=-2147483649 /",
                          "&DIRECTIVES OPT1=+-5 /",
                          "&DIRECTIVES OPT1=2 ! two\n/",
                          "! note\n&DIRECTIVES ! note\n/",
                          "&DIRECTIVES OPT1=3*5 /",
                          "&DIRECTIVES OPT1=2",
                          "&DIRECTIVES PED_FILE='ped.txt /",
                          "&DIRECTIVES PED_FILE='ped.txt\n/\n"};
    for (const char* input : rows) {
        Directives d, before;
        d.OPT1 = before.OPT1 = 7;
        d.PED_FILE = before.PED_FILE = name240("kept");
        EXPECT_FALSE(read(input, d)) << '"' << input << '"';
        EXPECT_EQ(all_fields(d), all_fields(before)) << '"' << input << '"';
    }
}

TEST(BirthDateMode, FlagAndLimits) {
    const struct {
        const char* dob_check;
        int32_t max_in;
        bool flag;
        int32_t max_out;
        const char* dob_out;
    } rows[] = {
        {"  yes", 2147483647, true, 20261205, "yes"},   {"Y", 2147483647, true, 20261205, "Y"},
        {"yes", 20201231, true, 20201231, "yes"},       {"No", 20001231, false, 2147483647, "No"},
        {"  no", 2147483647, false, 2147483647, "no"},  {"", 20001231, false, 2147483647, ""},
        {"X yes", 20001231, false, 2147483647, "X yes"}};
    for (const auto& r : rows) {
        Directives d;
        d.DOB_CHECK = fixed_width(r.dob_check, DOB_CHECK_WIDTH);
        d.MIN_ACC_BD = 19900101, d.MAX_ACC_BD = r.max_in, d.MIN_D_SBD = 300, d.MIN_D_DBD = 400;
        Settings s;
        derive_birth_date_mode(d, RUN_DATE, s);
        EXPECT_EQ(
            std::tie(s.dob_check, d.MAX_ACC_BD, d.DOB_CHECK, d.MIN_ACC_BD),
            std::make_tuple(r.flag, r.max_out, fixed_width(r.dob_out, DOB_CHECK_WIDTH), 19900101))
            << r.dob_check;
        EXPECT_EQ(s.ANE_MIN_DIFF, (std::array<int32_t, 2>{300, 400}));
    }
}

TEST(NameResolution, WorkdirPrefix) {
    std::string long_dir(250, 'd');
    long_dir[0] = '/';
    const struct {
        std::string workdir, sasroot, name, resolved;
    } rows[] = {
        {"/home/u/job", "", "ped.txt", "/home/u/job/ped.txt"},
        {"/home/u/job", "", "/data/ped.txt", "/data/ped.txt"},
        {"/home/u/job", "/opt/sas", "ped.txt", "ped.txt"},
        {"/home/u/job", "   ", "ped.txt", "/home/u/job/ped.txt"},
        {"", "", "ped.txt", "ped.txt"},
        {"   ", "", "ped.txt", "ped.txt"},
        {"/home/u/job  ", "", "run1/sel.txt  ", "/home/u/job/run1/sel.txt"},
        {long_dir, "", "ped.txt", long_dir + "/ped.txt"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(resolve_name(r.name, Environment{r.workdir, r.sasroot}), r.resolved)
            << r.workdir << "|" << r.sasroot;
    ::setenv("PBS_O_WORKDIR", "  /home/u/job", 1);
    ::setenv("SASROOT", "   ", 1);
    const Environment env = Environment::read();
    EXPECT_EQ(resolve_name("ped.txt", env), "/home/u/job/ped.txt");
    ::unsetenv("PBS_O_WORKDIR");
    ::unsetenv("SASROOT");
    EXPECT_EQ(resolve_name("ped.txt", Environment::read()), "ped.txt");
}

// The start-up sequence on a group: read, derive, echo; with the listing it printed.
struct EchoRun {
    int status = 0;  // of the fatal stop, 0 when none
    std::string text;
    int32_t lines = 0;
    Directives d;
    Settings s;
    FileNames names;
};

EchoRun echo(const std::string& group, const Environment& env = {}) {
    EchoRun run;
    EXPECT_TRUE(read(group, run.d)) << group;
    derive_birth_date_mode(run.d, RUN_DATE, run.s);
    std::FILE* f = std::tmpfile();
    Listing listing(f, RUN_DATE);
    listing.lines = 2;
    try {
        echo_directives(listing, run.d, run.s, env, run.names);
    } catch (const FatalStop& stop) {
        run.status = stop.status;
    }
    std::rewind(f);
    for (int c; (c = std::fgetc(f)) != EOF;) run.text += static_cast<char>(c);
    std::fclose(f);
    run.lines = listing.lines;
    return run;
}

std::string joined(std::initializer_list<Lines> parts) {
    std::string s;
    for (const auto& part : parts)
        for (const auto& line : part) s += line + "\n";
    return s;
}

const Lines NAMES = {" Name of pedigree file .................. TOTAL_PEDIGREE",
                     " Name of file with individuals to trace . PROB"};
const Lines TRACE_ORIG = {"  ", " (Trace only)", "  ", " (Using original ID's)"};
const Lines INTEGER_SORT = {"  ",
                            " The sort variable (column no, 4) in the total pedigree file",
                            " is assumed to be an integer number with a value",
                            " larger then the sort variable of any of its parents",
                            "  ",
                            " A sort variable value <= 0 is assumed to be unknown",
                            " and is not used in checking sort variables",
                            "  "};
const Lines STOP_4 = {"  ", " Error(s) found in the directive file", "  ", " Program terminates"};

TEST(DirectiveEcho, ListingLines) {
    const std::string defaults = joined({NAMES, TRACE_ORIG, INTEGER_SORT});
    const struct {
        const char* group;
        int status;
        std::string text;
    } rows[] = {
        {"&DIRECTIVES /", 0, defaults},
        {"&DIRECTIVES OPT1=-5, OPT2=0 /", 0, defaults},
        {"&DIRECTIVES INBREED='yes' /", 0, defaults},
        {"&DIRECTIVES INBREED=' YES' /", 0, defaults},
        {"&DIRECTIVES DOB_CHECK='No', MIN_ACC_BD=19900101, MAX_ACC_BD=20001231 /", 0, defaults},
        {"&DIRECTIVES OPT1=2, OPT2=2 /", 0,
         joined({NAMES,
                 {"  ",
                  " Option 1 specified......................."
                  "         2",
                  " (Trace + breed proportions + heterozygosity)", "  ",
                  " Option 2 specified......................."
                  "         2",
                  " (Using renumbered ID's)"},
                 INTEGER_SORT})},
        {"&DIRECTIVES GPRUNE=-1 /", 0,
         joined({NAMES,
                 TRACE_ORIG,
                 {"  ",
                  " Pruning to max. generation back from data"
                  "        -1"},
                 INTEGER_SORT})},
        {"&DIRECTIVES MAX_NIV=30, GPRUNE=26 /", 0,
         joined({NAMES,
                 TRACE_ORIG,
                 {"  ",
                  " Pruning to max. generation back from data"
                  "        26"},
                 INTEGER_SORT})},
        {"&DIRECTIVES GPRUNE=26 /", 16,
         joined({NAMES,
                 TRACE_ORIG,
                 {"  ",
                  " Pruning to max. generation back from data: "
                  "        26",
                  " But max. no. of generation to look back is:"
                  "        25"},
                 STOP_4})},
        {"&DIRECTIVES OPT1=3, OPT2=7 /", 16,
         joined(
             {NAMES,
              {"  ",
               " Option 1 specified......................."
               "         3",
               " but only 1 or 2 is legal options         ",
               " 1 -> trace only                          ",
               " 2 -> trace + breed proportions + heterozygosity", "  ", " Program terminates"}})},
        {"&DIRECTIVES OPT2=5 /", 16,
         joined({NAMES,
                 {"  ", " (Trace only)", "  ",
                  " Option 2 specified......................."
                  "         5",
                  " but only 1 or 2 is legal options         ",
                  " 1 -> Using original ID's                  ",
                  " 2 -> Using renumbered ID's                "},
                 STOP_4})},
        {"&DIRECTIVES PED_FILE=' ', PROB_FILE=' ' /", 16,
         joined({{" No total pedigree file specified........ ",
                  " No file with individuals to trace        "},
                 TRACE_ORIG,
                 STOP_4})},
        {"&DIRECTIVES INBREED='YES' /", 0,
         joined(
             {NAMES, TRACE_ORIG, {"  ", " Computation of inbreeding coefficent"}, INTEGER_SORT})},
        {"&DIRECTIVES BPROP_FILE='  bp.txt  ' /", 0,
         joined({NAMES,
                 TRACE_ORIG,
                 {"  ", " Name of file with proportions in PHG's ..bp.txt", "  ",
                  " A file with base population (breed) proportions in PHG's",
                  " is specified, but no. of base poppulation is not specified."},
                 INTEGER_SORT})},
        {"&DIRECTIVES BPROP_FILE='bp.txt', N_BPOP=3 /", 0,
         joined({NAMES,
                 TRACE_ORIG,
                 {"  ", " Name of file with proportions in PHG's ..bp.txt",
                  " No. of base populations ................."
                  "         3"},
                 INTEGER_SORT})},
        {"&DIRECTIVES DOB_CHECK='  yes', MIN_D_DBD=300 /", 0,
         joined({NAMES,
                 TRACE_ORIG,
                 {"  ", " The sort variable (column no, 4) in the total pedigree file",
                  " is assumed to be day of birth is yyyymmdd format", "  ",
                  " Smallest accepted day of birth:           "
                  "           1",
                  " (Values smaller is assumed unknown and not used for)",
                  "  checking age differences between progeny and parent)", "  ",
                  " Largest accepted day of birth:            "
                  "    20261205",
                  " (Animals with day of birth larger is written to an error file)", "  ",
                  " Minimum number of days between day of birth and: ",
                  "    Sire (ane no. 1) day of birth:  "
                  "           1",
                  "    Dam (ane no. 2) day of birth :  "
                  "         300",
                  "  ", "  "}})},
    };
    for (const auto& r : rows) {
        const EchoRun run = echo(r.group);
        EXPECT_EQ(run.text, r.text) << r.group;
        EXPECT_EQ(run.status, r.status) << r.group;
        const auto printed = std::count(r.text.begin(), r.text.end(), '\n');
        EXPECT_EQ(run.lines, 2 + printed) << r.group;
    }
}

TEST(DirectiveEcho, CompletedSettingsAndNames) {
    EchoRun run = echo("&DIRECTIVES OPT1=-5 /");
    EXPECT_EQ(std::tie(run.d.OPT1, run.d.OPT2, run.d.GPRUNE, run.d.MIN_ACC_BD, run.d.MAX_ACC_BD),
              std::make_tuple(1, 1, 26, 1, 2147483647));
    EXPECT_EQ(std::tie(run.s.dob_check, run.s.use_bprop, run.s.inbreed),
              std::make_tuple(false, false, false));
    run = echo("&DIRECTIVES MAX_NIV=10, DOB_CHECK='No', MIN_ACC_BD=19900101 /");
    EXPECT_EQ(std::tie(run.d.GPRUNE, run.d.MIN_ACC_BD), std::make_tuple(11, 1));
    run = echo("&DIRECTIVES DOB_CHECK='y', MIN_ACC_BD=19900101, INBREED='YES', BPROP_FILE='b' /");
    EXPECT_EQ(std::tie(run.d.MIN_ACC_BD, run.d.MAX_ACC_BD), std::make_tuple(19900101, 20261205));
    EXPECT_EQ(std::tie(run.s.dob_check, run.s.use_bprop, run.s.inbreed),
              std::make_tuple(true, true, true));

    run = echo(
        "&DIRECTIVES PED_FILE=' ped.txt', PROB_FILE='/data/sel.txt', BPROP_FILE='bp.txt',"
        " N_BPOP=2 /",
        Environment{"/home/u/job", ""});
    EXPECT_EQ(run.text, joined({{" Name of pedigree file .................. /home/u/job/ped.txt",
                                 " Name of file with individuals to trace . /data/sel.txt"},
                                {"  ", " (Trace only)", "  ", " (Using original ID's)", "  ",
                                 " Name of file with proportions in PHG's ../home/u/job/bp.txt",
                                 " No. of base populations ................."
                                 "         2"},
                                INTEGER_SORT}));
    EXPECT_EQ(std::tie(run.names.ped, run.names.prob, run.names.bprop),
              std::make_tuple(std::string("/home/u/job/ped.txt"), std::string("/data/sel.txt"),
                              std::string("/home/u/job/bp.txt")));
}

}  // namespace
}  // namespace kinstrom
