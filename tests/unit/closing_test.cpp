// The general numeric field of the traced-pedigree statistics, and the contributions and
// heterozygosities written for small crosses.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "reports/closing.hpp"
#include "trace/output.hpp"

namespace kinstrom {
namespace {

TEST(GeneralField, Layouts) {
    const struct {
        double v;
        const char* field;
    } rows[] = {
        {0.5, "   0.50000000    "},        {0.0123456789, "   0.12345679E-01"},
        {0.0, "    0.0000000    "},        {1.0, "    1.0000000    "},
        {0.1, "   0.10000000    "},        {0.0999999999, "   0.10000000    "},  // rounds up
        {0.0999999, "   0.99999900E-01"},  {12345678.0, "    12345678.    "},
        {99999999.4, "    99999999.    "}, {99999999.6, "   0.10000000E+09"},
        {-0.25, "  -0.25000000    "},      {1.0e-30, "   0.10000000E-29"},
        {0.83333331, "   0.83333331    "}, {-3.0e-5, "  -0.30000000E-04"},
    };
    for (const auto& r : rows) EXPECT_EQ(general_field(r.v), r.field) << r.v;
}

// Statistics of huge breed proportions overflow single precision (found by fuzzing whole runs:
// the field used to look for the exponent of "inf" and read through a null pointer).
TEST(GeneralField, NotFinite) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(general_field(inf), "         Infinity");
    EXPECT_EQ(general_field(-inf), "        -Infinity");
    EXPECT_EQ(general_field(std::numeric_limits<double>::quiet_NaN()), "              NaN");
}

TEST(Contributions, ThresholdInSinglePrecision) {
    EXPECT_EQ(WRITE_THRESHOLD, 9.9999998245167e-14);
    EXPECT_FALSE(9.9999998245167e-14 > WRITE_THRESHOLD);
    EXPECT_TRUE(std::nextafter(WRITE_THRESHOLD, 1.0) > WRITE_THRESHOLD);
}

// F1 crosses of two pure breeds and their offspring, written with original IDs.
TEST(Contributions, CrossesAndPurebred) {
    char dir[] = "/tmp/kinstrom-closing-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string base = std::string(dir) + "/out";
    std::FILE* sink = std::tmpfile();
    Listing listing(sink, RunDate{});
    Pedigree p;
    p.PHG_LIST = Table("PHG_LIST", 2);
    p.XLIST = Table("XLIST", 10);
    int32_t NEW = 0;
    llist(listing, -1, p.PHG_LIST, 1, NEW);
    llist(listing, -2, p.PHG_LIST, 1, NEW);
    p.N_PHG1 = 2;
    p.N_BPOP = 2;
    p.B_PROP.create(listing, 2, 2);
    p.B_PROP.set(1, 1, 1.0);  // PHG -1: breed 1
    p.B_PROP.set(2, 2, 1.0);  // PHG -2: breed 2
    // 11, 12: F1 (breed-1 sire PHG, breed-2 dam PHG); 13: their offspring; 14: purebred.
    const struct {
        int64_t id;
        int32_t sire, dam;
    } animals[] = {{11, -1, -2}, {12, -1, -2}, {13, 1, 2}, {14, -1, -1}};
    for (const auto& a : animals) {
        const int32_t l = llist(listing, a.id, p.XLIST, 1, NEW);
        p.XLIST[l].SIRE = a.sire;
        p.XLIST[l].DAM = a.dam;
        p.XLIST[l].TRACED = p.XLIST[l].MARKED = FLAG_TRUE;
    }
    OutFile ped, prune, renum, bcontrib, het;
    ped.open(listing, base + ".PED");
    prune.open(listing, base + ".PRUNE");
    renum.open(listing, base + ".PHG_RENUM");
    bcontrib.open(listing, base + ".BCONTRIB");
    het.open(listing, base + ".HET");
    OutputResults results;
    Progress quiet;
    write_traced_pedigree(listing, {2, 1, 26, false, true}, HalvingTable(25), p,
                          {ped, prune, renum, bcontrib, het}, results, quiet);
    bcontrib.close();
    het.close();
    const auto read = [](const std::string& name) {
        std::ifstream in(name);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    };
    const std::string half = "  0.500000000000000     ", one = "   1.00000000000000     ";
    const auto id = [](int64_t v) {
        std::string s(22, ' ');
        const std::string t = std::to_string(v);
        return s.replace(22 - t.size(), t.size(), t);
    };
    // One record a line: the fields appended in order.
    const auto records = [](std::initializer_list<std::initializer_list<std::string>> lines) {
        std::string out;
        for (const auto& fields : lines) {
            out += ' ';
            for (const std::string& f : fields) out += f;
            out += '\n';
        }
        return out;
    };
    const std::string b1 = "           1", b2 = "           2";
    EXPECT_EQ(read(base + ".BCONTRIB"), records({{id(11), b1, half},
                                                 {id(11), b2, half},
                                                 {id(12), b1, half},
                                                 {id(12), b2, half},
                                                 {id(13), b1, half},
                                                 {id(13), b2, half},
                                                 {id(14), b1, one}}));
    EXPECT_EQ(read(base + ".HET"),
              records({{id(11), b1, b2, one}, {id(12), b1, b2, one}, {id(13), b1, b2, half}}));
    EXPECT_EQ(results.sums.NIN_BCONTRIB, 7);
    EXPECT_EQ(results.sums.NIN_HET, 3);
    EXPECT_EQ(results.sums.N_ANDEL[1], 3);
    EXPECT_EQ(results.sums.ANDEL_SUM[0], 2.5);
    // Each individual's walks give its PHGs one genome in all.
    EXPECT_EQ(results.BIDRAG.all[1] + results.BIDRAG.all[2], 4.0);
    std::fclose(sink);
    for (const char* s : {".PED", ".PRUNE", ".PHG_RENUM", ".BCONTRIB", ".HET"})
        std::remove((base + s).c_str());
    rmdir(dir);
}

}  // namespace
}  // namespace kinstrom
