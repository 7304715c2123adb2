#include "genetics/genetics.hpp"

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

namespace kinstrom {

namespace {

// 0.5^g is 0 in double precision from g = 1075 on.
constexpr int32_t HALVING_STORED = 1100;

// Lines at most this many individuals long keep every known-generations value of a walk a
// normal 32-bit number (above 2^-126), so that the value at level n is exactly 2^-(n-1) times
// the value at level 1.
constexpr int32_t SCALING_EXACT_LINES = 120;

}  // namespace

HalvingTable::HalvingTable(int32_t max_niv) {
    if (max_niv < 0) return;
    values_.resize(static_cast<std::size_t>(std::min(max_niv, HALVING_STORED)) + 1);
    double p = 1.0;
    for (double& v : values_) {
        v = p;
        p *= 0.5;  // exact: halving a power of two, down to the smallest subnormal
    }
}

TracedOrder traced_order(const Pedigree& pedigree) {
    const Table& X = pedigree.XLIST;
    TracedOrder out;
    out.rank.assign(at(X.LAST) + 1, 0);
    out.depth.assign(at(X.LAST) + 1, 0);
    std::vector<uint8_t> seen(at(X.LAST) + 1, 0);
    struct Frame {
        int32_t p;
        int stage;  // 0: sire next, 1: dam next, 2: done
    };
    std::vector<Frame> stack;
    const auto enter = [&](int32_t p) {
        if (p <= 0 || seen[at(p)] != 0 || !is_set(X[p].TRACED)) return;
        seen[at(p)] = 1;
        stack.push_back({p, 0});
    };
    for (int32_t start = 1; start <= X.LAST; ++start) {
        enter(start);
        while (!stack.empty()) {
            Frame& f = stack.back();
            const int32_t p = f.p;
            if (f.stage == 0) {
                f.stage = 1;
                enter(X[p].SIRE);
            } else if (f.stage == 1) {
                f.stage = 2;
                enter(X[p].DAM);
            } else {
                stack.pop_back();
                out.order.push_back(p);
                out.rank[at(p)] = static_cast<int32_t>(out.order.size());
                const int32_t s = X[p].SIRE > 0 ? out.depth[at(X[p].SIRE)] : 0;
                const int32_t d = X[p].DAM > 0 ? out.depth[at(X[p].DAM)] : 0;
                out.depth[at(p)] = std::max(s, d) + 1;
                out.deepest = std::max(out.deepest, out.depth[at(p)]);
            }
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Known generations

namespace {

// From this level on every value of a walk is 0 in single precision: 0.5^150 is half the
// smallest subnormal and rounds to 0 (to even), so by induction from the PHGs every value at
// level 150 and above is 0 + 0.5^n rounded, that is 0.
constexpr int32_t LEVELS_NOT_ZERO = 149;

}  // namespace

std::vector<float> known_generations(const Pedigree& pedigree, const TracedOrder& order,
                                     const HalvingTable& P_HALVE) {
    const Table& X = pedigree.XLIST;
    std::vector<float> kgen(at(X.LAST) + 1, 0.0f);

    if (order.deepest <= SCALING_EXACT_LINES) {
        // Value of each individual's walk at level 1; at level 2 it is exactly half of that.
        std::vector<float> level1(at(X.LAST) + 1, 0.0f);
        const auto at_level2 = [&](int32_t p) {
            return p > 0 ? std::ldexp(level1[at(p)], -1) : 0.0f;
        };
        for (const int32_t p : order.order) {
            // The same single-double-single steps as the literal walk (see above).
            const float sum = at_level2(X[p].SIRE) + at_level2(X[p].DAM);
            level1[at(p)] = static_cast<float>(static_cast<double>(sum) + P_HALVE[1]);
        }
        for (const int32_t p : order.order) {
            const float gs = X[p].SIRE > 0 ? level1[at(X[p].SIRE)] : 0.0f;
            const float gd = X[p].DAM > 0 ? level1[at(X[p].DAM)] : 0.0f;
            kgen[at(p)] = gs + gd;
        }
        return kgen;
    }

    // Deeper lines: the walk's value at level n for every individual, one level at a time from
    // the highest that matters down to 1, each from the parents' values at the level above. A
    // value at level n is read only where n plus the individual's generation is at most the
    // deepest, so above the deepest level nothing needed is lost by starting from 0; above
    // LEVELS_NOT_ZERO every value is 0. Two values per individual, whatever the depth.
    const int32_t top = std::min(order.deepest, LEVELS_NOT_ZERO + 1);
    std::vector<float> above(at(X.LAST) + 1, 0.0f), here(at(X.LAST) + 1, 0.0f);
    const auto value = [](const std::vector<float>& level, int32_t p) {
        return p > 0 ? level[at(p)] : 0.0f;
    };
    for (int32_t n = top; n >= 1; --n) {
        for (const int32_t p : order.order) {
            // The rule's steps: the two halves summed in single precision, the power of one half
            // added in double, the result rounded to single.
            const float sum = value(above, X[p].SIRE) + value(above, X[p].DAM);
            here[at(p)] = static_cast<float>(static_cast<double>(sum) + P_HALVE[n]);
        }
        above.swap(here);
    }
    for (const int32_t p : order.order)
        kgen[at(p)] = value(above, X[p].SIRE) + value(above, X[p].DAM);
    return kgen;
}

// ---------------------------------------------------------------------------------------------
// Base-population vectors, PHG genomes, keep marks and links

WalkVectors::WalkVectors(const Pedigree& pedigree, const TracedOrder& order)
    : pedigree_(pedigree), n_(static_cast<std::size_t>(std::max(pedigree.N_BPOP, 0))) {
    const Table& X = pedigree.XLIST;
    uses_.assign(at(X.LAST) + 1, 0);
    slot_.assign(at(X.LAST) + 1, -1);
    // A vector is read once by each offspring's record, and once more to make the offspring's
    // own vector when that one is needed in turn (the offspring has traced offspring itself).
    std::vector<uint8_t> has_offspring(at(X.LAST) + 1, 0);
    for (const int32_t c : order.order) {
        for (const int32_t p : {X[c].SIRE, X[c].DAM})
            if (p > 0) has_offspring[at(p)] = 1;
    }
    for (const int32_t c : order.order) {
        for (const int32_t p : {X[c].SIRE, X[c].DAM})
            if (p > 0) uses_[at(p)] += 1 + has_offspring[at(c)];
    }
    vs_.assign(n_, 0.0f);
    vd_.assign(n_, 0.0f);
}

void WalkVectors::used(int32_t p) {
    if (p <= 0 || --uses_[at(p)] > 0) return;
    free_.push_back(slot_[at(p)]);
    slot_[at(p)] = -1;
}

void WalkVectors::make(int32_t p) {
    const Table& X = pedigree_.XLIST;
    stack_.push_back(p);
    while (!stack_.empty()) {
        const int32_t q = stack_.back();
        const int32_t s = X[q].SIRE, d = X[q].DAM;
        const bool need_s = s > 0 && slot_[at(s)] < 0;
        const bool need_d = d > 0 && d != s && slot_[at(d)] < 0;
        if (need_s) stack_.push_back(s);
        if (need_d) stack_.push_back(d);
        if (need_s || need_d) continue;
        stack_.pop_back();
        if (slot_[at(q)] >= 0) continue;  // made meanwhile through another line
        const auto fill = [&](int32_t r, std::vector<float>& out) {
            for (std::size_t j = 0; j < n_; ++j) {
                if (r > 0) {
                    out[j] = slot(slot_[at(r)])[j];
                } else if (r < 0) {
                    out[j] =
                        static_cast<float>(pedigree_.B_PROP.at(static_cast<int32_t>(j) + 1, -r));
                } else {
                    out[j] = 0.0f;
                }
            }
        };
        fill(s, vs_);
        fill(d, vd_);
        int32_t k = 0;
        if (!free_.empty()) {
            k = free_.back();
            free_.pop_back();
        } else {
            k = slots_++;
            if (static_cast<std::size_t>(k) / CHUNK >= chunks_.size())
                chunks_.push_back(std::make_unique<float[]>(CHUNK * n_));
        }
        float* v = slot(k);
        for (std::size_t j = 0; j < n_; ++j) v[j] = (vs_[j] + vd_[j]) * 0.5f;
        slot_[at(q)] = k;
        used(s);
        used(d);
    }
}

// The walks carry 32-bit reals: a PHG's breed proportions are rounded to single precision on
// the way in, and the walk's value is widened to double only when it is returned.
void WalkVectors::parent(int32_t p, double* out) {
    if (p > 0 && slot_[at(p)] < 0) make(p);
    for (std::size_t j = 0; j < n_; ++j) {
        float v = 0.0f;
        if (p > 0) {
            v = slot(slot_[at(p)])[j];
        } else if (p < 0) {
            v = static_cast<float>(pedigree_.B_PROP.at(static_cast<int32_t>(j) + 1, -p));
        }
        out[j] = static_cast<double>(v);
    }
}

void WalkVectors::parents(int32_t i, double* sire, double* dam) {
    if (n_ == 0) return;
    const Record& r = pedigree_.XLIST[i];
    parent(r.SIRE, sire);
    parent(r.DAM, dam);
    used(r.SIRE);
    used(r.DAM);
}

Bidrag phg_genomes(const Pedigree& pedigree, const TracedOrder& order) {
    const Table& X = pedigree.XLIST;
    Bidrag out;
    out.all.assign(at(pedigree.PHG_LIST.LAST) + 1, 0.0);
    out.marked.assign(out.all.size(), 0.0);
    // Flow of each individual: the sum over the walks reaching it of one half to the power of
    // its level, the walk's own individual counting 1; offspring before parents. A parent
    // receives half its offspring's flow through each link.
    std::vector<double> flow(at(X.LAST) + 1, 0.0), flow_marked(flow.size(), 0.0);
    for (auto it = order.order.rbegin(); it != order.order.rend(); ++it) {
        const int32_t c = *it;
        const double f = flow[at(c)] + 1.0;
        const double fm = flow_marked[at(c)] + (is_set(X[c].MARKED) ? 1.0 : 0.0);
        for (const int32_t p : {X[c].SIRE, X[c].DAM}) {
            if (p > 0) {
                flow[at(p)] += 0.5 * f;
                flow_marked[at(p)] += 0.5 * fm;
            } else if (p < 0) {
                out.all[at(-p)] += 0.5 * f;
                out.marked[at(-p)] += 0.5 * fm;
            }
        }
    }
    return out;
}

void keep_marks_and_links(Pedigree& pedigree, int32_t GPRUNE) {
    Table& X = pedigree.XLIST;
    // Link bookkeeping as prepared before the walks.
    for (int32_t i = 1; i <= X.LAST; ++i) {
        Record& r = X[i];
        r.N_LINKS = is_set(r.MARKED) ? 1 : 0;
        // A marked individual starts with the low 32 bits of its own ID as first offspring (the
        // link field is 32 bits wide). A parent whose ID shares those bits with the position of
        // its first traced offspring then counts that offspring as no new link; that is the
        // rule of the link count, odd as it is.
        r.FIRST_OFFSPRING =
            is_set(r.MARKED) ? static_cast<int32_t>(static_cast<uint32_t>(r.ID & 0xffffffff)) : 0;
    }
    // Every traced individual is walked and reaches its parents through itself; whether a
    // parent's count reaches 2 does not depend on the order of arrival.
    for (int32_t c = 1; c <= X.LAST; ++c) {
        if (!is_set(X[c].TRACED)) continue;
        for (const int32_t a : {X[c].SIRE, X[c].DAM}) {
            if (a <= 0) continue;
            Record& r = X[a];
            if (r.FIRST_OFFSPRING == 0) {
                r.N_LINKS = 1;
                r.FIRST_OFFSPRING = c;
            } else if (r.FIRST_OFFSPRING != c && r.N_LINKS < 2) {
                ++r.N_LINKS;
            }
        }
    }
    // Keep marks: ancestors at most GPRUNE generations back from a marked individual.
    std::vector<int32_t> marked;
    for (int32_t i = 1; i <= X.LAST; ++i)
        if (is_set(X[i].TRACED) && is_set(X[i].MARKED)) marked.push_back(i);
    pedigree.mark_ancestors(marked, GPRUNE, &Record::KEEP);
}

// ---------------------------------------------------------------------------------------------
// The phase

GeneticValues genetic_values(Listing& listing, Pedigree& pedigree, const HalvingTable& P_HALVE,
                             int32_t GPRUNE) {
    GeneticValues out;
    out.order = traced_order(pedigree);
    keep_marks_and_links(pedigree, GPRUNE);
    out.K_GEN = known_generations(pedigree, out.order, P_HALVE);
    try {
        out.BIDRAG = phg_genomes(pedigree, out.order);
    } catch (const std::bad_alloc&) {
        allocation_failure(listing, "vector BIDRAG");
    }
    return out;
}

BreedValues::BreedValues(Listing& listing, const Pedigree& pedigree, const TracedOrder& order)
    : walk_(pedigree, order) {
    const auto n = static_cast<std::size_t>(std::max(pedigree.N_BPOP, 0));
    const int64_t pairs = int64_t{pedigree.N_BPOP} * (pedigree.N_BPOP - 1) / 2;
    try {
        ANDEL.assign(n, 0.0);
        ANDEL_S.assign(n, 0.0);
        ANDEL_D.assign(n, 0.0);
    } catch (const std::bad_alloc&) {
        allocation_failure(listing, "vector ANDEL", false);
    }
    try {
        HET.assign(static_cast<std::size_t>(std::max<int64_t>(pairs, 0)), 0.0);
    } catch (const std::bad_alloc&) {
        allocation_failure(listing, "vector HET", false);
    }
}

void BreedValues::of(int32_t i) {
    walk_.parents(i, ANDEL_S.data(), ANDEL_D.data());
    const auto n = static_cast<int32_t>(ANDEL.size());
    for (std::size_t j = 0; j < ANDEL.size(); ++j) ANDEL[j] = (ANDEL_S[j] + ANDEL_D[j]) * 0.5;
    std::size_t l = 0;
    for (int32_t j1 = 1; j1 <= n - 1; ++j1) {
        for (int32_t j2 = j1 + 1; j2 <= n; ++j2, ++l) {
            HET[l] = ANDEL_D[at(j2 - 1)] * ANDEL_S[at(j1 - 1)] +
                     ANDEL_S[at(j2 - 1)] * ANDEL_D[at(j1 - 1)];
        }
    }
}

}  // namespace kinstrom
