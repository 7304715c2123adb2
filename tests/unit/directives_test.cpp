// The DIRECTIVES group: reading, the settings completed at start-up and name resolution.
#include <gtest/gtest.h>

#include "capture.hpp"

#include <array>
#include <sstream>
#include <string>
#include <tuple>

#include "directives/directives.hpp"

namespace kinstrom {
namespace {

const RunDate RUN_DATE{5, 12, 2026, 6, 3, 57};

auto all_fields(const Directives& d) {
    return std::tie(d.MAX_NIV, d.MAX_A, d.MAX_PHG, d.PED_FILE, d.PROB_FILE, d.BPROP_FILE, d.N_BPOP,
                    d.OPT1, d.OPT2, d.GPRUNE, d.DOB_CHECK, d.MIN_ACC_BD, d.MAX_ACC_BD, d.MIN_D_SBD,
                    d.MIN_D_DBD, d.INBREED);
}

std::string name240(const std::string& s) {
    return s + std::string(240 - s.size(), ' ');
}

bool read(const std::string& input, Directives& d, DirectiveProblem* problem = nullptr) {
    std::istringstream in(input);
    return read_directives(in, d, problem);
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
        std::string ped = "TOTAL_PEDIGREE", prob = "PROB";
    } rows[] = {
        {"&DIRECTIVES /", 0, 0},
        {"&DIRECTIVES/", 0, 0},
        {"&DIRECTIVES\n/\n", 0, 0},
        {"title line\n OPT1=9 /\n  &DIRECTIVES OPT1=2 /", 2, 0},
        {"&DIRECTIVESX OPT1=7 /\n&DIRECTIVES,OPT1=2/", 2, 0},
        {"&directives opt1=2, Opt2=+2 /", 2, 2},
        {"&Directives\tOPT1 = 2\r\n\tOPT2\t=\t-2\r\n/\r\n", 2, -2},
        {"&DIRECTIVES ,, OPT1=2,,\n\n ,\t, OPT2=2, , /", 2, 2},
        {"&DIRECTIVES OPT1=1\nOPT2=2\nOPT1=2/", 2, 2},
        {"&DIRECTIVES OPT1=-2147483648, OPT2=2147483647 /", -2147483648, 2147483647},
        {"&DIRECTIVES PED_FILE='it''s', PROB_FILE=\"a\"\"b\" /", 0, 0, "it's", "a\"b"},
        {"&DIRECTIVES PED_FILE=\"it's\", PROB_FILE='say \"hi\"' /", 0, 0, "it's", "say \"hi\""},
        {"&DIRECTIVES PED_FILE='/d/a/b',PROB_FILE=' run 1, x=2 '/", 0, 0, "/d/a/b", " run 1, x=2 "},
        {"&DIRECTIVES PED_FILE='/data/\nped.txt' /", 0, 0, "/data/ped.txt"},
        {"&DIRECTIVES PED_FILE='', PROB_FILE=' ' /", 0, 0, "", ""},
        {"&DIRECTIVES PED_FILE='" + std::string(300, 'x') + "' /", 0, 0, std::string(240, 'x')},
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
    // clang-format off
    const char* rows[] = {
        "", "OPT1=2 /\n", "&DIRECTIVESX OPT1=2 /", "x &DIRECTIVES OPT1=2 /",
        "& DIRECTIVES OPT1=2 /", "&DIRECTIVE OPT1=2 /", "&DIRECTIVES OPT1=2, FOO=1 /",
        "&DIRECTIVES OPT1= /", "&DIRECTIVES OPT1=, OPT2=1 /", "&DIRECTIVES OPT1=/",
        "&DIRECTIVES OPT1=\n2 /", "&DIRECTIVES OPT1 2 /", "&DIRECTIVES PED_FILE=ped.txt /",
        "&DIRECTIVES OPT1=2.5 /", "&DIRECTIVES OPT1=1e3 /", "&DIRECTIVES OPT1=2x /",
        "&DIRECTIVES OPT1='2' /", "&DIRECTIVES OPT1=2147483648 /", "&DIRECTIVES OPT1=-2147483649 /",
        "&DIRECTIVES OPT1=+-5 /", "&DIRECTIVES OPT1=2 ! two\n/", "! note\n&DIRECTIVES ! note\n/",
        "&DIRECTIVES OPT1=3*5 /", "&DIRECTIVES OPT1=2", "&DIRECTIVES PED_FILE='ped.txt /",
        "&DIRECTIVES PED_FILE='ped.txt\n/\n"};
    // clang-format on
    for (const char* input : rows) {
        Directives d, before;
        DirectiveProblem problem;
        d.OPT1 = before.OPT1 = 7;
        d.PED_FILE = before.PED_FILE = name240("kept");
        EXPECT_FALSE(read(input, d, &problem)) << '"' << input << '"';
        EXPECT_NE(problem.text, "") << '"' << input << '"';
        EXPECT_EQ(all_fields(d), all_fields(before)) << '"' << input << '"';
    }
}

// What the breeder is told on a rejected group, a doubtful INBREED or a stop of the echo: the
// line, the key as written and a distinctive part of the text ("" when nothing is told).
TEST(DirectiveDiagnostics, Reasons) {
    const std::tuple<std::string, int32_t, std::string, std::string> rows[] = {
        {"", 0, "", "no &DIRECTIVES group found on standard input; the directives are read"},
        {"x\n&DIRECTIVE OPT1=2 /", 2, "", "line 2 starts with \"&DIRECTIVE\", which does not"},
        {"x\n&DIRECTIVES\n OPT1=2, INBREEDING='YES' /", 3, "INBREEDING", "; did you mean INBREED?"},
        {"&DIRECTIVES opt3=2 /", 1, "opt3", "unknown key opt3; did you mean OPT1 or OPT2?"},
        {"&DIRECTIVES FOO=1 /", 1, "FOO", "known keys are MAX_NIV, MAX_A, MAX_PHG, PED_FILE"},
        {"&DIRECTIVES\nOPT1=2.5/", 2, "OPT1", "OPT1 takes a whole number, found 2.5; write"},
        {"&DIRECTIVES Gprune=-2147483649 /", 1, "Gprune", "is outside the range -2147483648 to"},
        {"&DIRECTIVES\n\nPED_FILE=ped.txt/", 3, "PED_FILE",
         "quoted with ' or \", e.g. PED_FILE='ped.txt'"},
        {"&DIRECTIVES PED_FILE=/d/p /", 1, "PED_FILE", "PED_FILE=/d/p is not quoted; texts are"},
        {"&DIRECTIVES OPT1=2,\n prob_file=\"s\n/\n", 2, "prob_file", "opened with \" never ends"},
        {"x\n&DIRECTIVES OPT1=2\n\n", 3, "", "group opened on line 2 is not closed by / before"},
        {"&DIRECTIVES OPT1=2 ! two\n/", 1, "", "found \"!\" where a key or the closing / was"},
        {"&DIRECTIVES OPT1 2 /", 1, "OPT1", "expected = after OPT1, found \"2\"; write OPT1="},
        {"&DIRECTIVES OPT2=\n2 /", 1, "OPT2", "no value after OPT2=; write a whole number"},
        {"&DIRECTIVES PED_FILE='a'b /", 1, "PED_FILE", "found \"b\" right after the value of"},
        {"&DIRECTIVES INBREED='yes' /", 0, "",
         "INBREED='yes' is not 'YES': no inbreeding coefficients will be computed; write INBREED"},
        {"&DIRECTIVES INBREED=' Y' /", 0, "", "INBREED=' Y' is not 'YES'"},
        {"&DIRECTIVES INBREED='NO' /", 0, "", ""},
        {"&DIRECTIVES INBREED='YES' /", 0, "", ""},
        {"&DIRECTIVES OPT1=3 /", 0, "", "OPT1=3 is not allowed: use 1 (trace only) or 2 (trace,"},
        {"&DIRECTIVES PED_FILE=' ', OPT2=5, MAX_NIV=4, GPRUNE=6 /", 0, "",
         "e.g. PED_FILE='ped.txt'; OPT2=5 is not allowed: use 1 (output files with original IDs) "
         "or 2 (with renumbered IDs); GPRUNE=6 is above MAX_NIV=4: set GPRUNE at most MAX_NIV"},
        {"&DIRECTIVES PROB_FILE='' /", 0, "", "(PROB_FILE is blank): name it"},
    };
    for (const auto& [group, line, key, part] : rows) {
        Directives d;
        DirectiveProblem problem;
        std::string got;
        if (read(group, d, &problem)) {
            for (const std::string& warning : directive_warnings(d)) got += warning;
            CapturedListing out;
            Settings s;
            FileNames names;
            try {
                echo_directives(out.listing, d, s, Environment{}, names);
            } catch (const FatalStop& stop) {
                got += stop.cause.text;
            }
        }
        EXPECT_EQ(std::tie(problem.line, problem.key), std::tie(line, key)) << group;
        got += problem.text;  // all the texts told, which "" expects to be none
        EXPECT_TRUE(part.empty() ? got.empty() : got.find(part) != std::string::npos)
            << group << " -> " << got;
    }
}

// The start-up sequence on a group (read, derive, echo) completes the directives and derives
// the settings.
TEST(DirectiveSettings, Completed) {
    constexpr int32_t MAX = 2147483647, MIN = 19900101;
    constexpr bool T = true, F = false;
    // OPT1, OPT2, GPRUNE, MIN_ACC_BD, MAX_ACC_BD; dob_check, use_bprop, inbreed; the group.
    const struct {
        std::tuple<int32_t, int32_t, int32_t, int32_t, int32_t> d;
        std::tuple<bool, bool, bool> s;
        const char* group;
    } rows[] = {
        {{1, 1, 26, 1, MAX}, {F, F, F}, "OPT1=-5"},
        {{2, 2, -1, 1, MAX}, {F, F, F}, "OPT1=2, OPT2=2, GPRUNE=-1, INBREED='YESSIR'"},
        {{1, 1, 11, 1, MAX}, {F, F, T}, "MAX_NIV=10, DOB_CHECK='No', INBREED='YES'"},
        {{1, 1, 26, MIN, 20261205}, {T, T, F}, "DOB_CHECK='y', BPROP_FILE='b'"},
        {{1, 1, 26, MIN, 20201231}, {T, F, F}, "DOB_CHECK='  yes', MAX_ACC_BD=20201231"},
        {{1, 1, 26, 1, MAX}, {F, F, F}, "DOB_CHECK='X yes', MAX_ACC_BD=20001231, INBREED=' YES'"},
        {{1, 1, 26, 1, MAX}, {F, F, F}, "DOB_CHECK='  no', MAX_ACC_BD=20001231, INBREED='yes'"},
    };
    for (const auto& r : rows) {
        const std::string group =
            std::string("&DIRECTIVES MIN_D_SBD=300, MIN_ACC_BD=19900101, ") + r.group + " /";
        Directives d;
        Settings s;
        FileNames names;
        ASSERT_TRUE(read(group, d)) << group;
        derive_birth_date_mode(d, RUN_DATE, s);
        CapturedListing out;
        EXPECT_NO_THROW(echo_directives(out.listing, d, s, Environment{}, names)) << group;
        EXPECT_EQ(std::tie(d.OPT1, d.OPT2, d.GPRUNE, d.MIN_ACC_BD, d.MAX_ACC_BD), r.d) << group;
        EXPECT_EQ(std::tie(s.dob_check, s.use_bprop, s.inbreed), r.s) << group;
        EXPECT_EQ(s.ANE_MIN_DIFF, (std::array<int32_t, 2>{300, 1})) << group;
    }
}

// The golden cases hold a prefixed name, an absolute name, a set SASROOT and a blank workdir.
TEST(NameResolution, WorkdirPrefix) {
    const std::string long_dir = "/" + std::string(249, 'd');
    const struct {
        std::string workdir, sasroot, name, resolved;
    } rows[] = {
        {"/home/u/job", "   ", "ped.txt", "/home/u/job/ped.txt"},  // a blank SASROOT
        {"", "", "ped.txt", "ped.txt"},
        {"/home/u/job  ", "", "run1/sel.txt  ", "/home/u/job/run1/sel.txt"},
        {long_dir, "", "ped.txt", long_dir + "/ped.txt"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(resolve_name(r.name, Environment{r.workdir, r.sasroot, 0, {}}), r.resolved)
            << r.workdir << "|" << r.sasroot;
}

}  // namespace
}  // namespace kinstrom
