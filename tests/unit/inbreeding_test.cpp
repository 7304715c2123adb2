// The inbreeding engine (bounded pair cache, threads, one computation per mating) against the
// plain memoised recursion (every pair remembered in one global table) on a generated
// 100-thousand-animal pedigree: the same bits for every animal.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <unordered_map>
#include <vector>

#include "genetics/genetics.hpp"

namespace kinstrom {
namespace {

// Overlapping generations: each year's animals descend from the males and females of the
// previous 2 to 8 years; a few sires are used heavily, dams have a handful of offspring, some
// matings are repeated (full sibs), and a share of parents is unknown (a PHG).
struct Population {
    std::vector<int32_t> sire, dam;  // by position, 0 unused
};

Population generate(int32_t animals, uint32_t seed) {
    std::mt19937 rng(seed);
    Population pop;
    pop.sire.assign(static_cast<std::size_t>(animals) + 1, 0);
    pop.dam.assign(pop.sire.size(), 0);
    const int32_t years = 40;
    const int32_t per_year = animals / years;
    std::vector<int32_t> males, females;  // by birth, one entry per animal
    std::vector<int32_t> born;            // first position of each year
    std::uniform_real_distribution<double> u(0.0, 1.0);
    int32_t p = 0;
    int32_t last_sire = 0, last_dam = 0;
    for (int32_t y = 0; y < years && p < animals; ++y) {
        born.push_back(p + 1);
        const int32_t count = y + 1 == years ? animals - p : per_year;
        for (int32_t k = 0; k < count; ++k) {
            ++p;
            int32_t s = -1, d = -1;
            if (y >= 2) {
                const auto from =
                    static_cast<std::size_t>(born[static_cast<std::size_t>(std::max(0, y - 8))]);
                const auto to = static_cast<std::size_t>(born[static_cast<std::size_t>(y - 1)]);
                // The sires: the first 1.5% of each window's males, by a heavy tail.
                std::vector<int32_t>::iterator lo =
                    std::lower_bound(males.begin(), males.end(), static_cast<int32_t>(from));
                std::vector<int32_t>::iterator hi =
                    std::lower_bound(males.begin(), males.end(), static_cast<int32_t>(to));
                const auto nm = static_cast<double>(hi - lo);
                if (nm > 0 && u(rng) < 0.95) {
                    const double pick = std::pow(u(rng), 3.0) * std::max(1.0, nm * 0.015);
                    s = *(lo + static_cast<std::ptrdiff_t>(pick));
                }
                lo = std::lower_bound(females.begin(), females.end(), static_cast<int32_t>(from));
                hi = std::lower_bound(females.begin(), females.end(), static_cast<int32_t>(to));
                const auto nf = static_cast<double>(hi - lo);
                if (nf > 0 && u(rng) < 0.9) d = *(lo + static_cast<std::ptrdiff_t>(u(rng) * nf));
                if (last_sire > 0 && u(rng) < 0.05) s = last_sire, d = last_dam;  // full sibs
            }
            pop.sire[static_cast<std::size_t>(p)] = s;
            pop.dam[static_cast<std::size_t>(p)] = d;
            last_sire = s, last_dam = d;
            (u(rng) < 0.5 ? males : females).push_back(p);
        }
    }
    return pop;
}

// The recursion with every relationship remembered, by unordered pair, in one table.
class GlobalMemo {
  public:
    GlobalMemo(const std::vector<int32_t>& sire, const std::vector<int32_t>& dam,
               const std::vector<int32_t>& rank, std::vector<float>& F)
        : sire_(sire), dam_(dam), rank_(rank), F_(F) {}

    float cffa(int32_t i, int32_t j) {
        if (i <= 0 || j <= 0) return 0.0f;
        if (i == j) return 1.0f + F_[at(i)];
        const uint64_t key =
            std::min(i, j) * (uint64_t{1} << 32) + static_cast<uint32_t>(std::max(i, j));
        if (const auto it = memo_.find(key); it != memo_.end()) return it->second;
        const bool i_younger = rank_[at(i)] > rank_[at(j)];
        const int32_t young = i_younger ? i : j, other = i_younger ? j : i;
        const float a = cffa(other, sire_[at(young)]);
        const float v = 0.5f * (a + cffa(other, dam_[at(young)]));
        memo_.emplace(key, v);
        return v;
    }
    std::size_t pairs() const { return memo_.size(); }

  private:
    static std::size_t at(int32_t p) { return static_cast<std::size_t>(p); }
    const std::vector<int32_t>& sire_;
    const std::vector<int32_t>& dam_;
    const std::vector<int32_t>& rank_;
    std::vector<float>& F_;
    std::unordered_map<uint64_t, float> memo_;
};

TEST(InbreedingEngine, GeneratedPedigreeMatchesGlobalMemo) {
    constexpr int32_t N = 100000;
    const Population pop = generate(N, 20261206);
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    Listing listing(file, RunDate{});
    Pedigree p;
    p.XLIST = Table("XLIST", N);
    p.XLIST[0].ID = SENTINEL_ID;
    int32_t NEW = 0;
    for (int32_t i = 1; i <= N; ++i) {
        ASSERT_EQ(llist(listing, 1000000 + i, p.XLIST, 1, NEW), i);
        Record& r = p.XLIST[i];
        r.SIRE = pop.sire[static_cast<std::size_t>(i)];
        r.DAM = pop.dam[static_cast<std::size_t>(i)];
        r.TRACED = FLAG_TRUE;
    }
    std::fclose(file);
    const TracedOrder order = traced_order(p);
    ASSERT_EQ(order.order.size(), static_cast<std::size_t>(N));

    std::vector<float> want(static_cast<std::size_t>(N) + 1, 0.0f);
    GlobalMemo memo(pop.sire, pop.dam, order.rank, want);
    int32_t inbred = 0;
    for (const int32_t i : order.order) {
        const int32_t s = pop.sire[static_cast<std::size_t>(i)],
                      d = pop.dam[static_cast<std::size_t>(i)];
        want[static_cast<std::size_t>(i)] = s > 0 && d > 0 ? memo.cffa(s, d) * 0.5f : 0.0f;
        inbred += want[static_cast<std::size_t>(i)] > 0.0f ? 1 : 0;
    }
    // A pedigree where inbreeding is common and the recursion meets many pairs.
    EXPECT_GT(inbred, N / 4);
    EXPECT_GT(memo.pairs(), std::size_t{1000000});

    for (const InbreedingSettings settings :
         {InbreedingSettings{}, InbreedingSettings{1, 1 << 16}, InbreedingSettings{2, 1 << 12}}) {
        p.F.assign(static_cast<std::size_t>(N) + 1, -1.0f);
        Progress quiet;
        inbreeding_coefficients(p, order, quiet, settings);
        int32_t differ = 0;
        for (int32_t i = 1; i <= N; ++i) {
            if (std::bit_cast<uint32_t>(p.F[static_cast<std::size_t>(i)]) !=
                std::bit_cast<uint32_t>(want[static_cast<std::size_t>(i)]))
                ++differ;
        }
        EXPECT_EQ(differ, 0) << settings.threads << " threads, cache " << settings.cache_entries;
    }
}

}  // namespace
}  // namespace kinstrom
