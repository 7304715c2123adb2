// Randomised equivalence of the linear-time walks (tracing, known generations, walk vectors,
// BIDRAG, keep marks and links, inbreeding, pruning) with literal recursions that
// walk every line of every ancestry. The literal recursions live here only.
#include <gtest/gtest.h>

#include "capture.hpp"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "genetics/genetics.hpp"
#include "output/output.hpp"
#include "pedigree/errors.hpp"
#include "trace/tracing.hpp"

namespace kinstrom {
namespace {

constexpr auto bits = [](auto v) {
    return std::bit_cast<std::conditional_t<sizeof(v) == 4, uint32_t, uint64_t>>(v);
};
constexpr auto P_HALVE = [](int32_t n) { return std::ldexp(1.0, -n); };

// A pedigree as plain arrays; position 0 is the sentinel.
struct Case {
    int32_t n = 0, n_phg = 0, n_bpop = 0, MAX_NIV = 0, GPRUNE = 0, OPT2 = 1;
    std::vector<int64_t> id, phg{0};
    std::vector<int32_t> sire, dam;
    std::vector<uint8_t> marked;
    std::vector<std::vector<double>> bprop;  // bprop[k][b - 1]; empty for the unit table
    bool zero_parent = false;
};

// kind 0: parents anywhere (loops, PHG code 0 now and then); 1: acyclic; 2: a deep chain with a
// few repeated parents and side lines; 3: a deep chain of mostly repeated parents (sire == dam).
// Positions: parents first, offspring first (as inserted parents are) or shuffled.
Case random_case(uint32_t seed, int kind) {
    std::mt19937 rng(seed);
    const auto pick = [&rng](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(rng);
    };
    const auto chance = [&rng](double p) { return std::bernoulli_distribution(p)(rng); };
    Case c;
    c.n_phg = pick(1, 5);
    std::set<int64_t> used;
    while (static_cast<int32_t>(used.size()) < c.n_phg)
        if (const int64_t v = -pick(0, 30); used.insert(v).second) c.phg.push_back(v);
    const auto phg_parent = [&] { return -pick(1, c.n_phg); };

    std::vector<int32_t> ts, td;  // parents by creation number (from 1), or PHG / 0
    int32_t chain = 0;
    if (kind >= 2) {
        const int32_t lengths[] = {100, 120, 121, 126, 127, 150, 151, 160, 200, 300, 1200};
        chain = kind == 2 ? pick(121, 200) : lengths[seed % 11];
        const int32_t founders = pick(0, 3);
        for (int32_t f = 0; f < founders; ++f)
            ts.push_back(phg_parent()), td.push_back(phg_parent());
        int doubled = 0, extra = 0;
        for (int32_t k = 0; k < chain; ++k) {
            int32_t a = k == 0 ? phg_parent() : founders + k, b = phg_parent();
            const int r = pick(0, 99);
            if (k > 0 && (kind == 3 ? r < 95 : r < 2 && doubled < 2)) {
                b = a, ++doubled;
            } else if (kind == 2 && k > 5 && r < 5 && extra < 2) {
                b = founders + k + 1 - pick(2, 5), ++extra;  // a second line down the chain
            } else if (kind == 2 && founders > 0 && r < 15) {
                b = pick(1, founders);
            }
            if (chance(0.5)) std::swap(a, b);
            ts.push_back(a), td.push_back(b);
        }
    } else {
        const int32_t n = pick(1, 40);
        const double link = kind == 0 ? 0.1 * pick(1, 4) : 0.1 * pick(2, 8);
        const bool zeros = kind == 0 && chance(0.1);
        for (int32_t t = 1; t <= n; ++t) {
            int32_t par[2];
            for (int32_t& x : par)
                x = zeros && chance(0.05)                ? 0
                    : kind == 0 && chance(link)          ? pick(1, n)
                    : kind == 1 && t > 1 && chance(link) ? pick(1, t - 1)
                                                         : phg_parent();
            if (chance(0.1)) par[1] = par[0];
            ts.push_back(par[0]), td.push_back(par[1]);
        }
    }
    c.n = static_cast<int32_t>(ts.size());
    std::vector<int32_t> pos(ts.size() + 1);
    std::iota(pos.begin(), pos.end(), 0);
    const int order = pick(0, 2);
    if (order == 1) std::reverse(pos.begin() + 1, pos.end());
    if (order == 2) std::shuffle(pos.begin() + 1, pos.end(), rng);
    const auto place = [&](int32_t x) { return x > 0 ? pos[static_cast<std::size_t>(x)] : x; };
    c.sire.assign(pos.size(), 0), c.dam.assign(pos.size(), 0), c.marked.assign(pos.size(), 0);
    std::vector<uint8_t> named(pos.size(), 0);
    for (int32_t t = 1; t <= c.n; ++t) {
        const int32_t p = pos[t];
        c.sire[p] = place(ts[t - 1]), c.dam[p] = place(td[t - 1]);
        for (const int32_t x : {c.sire[p], c.dam[p]}) {
            if (x > 0) named[x] = 1;
            if (x == 0) c.zero_parent = true;
        }
    }
    const double pm = kind >= 2 ? 0.03 : std::vector{0.0, 0.15, 0.4, 1.0}[pick(0, 3)];
    for (int32_t i = 1; i <= c.n; ++i) c.marked[i] = chance(pm) ? 1 : 0;
    if (kind >= 2) c.marked[pos[c.n]] = 1;

    // IDs: like positions; low 32 bits small, 0 or -1; 0 or less (unnamed records only); large.
    c.id.assign(pos.size(), SENTINEL_ID);
    used.clear();
    for (int32_t i = 1; i <= c.n; ++i) {
        int64_t v = 0;
        do {
            const int r = pick(0, 9);
            v = r < 3    ? pick(1, 60)
                : r < 5  ? (int64_t{pick(1, 3)} << 32) + pick(0, 40)
                : r == 5 ? (int64_t{pick(1, 3)} << 32) - 1
                : r == 6 && named[i] == 0
                    ? -pick(0, 50)
                    : std::uniform_int_distribution<int64_t>(61, INT64_MAX)(rng);
        } while (!used.insert(v).second);
        c.id[i] = v;
    }
    const int32_t deep[] = {chain, chain + 1, chain - 1, chain + pick(2, 40), 1000000};
    const int32_t shallow[] = {-1, 0, 1, 2, 3, pick(1, 12), pick(4, 45), INT32_MAX};
    c.MAX_NIV = kind == 3   ? deep[pick(0, 1) * 4]
                : kind == 2 ? deep[pick(0, 4)]
                            : shallow[pick(0, 7)];
    const int32_t past = c.MAX_NIV < INT32_MAX ? c.MAX_NIV + 1 : INT32_MAX;
    const int32_t g[] = {-3, 0, 1, 2, pick(1, 8), past, INT32_MAX, pick(1, chain + 2)};
    c.GPRUNE = g[pick(0, 7)];
    c.n_bpop = c.n_phg;
    if (chance(0.5)) {
        c.n_bpop = pick(1, 4);
        c.bprop.assign(static_cast<std::size_t>(c.n_phg) + 1,
                       std::vector<double>(static_cast<std::size_t>(c.n_bpop)));
        for (std::size_t k = 1; k < c.bprop.size(); ++k)
            for (double& v : c.bprop[k])
                v = chance(0.2) ? pick(0, 1) : std::uniform_real_distribution<double>(0, 1)(rng);
    }
    c.OPT2 = pick(1, 2);
    return c;
}

struct TooCostly {};

template <class Stage>
bool within_budget(Stage stage) {
    try {
        stage();
        return true;
    } catch (const TooCostly&) {
        return false;
    }
}

// The recursions as written: no memory of what was visited. Stages that would take too long
// throw TooCostly and are skipped.
struct Literal {
    const Case& c;
    std::vector<int32_t> sire, dam, first, links, rank, order;
    std::vector<uint8_t> traced, keep, in_ped, seen;
    std::vector<float> F, kgen;
    std::vector<std::vector<float>> andel_s, andel_d;
    std::vector<double> bid_all, bid_marked;
    std::vector<std::string> kind6;
    int32_t error6 = 0, error7 = 0, max_level = 0, nin_prune = 0;
    int64_t budget = 0;
    bool guard = false;

    explicit Literal(const Case& k) : c(k), sire(k.sire), dam(k.dam), keep(k.marked) {
        const std::size_t n = sire.size();
        first = links = rank = std::vector<int32_t>(n);
        traced = in_ped = seen = std::vector<uint8_t>(n);
        F = kgen = std::vector<float>(n);
        andel_s = andel_d = std::vector<std::vector<float>>(n);
        bid_all = bid_marked = std::vector<double>(static_cast<std::size_t>(k.n_phg) + 1);
    }
    void spend(int32_t level) {
        if (--budget < 0 || level > 3000) throw TooCostly{};
    }
    int64_t parent_id(int32_t p) const { return p >= 0 ? c.id[p] : c.phg[-p]; }

    bool ane1(bool mark, int32_t i, int32_t level) {
        spend(level);
        if (level > c.MAX_NIV) return false;
        if (i < 1) return true;
        if (mark) traced[i] = 1;
        const bool r1 = ane1(mark, sire[i], level + 1);
        const bool r2 = ane1(mark, dam[i], level + 1);
        return r1 && r2;
    }
    void trace() {
        budget = 4'000'000;
        for (int32_t I = 1; I <= c.n; ++I) {
            if (c.id[I] <= 0) continue;
            const bool mark = c.marked[I] != 0;
            if (mark) traced[I] = 1;
            if (ane1(mark, I, 0)) continue;
            ++error6;
            if (mark) ++error7;
            kind6.insert(kind6.end(), {std::to_string(c.id[I]), std::to_string(parent_id(sire[I])),
                                       std::to_string(parent_id(dam[I])), mark ? "T" : "F"});
        }
    }

    std::vector<float> aner(int32_t from, int32_t p, int32_t n, bool mark, float& g) {
        spend(n);
        std::vector<float> v(static_cast<std::size_t>(c.n_bpop), 0.0f);
        if (n > c.MAX_NIV) {
            guard = true;
            return v;
        }
        if (p > 0) {
            if (mark && n <= c.GPRUNE) keep[p] = 1;
            float gs = 0.0f, gd = 0.0f;
            const std::vector<float> vs = aner(p, sire[p], n + 1, mark, gs);
            const std::vector<float> vd = aner(p, dam[p], n + 1, mark, gd);
            for (std::size_t j = 0; j < v.size(); ++j) v[j] = (vs[j] + vd[j]) * 0.5f;
            const float sum = gs + gd;
            g = static_cast<float>(static_cast<double>(sum) + P_HALVE(n));
            if (first[p] == 0) {
                links[p] = 1;
                first[p] = from;
            } else if (first[p] != from) {
                ++links[p];
            }
            return v;
        }
        for (int32_t j = 1; j <= c.n_bpop; ++j)
            v[j - 1] =
                static_cast<float>(c.bprop.empty() ? (j == -p ? 1.0 : 0.0) : c.bprop[-p][j - 1]);
        g = 0.0f;
        max_level = std::max(max_level, n);
        bid_all[-p] += P_HALVE(n);
        if (mark) bid_marked[-p] += P_HALVE(n);
        return v;
    }
    void output_loop() {
        budget = 4'000'000;
        for (int32_t I = 1; I <= c.n; ++I) {
            in_ped[I] = 0;
            links[I] = c.marked[I] != 0 ? 1 : 0;
            first[I] = c.marked[I] != 0 ? static_cast<int32_t>(static_cast<uint32_t>(c.id[I])) : 0;
        }
        for (int32_t I = 1; I <= c.n; ++I) {
            if (traced[I] == 0) continue;
            float ks = 0.0f, kd = 0.0f;
            andel_s[I] = aner(I, sire[I], 1, c.marked[I] != 0, ks);
            andel_d[I] = aner(I, dam[I], 1, c.marked[I] != 0, kd);
            kgen[I] = ks + kd;
            in_ped[I] = 1;
        }
    }

    // Rank: post-order of a depth-first visit from positions 1, 2, ..., sire before dam.
    void visit(int32_t p) {
        if (p <= 0 || traced[p] == 0 || seen[p] != 0) return;
        seen[p] = 1;
        visit(sire[p]);
        visit(dam[p]);
        order.push_back(p);
        rank[p] = static_cast<int32_t>(order.size());
    }
    float cffa(int32_t i, int32_t j) {
        spend(0);
        if (i <= 0 || j <= 0) return 0.0f;
        if (i == j) return 1.0f + F[i];
        if (rank[i] > rank[j]) {
            const float a = cffa(j, sire[i]);
            return 0.5f * (a + cffa(j, dam[i]));
        }
        const float a = cffa(i, sire[j]);
        return 0.5f * (a + cffa(i, dam[j]));
    }
    void inbreeding() {
        budget = 4'000'000;
        for (int32_t I = 1; I <= c.n; ++I) visit(I);
        for (const int32_t p : order)
            F[p] = sire[p] > 0 && dam[p] > 0 ? cffa(sire[p], dam[p]) * 0.5f : 0.0f;
    }

    int32_t prune(int32_t i) {
        spend(0);
        if (i < 1) return 0;
        int32_t m = links[i];
        if (sire[i] > 0) m = std::max(m, prune(sire[i]));
        if (dam[i] > 0) m = std::max(m, prune(dam[i]));
        return m;
    }
    void pruning() {
        budget = 4'000'000;
        for (int32_t I = 1; I <= c.n; ++I) {
            if (in_ped[I] == 0) continue;
            if (c.marked[I] != 0)
                keep[I] = 1;
            else if (keep[I] != 0 && prune(I) <= 1)
                keep[I] = 0;
        }
        for (int32_t I = 1; I <= c.n; ++I) {
            if (in_ped[I] == 0 || keep[I] == 0) continue;
            if (sire[I] > 0 && keep[sire[I]] == 0) sire[I] = 0;
            if (dam[I] > 0 && keep[dam[I]] == 0) dam[I] = 0;
            ++nin_prune;
        }
    }
};

struct Tally {
    int cases = 0, traced = 0, walked = 0, inbred = 0, bidrag = 0, pruned = 0;
};

void build(const Case& c, Listing& listing, Pedigree& p) {
    p.XLIST = Table("XLIST", c.n);
    p.XLIST[0].ID = SENTINEL_ID;
    p.PHG_LIST = Table("PHG_LIST", c.n_phg);
    int32_t NEW = 0;
    for (int32_t i = 1; i <= c.n; ++i) ASSERT_EQ(llist(listing, c.id[i], p.XLIST, 1, NEW), i);
    for (int32_t k = 1; k <= c.n_phg; ++k) llist(listing, c.phg[k], p.PHG_LIST, 1, NEW);
    p.N_PHG1 = c.n_phg;
    p.N_BPOP = c.n_bpop;
    if (c.bprop.empty())
        p.B_PROP.make_unit(c.n_phg);
    else
        p.B_PROP.create(listing, c.n_bpop, c.n_phg);
    for (int32_t k = 1; k < static_cast<int32_t>(c.bprop.size()); ++k)
        for (int32_t b = 1; b <= c.n_bpop; ++b) p.B_PROP.set(b, k, c.bprop[k][b - 1]);
    for (int32_t i = 1; i <= c.n; ++i) {
        Record& r = p.XLIST[i];
        r.SIRE = c.sire[i], r.DAM = c.dam[i], r.SORT = 3 * i - 50;
        r.MARKED = r.KEEP = c.marked[i] != 0 ? FLAG_TRUE : 0;
    }
}

// The inbreeding engine again with a cache so small that it forgets most pairs, and with
// several threads: the same bits as the literal recursion.
void check_engine_variants(Pedigree& p, const TracedOrder& order, const std::vector<float>& F) {
    for (const InbreedingSettings settings :
         {InbreedingSettings{1, 16}, InbreedingSettings{3, 64}, InbreedingSettings{2, 1 << 12}}) {
        p.F.assign(p.XLIST.LAST + 1, -1.0f);
        Progress quiet;
        inbreeding_coefficients(p, order, quiet, settings);
        for (const int32_t i : order.order)
            EXPECT_EQ(bits(p.F[i]), bits(F[i]))
                << "F at " << i << " with " << settings.threads << " threads and a cache of "
                << settings.cache_entries;
    }
}

void check_case(const Case& c, Tally& tally) {
    ++tally.cases;
    Scratch cap;
    Pedigree p;
    build(c, cap.listing, p);
    Literal lit(c);
    if (!within_budget([&] { lit.trace(); })) return;
    ++tally.traced;
    ErrorFiles errors;
    errors.file(6).open(cap.listing, cap.path("kind6"), true);
    trace_pedigree(c.MAX_NIV, p, errors);
    EXPECT_EQ(errors.ERROR[6], lit.error6);
    EXPECT_EQ(errors.ERROR[7], lit.error7);
    for (int32_t i = 1; i <= c.n; ++i)
        EXPECT_EQ(is_set(p.XLIST[i].TRACED), lit.traced[i] != 0) << "TRACED at " << i;
    errors.file(6).rewind_for_reading();
    std::vector<std::string> kind6;
    for (std::string t; errors.file(6).read_value(t);) kind6.push_back(t);
    EXPECT_EQ(kind6, lit.kind6);
    if (::testing::Test::HasFailure() || lit.error7 > 0 || c.zero_parent) return;

    // The output loop's walks; F in increasing rank.
    const bool inbred = within_budget([&] { lit.inbreeding(); });
    if (!within_budget([&] { lit.output_loop(); })) return;
    ++tally.walked;
    tally.inbred += inbred ? 1 : 0;
    EXPECT_FALSE(lit.guard) << "a walk passed MAX_NIV";
    OutFile f[5];  // PED, PRUNE, PHG_RENUM, BCONTRIB, HET
    for (const int k : {0, 1, 2, 3, 4}) f[k].open(cap.listing, cap.path("out") + std::to_string(k));
    const OutputFiles files{f[0], f[1], f[2], f[3], f[4]};
    const OutputOptions options{true, c.OPT2 == 2, true, true, !c.bprop.empty()};
    const GeneticValues g = genetic_values(cap.listing, p, HalvingTable(c.MAX_NIV), c.GPRUNE);
    Progress quiet;
    inbreeding_coefficients(p, g.order, quiet);
    OutputResults out;
    write_traced_pedigree(cap.listing, options, p, g, files, out, quiet);
    EXPECT_EQ(g.order.order, lit.order) << "rank order";
    int32_t n_traced = 0;
    for (int32_t i = 1; i <= c.n; ++i) {
        const Record& r = p.XLIST[i];
        EXPECT_EQ(is_set(r.KEEP), lit.keep[i] != 0) << "KEEP at " << i;
        EXPECT_EQ(r.N_LINKS >= 2, lit.links[i] >= 2) << "N_LINKS at " << i;
        if (lit.traced[i] == 0) continue;
        ++n_traced;
        EXPECT_EQ(bits(g.K_GEN[i]), bits(lit.kgen[i]))
            << "known generations at " << i << ": " << g.K_GEN[i] << " vs " << lit.kgen[i];
        EXPECT_EQ(bits(p.F.at(i)), inbred ? bits(lit.F[i]) : bits(p.F.at(i)))
            << "F at " << i << ": " << p.F.at(i);
    }
    // The vectors, asked for once per traced individual: in position order as the output loop
    // does, and in the reverse order (each vector is then made and freed at other times).
    for (const bool reverse : {false, true}) {
        WalkVectors walk(p, g.order);
        std::vector<double> vs(static_cast<std::size_t>(c.n_bpop)), vd(vs.size());
        for (int32_t k = 1; k <= c.n; ++k) {
            const int32_t i = reverse ? c.n + 1 - k : k;
            if (lit.traced[i] == 0) continue;
            const Record& r = p.XLIST[i];
            walk.parents(i, vs.data(), vd.data());
            for (const auto& [parent, got, want] :
                 {std::tuple{r.SIRE, &vs, &lit.andel_s[i]}, {r.DAM, &vd, &lit.andel_d[i]}}) {
                for (std::size_t j = 0; j < got->size(); ++j)
                    EXPECT_EQ(bits((*got)[j]), bits(static_cast<double>((*want)[j])))
                        << "vector of parent " << parent << " of " << i << ", population " << j + 1
                        << (reverse ? " (reverse order)" : "");
            }
        }
    }
    if (inbred) check_engine_variants(p, g.order, lit.F);
    EXPECT_EQ(out.NIN_PED, n_traced);
    // Sums of powers of two between 2^-max_level and 2^8: exact in 53 bits.
    if (lit.max_level <= 45) {
        ++tally.bidrag;
        for (int32_t k = 1; k <= c.n_phg; ++k) {
            EXPECT_EQ(bits(g.BIDRAG.all[k]), bits(lit.bid_all[k])) << "BIDRAG(k,1), k " << k;
            EXPECT_EQ(bits(g.BIDRAG.marked[k]), bits(lit.bid_marked[k])) << "BIDRAG(k,2), k " << k;
        }
    }
    if (::testing::Test::HasFailure()) return;

    if (!within_budget([&] { lit.pruning(); })) return;
    ++tally.pruned;
    write_pruned_pedigree(options, p, g.order, files.PRUNE, out);
    EXPECT_EQ(out.NIN_PRUNE, lit.nin_prune);
    for (int32_t i = 1; i <= c.n; ++i) {
        EXPECT_EQ(lit.in_ped[i] != 0 && is_set(p.XLIST[i].KEEP), lit.in_ped[i] && lit.keep[i])
            << "final KEEP at " << i;
        EXPECT_EQ(p.XLIST[i].SIRE, lit.sire[i]) << "pruned sire at " << i;
        EXPECT_EQ(p.XLIST[i].DAM, lit.dam[i]) << "pruned dam at " << i;
    }
}

// Mostly repeated parents: 2^length lines, too many to walk one by one. The known-generations
// value of a walk at (position, level) depends on nothing else, so it is evaluated once per pair
// here, by the same rule; lines past level 149 fall below the smallest 32-bit subnormal.
void check_repeated_parents(const Case& c, Tally& tally) {
    ++tally.cases;
    Scratch cap;
    Pedigree p;
    build(c, cap.listing, p);
    ErrorFiles errors;
    errors.file(6).open(cap.listing, cap.path("kind6"), true);
    trace_pedigree(c.MAX_NIV, p, errors);
    ASSERT_EQ(errors.ERROR[6], 0);
    const TracedOrder order = traced_order(p);
    const std::vector<float> kgen = known_generations(p, order, HalvingTable(c.MAX_NIV));
    Progress quiet;
    inbreeding_coefficients(p, order, quiet);
    Literal lit(c);
    const auto width = static_cast<std::size_t>(c.n) + 2;  // levels 0 .. n + 1
    std::vector<float> memo(width * width, -1.0f);
    const auto g = [&](const auto& self, int32_t q, int32_t n) -> float {
        if (q <= 0) return 0.0f;
        float& m = memo[static_cast<std::size_t>(q) * width + static_cast<std::size_t>(n)];
        if (m < 0.0f) {
            const float gs = self(self, c.sire[q], n + 1), gd = self(self, c.dam[q], n + 1);
            m = static_cast<float>(static_cast<double>(gs + gd) + P_HALVE(n));
        }
        return m;
    };
    for (int32_t i = 1; i <= c.n; ++i) lit.traced[i] = p.XLIST[i].TRACED;
    const bool inbred = within_budget([&] { lit.inbreeding(); });
    tally.walked += 1, tally.inbred += inbred ? 1 : 0;
    for (const int32_t i : order.order) {
        const float want = g(g, c.sire[i], 1) + g(g, c.dam[i], 1);
        EXPECT_EQ(bits(kgen[i]), bits(want))
            << "known generations at " << i << ": " << kgen[i] << " vs " << want;
        EXPECT_EQ(bits(p.F.at(i)), inbred ? bits(lit.F[i]) : bits(p.F.at(i))) << "F at " << i;
    }
    if (inbred) check_engine_variants(p, order, lit.F);
}

void run_cases(uint32_t first_seed, int count, int fixed_kind) {
    Tally tally;
    for (int n = 0; n < count && !::testing::Test::HasFailure(); ++n) {
        const uint32_t seed = first_seed + static_cast<uint32_t>(n);
        const int kind = fixed_kind >= 0 ? fixed_kind : n % 5 < 2 ? 0 : 1;
        const Case c = random_case(seed, kind);
        SCOPED_TRACE(::testing::Message() << "seed " << seed << " kind " << kind);
        if (kind == 3)
            check_repeated_parents(c, tally);
        else
            check_case(c, tally);
    }
    // Enough cases reach each comparison.
    EXPECT_TRUE(fixed_kind >= 0 ||
                (tally.traced >= 650 && tally.walked >= 250 && tally.pruned >= 240))
        << "cases " << tally.cases << ", traced " << tally.traced << ", walked " << tally.walked
        << ", inbreeding " << tally.inbred << ", BIDRAG " << tally.bidrag << ", pruned "
        << tally.pruned;
    EXPECT_TRUE(fixed_kind != 2 || (tally.traced == count && tally.walked >= count / 2));
}

TEST(WalksEquivalence, RandomSmallPedigrees) {
    run_cases(1000, 700, -1);
}
TEST(WalksEquivalence, DeepChains) {
    run_cases(500000, 24, 2);
}
TEST(WalksEquivalence, DeepRepeatedParents) {
    run_cases(700000, 22, 3);  // each length twice
}

// The threshold is the single-precision 1.0e-13, widened.
TEST(Contributions, ThresholdInSinglePrecision) {
    EXPECT_EQ(WRITE_THRESHOLD, 9.9999998245167e-14);
    EXPECT_FALSE(9.9999998245167e-14 > WRITE_THRESHOLD);
    EXPECT_TRUE(std::nextafter(WRITE_THRESHOLD, 1.0) > WRITE_THRESHOLD);
}

}  // namespace
}  // namespace kinstrom
