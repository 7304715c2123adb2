// The inbreeding engine (bounded pair cache, threads, one computation per mating) against the
// plain memoised recursion (every pair remembered in one global table) on a generated
// 100-thousand-animal pedigree: the same bits for every animal.
#include <gtest/gtest.h>

#include "capture.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <unordered_map>
#include <vector>

#include "genetics/genetics.hpp"

namespace kinstrom {
namespace {

std::size_t at(int32_t p) {
    return static_cast<std::size_t>(p);
}

// Overlapping generations: each year's animals descend from the males and females of the
// previous 2 to 8 years; a few sires are used heavily, dams have a handful of offspring, some
// matings are repeated (full sibs), and a share of parents is unknown (a PHG).
struct Population {
    std::vector<int32_t> sire, dam;  // by position, 0 unused
};

Population generate(int32_t animals, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const auto n = at(animals) + 1;
    Population pop{std::vector<int32_t>(n), std::vector<int32_t>(n)};
    const int32_t years = 40, per_year = animals / years;
    std::vector<int32_t> males, females, born;  // by birth; first position of each year
    // The animals of sex `of` born between the years' first positions `from` and `to`.
    const auto window = [](const std::vector<int32_t>& of, int32_t from, int32_t to) {
        return std::pair{std::lower_bound(of.begin(), of.end(), from),
                         std::lower_bound(of.begin(), of.end(), to)};
    };
    int32_t p = 0, last_sire = 0, last_dam = 0;
    for (int32_t y = 0; y < years && p < animals; ++y) {
        born.push_back(p + 1);
        const int32_t count = y + 1 == years ? animals - p : per_year;
        for (int32_t k = 0; k < count; ++k) {
            ++p;
            int32_t s = -1, d = -1;
            if (y >= 2) {
                const int32_t from = born[at(std::max(0, y - 8))], to = born[at(y - 1)];
                // The sires: the first 1.5% of each window's males, by a heavy tail.
                const auto [ml, mh] = window(males, from, to);
                const auto nm = static_cast<double>(mh - ml);
                if (nm > 0 && u(rng) < 0.95)
                    s = ml[static_cast<std::ptrdiff_t>(std::pow(u(rng), 3.0) *
                                                       std::max(1.0, nm * 0.015))];
                const auto [fl, fh] = window(females, from, to);
                const auto nf = static_cast<double>(fh - fl);
                if (nf > 0 && u(rng) < 0.9) d = fl[static_cast<std::ptrdiff_t>(u(rng) * nf)];
                if (last_sire > 0 && u(rng) < 0.05) s = last_sire, d = last_dam;  // full sibs
            }
            pop.sire[at(p)] = last_sire = s;
            pop.dam[at(p)] = last_dam = d;
            (u(rng) < 0.5 ? males : females).push_back(p);
        }
    }
    return pop;
}

TEST(InbreedingEngine, GeneratedPedigreeMatchesGlobalMemo) {
    constexpr int32_t N = 100000;
    const Population pop = generate(N, 20261206);
    CapturedListing out;
    Pedigree p;
    p.XLIST = Table("XLIST", N);
    p.XLIST[0].ID = SENTINEL_ID;
    int32_t NEW = 0;
    for (int32_t i = 1; i <= N; ++i) {
        ASSERT_EQ(llist(out.listing, 1000000 + i, p.XLIST, 1, NEW), i);
        Record& r = p.XLIST[i];
        r.SIRE = pop.sire[at(i)], r.DAM = pop.dam[at(i)], r.TRACED = FLAG_TRUE;
    }
    const TracedOrder order = traced_order(p);
    ASSERT_EQ(order.order.size(), at(N));

    // The recursion with every relationship remembered, by unordered pair, in one table.
    std::vector<float> want(at(N) + 1, 0.0f);
    std::unordered_map<uint64_t, float> memo;
    const auto cffa = [&](const auto& self, int32_t i, int32_t j) -> float {
        if (i <= 0 || j <= 0) return 0.0f;
        if (i == j) return 1.0f + want[at(i)];
        const uint64_t key =
            std::min(i, j) * (uint64_t{1} << 32) + static_cast<uint32_t>(std::max(i, j));
        if (const auto it = memo.find(key); it != memo.end()) return it->second;
        const bool i_younger = order.rank[at(i)] > order.rank[at(j)];
        const int32_t young = i_younger ? i : j, other = i_younger ? j : i;
        const float a = self(self, other, pop.sire[at(young)]);
        const float v = 0.5f * (a + self(self, other, pop.dam[at(young)]));
        memo.emplace(key, v);
        return v;
    };
    int32_t inbred = 0;
    for (const int32_t i : order.order) {
        const int32_t s = pop.sire[at(i)], d = pop.dam[at(i)];
        want[at(i)] = s > 0 && d > 0 ? cffa(cffa, s, d) * 0.5f : 0.0f;
        inbred += want[at(i)] > 0.0f ? 1 : 0;
    }
    // A pedigree where inbreeding is common and the recursion meets many pairs.
    EXPECT_GT(inbred, N / 4);
    EXPECT_GT(memo.size(), std::size_t{1000000});

    // The defaults, small caches of a fixed size, a cache sized per individual and bounded by
    // a share of memory, and walks per thread from 1 (0 counts as 1) to the default.
    for (const InbreedingSettings settings :
         {InbreedingSettings{}, InbreedingSettings{1, 1 << 16, 1},
          InbreedingSettings{2, 1 << 12, 3}, InbreedingSettings{2, 0, 0, 1, 64}}) {
        p.F.assign(at(N) + 1, -1.0f);
        Progress quiet;
        inbreeding_coefficients(p, order, quiet, settings);
        int32_t differ = 0;
        for (int32_t i = 1; i <= N; ++i)
            differ += std::bit_cast<uint32_t>(p.F[at(i)]) != std::bit_cast<uint32_t>(want[at(i)]);
        EXPECT_EQ(differ, 0) << settings.threads << " threads, cache " << settings.cache_entries
                             << " (per individual " << settings.cache_per_individual
                             << ", memory share " << settings.cache_memory_share << "), walks "
                             << settings.walks;
    }
}

}  // namespace
}  // namespace kinstrom
