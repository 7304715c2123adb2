#include "trace/output.hpp"

#include <algorithm>
#include <new>
#include <optional>

#include "pedigree/store.hpp"

namespace kinstrom {

namespace {

std::size_t at(int32_t p) {
    return static_cast<std::size_t>(p);
}

}  // namespace

void isort64(int32_t n, std::vector<int64_t>& keys, std::vector<int64_t>& companions) {
    if (n < 2) return;
    const auto K = [&](int32_t i) -> int64_t& { return keys[at(i)]; };
    const auto C = [&](int32_t i) -> int64_t& { return companions[at(i)]; };
    int32_t l = n / 2 + 1, ir = n;
    for (;;) {
        int64_t rk = 0, rc = 0;
        if (l > 1) {
            --l;
            rk = K(l);
            rc = C(l);
        } else {
            rk = K(ir);
            rc = C(ir);
            K(ir) = K(1);
            C(ir) = C(1);
            --ir;
            if (ir == 1) {
                K(1) = rk;
                C(1) = rc;
                return;
            }
        }
        int32_t i = l, j = 2 * l;
        while (j <= ir) {
            if (j < ir && K(j) <= K(j + 1)) ++j;
            if (rk <= K(j)) {
                K(i) = K(j);
                C(i) = C(j);
                i = j;
                j = 2 * j;
            } else {
                j = ir + 1;
            }
        }
        K(i) = rk;
        C(i) = rc;
    }
}

int64_t parent_value(const Pedigree& pedigree, int32_t p, int32_t OPT2) {
    if (OPT2 == 2) return p;
    return pedigree.parent_id(p);
}

namespace {

// Work vectors of the contributions, with their allocation messages.
void allocate_sums(Listing& listing, int32_t n_bpop, BreedSums& sums, std::vector<double>& ANDEL,
                   std::vector<double>& ANDEL_S, std::vector<double>& ANDEL_D) {
    const auto n = static_cast<std::size_t>(n_bpop > 0 ? n_bpop : 0);
    const int64_t pairs = int64_t{n_bpop} * (n_bpop - 1) / 2;
    const auto l = static_cast<std::size_t>(pairs > 0 ? pairs : 0);
    constexpr double LARGEST = 1.7976931348623157e308;
    try {
        ANDEL.assign(n, 0.0);
        ANDEL_S.assign(n, 0.0);
        ANDEL_D.assign(n, 0.0);
        sums.ANDEL_SUM.assign(n, 0.0);
        sums.ANDEL_SSQ.assign(n, 0.0);
        sums.MIN_ANDEL.assign(n, LARGEST);
        sums.MAX_ANDEL.assign(n, -LARGEST);
        sums.N_ANDEL.assign(n, 0);
    } catch (const std::bad_alloc&) {
        listing.text(" Error when allocating vector ANDEL");
        throw FatalStop{};
    }
    try {
        sums.HET_S.assign(l, 0.0);
        sums.HET_SS.assign(l, 0.0);
        sums.N_HET.assign(l, 0);
        sums.MIN_HET.assign(l, LARGEST);
        sums.MAX_HET.assign(l, -LARGEST);
    } catch (const std::bad_alloc&) {
        listing.text(" Error when allocating vector HET");
        throw FatalStop{};
    }
}

// .BCONTRIB and .HET records of individual i, and the running sums.
void write_contributions(const OutputOptions& options, const Record& r, int32_t i,
                         const std::vector<double>& ANDEL, const std::vector<double>& ANDEL_S,
                         const std::vector<double>& ANDEL_D, OutputFiles files, BreedSums& sums,
                         FreeLine& line) {
    const auto n = static_cast<int32_t>(ANDEL.size());
    for (int32_t j = 1; j <= n; ++j) {
        const double x = ANDEL[at(j - 1)];
        if (!(x > WRITE_THRESHOLD)) continue;
        line.clear();
        if (options.OPT2 == 2) {
            line.i32(i).i32(j).r64(x).i64(r.ID);
        } else {
            line.i64(r.ID).i32(j).r64(x);
        }
        files.BCONTRIB.record(line);
        ++sums.NIN_BCONTRIB;
        const std::size_t u = at(j - 1);
        sums.ANDEL_SUM[u] += x;
        sums.ANDEL_SSQ[u] += x * x;
        sums.MIN_ANDEL[u] = std::min(sums.MIN_ANDEL[u], x);
        sums.MAX_ANDEL[u] = std::max(sums.MAX_ANDEL[u], x);
        ++sums.N_ANDEL[u];
    }
    std::size_t l = 0;
    for (int32_t j1 = 1; j1 <= n - 1; ++j1) {
        for (int32_t j2 = j1 + 1; j2 <= n; ++j2, ++l) {
            const double h = ANDEL_D[at(j2 - 1)] * ANDEL_S[at(j1 - 1)] +
                             ANDEL_S[at(j2 - 1)] * ANDEL_D[at(j1 - 1)];
            if (!(h > WRITE_THRESHOLD)) continue;
            sums.HET_S[l] += h;
            sums.HET_SS[l] += h * h;
            sums.MIN_HET[l] = std::min(sums.MIN_HET[l], h);
            sums.MAX_HET[l] = std::max(sums.MAX_HET[l], h);
            ++sums.N_HET[l];
            line.clear();
            if (options.OPT2 == 2) {
                line.i32(i).i32(j1).i32(j2).r64(h).i64(r.ID);
            } else {
                line.i64(r.ID).i32(j1).i32(j2).r64(h);
            }
            files.HET.record(line);
            ++sums.NIN_HET;
        }
    }
}

}  // namespace

void write_traced_pedigree(Listing& listing, const OutputOptions& options,
                           const HalvingTable& P_HALVE, Pedigree& pedigree, OutputFiles files,
                           OutputResults& results, Progress& progress) {
    Table& X = pedigree.XLIST;
    const int32_t n_phg = pedigree.N_PHG1;

    // The PHGs in descending order of ID.
    std::vector<int64_t> IW1;
    try {
        IW1.assign(at(n_phg) + 1, 0);
    } catch (const std::bad_alloc&) {
        allocation_failure(listing, "vector IW1");
    }
    try {
        results.IW2.assign(at(n_phg) + 1, 0);
    } catch (const std::bad_alloc&) {
        allocation_failure(listing, "vector IW2");
    }
    for (int32_t k = 1; k <= n_phg; ++k) {
        IW1[at(k)] = -pedigree.PHG_LIST[k].ID;
        results.IW2[at(k)] = k;
    }
    isort64(n_phg, IW1, results.IW2);
    try {
        results.ND_PHG.assign(2 * (at(n_phg) + 1), 0);
    } catch (const std::bad_alloc&) {
        listing.text(" Error when allocating vector ND_PHG");
        throw FatalStop{};
    }

    progress.begin("order, generations, walks");
    for (int32_t i = 1; i <= X.LAST; ++i) X[i].IN_PED = 0;
    results.order = traced_order(pedigree);
    const TracedOrder& order = results.order;
    keep_marks_and_links(pedigree, options.GPRUNE);
    results.K_GEN = known_generations(pedigree, order, P_HALVE);
    try {
        results.BIDRAG = phg_genomes(pedigree, order);
    } catch (const std::bad_alloc&) {
        allocation_failure(listing, "vector BIDRAG");
    }
    std::vector<double> ANDEL, ANDEL_S, ANDEL_D;
    std::optional<WalkVectors> walk;
    if (options.OPT1 == 2) {
        allocate_sums(listing, pedigree.N_BPOP, results.sums, ANDEL, ANDEL_S, ANDEL_D);
        walk.emplace(pedigree, order);
    }
    if (options.inbreeding) {
        progress.begin("inbreeding");
        inbreeding_coefficients(pedigree, order, progress);
    }
    progress.begin("writing the traced pedigree");

    FreeLine line(true);
    for (int32_t i = 1; i <= X.LAST; ++i) {
        if ((i & 0xfff) == 0) progress.advance(i, X.LAST);
        Record& r = X[i];
        if (!is_set(r.TRACED)) continue;
        if (r.SIRE < 0) ++results.ND_PHG[2 * at(-r.SIRE)];
        if (r.DAM < 0) ++results.ND_PHG[2 * at(-r.DAM) + 1];
        const int64_t sire = parent_value(pedigree, r.SIRE, options.OPT2);
        const int64_t dam = parent_value(pedigree, r.DAM, options.OPT2);
        line.clear();
        if (options.OPT2 == 2) {
            line.i64(i);
        } else {
            line.i64(r.ID);
        }
        line.i64(sire).i64(dam).i32(r.SORT).r32(results.K_GEN[at(i)]);
        if (options.inbreeding) line.r32(pedigree.F[at(i)]);
        if (options.OPT2 == 2) line.i64(r.ID);
        files.PED.record(line);
        ++results.ANTAL1;
        ++results.NIN_PED;
        r.IN_PED = FLAG_TRUE;
        if (options.OPT1 == 2) {
            walk->parents(i, ANDEL_S.data(), ANDEL_D.data());
            for (std::size_t j = 0; j < ANDEL.size(); ++j)
                ANDEL[j] = (ANDEL_S[j] + ANDEL_D[j]) * 0.5;
            write_contributions(options, r, i, ANDEL, ANDEL_S, ANDEL_D, files, results.sums, line);
        }
    }
}

void write_phg_renumbering(const Pedigree& pedigree, int32_t k, OutFile& PHG_RENUM) {
    FreeLine line(true);
    PHG_RENUM.record(line.i64(pedigree.PHG_LIST[k].ID).i64(-k));
}

void write_pruned_pedigree(const OutputOptions& options, Pedigree& pedigree, OutputFiles files,
                           OutputResults& results) {
    Table& X = pedigree.XLIST;
    // Whether an individual or one of its ancestors was reached through two offspring: the
    // largest link count of the line is 2 or more. Parents come before offspring in position
    // order only by chance, so settle them in the traced order.
    const TracedOrder& order = results.order;
    std::vector<uint8_t> linked(at(X.LAST) + 1, 0);
    for (const int32_t p : order.order) {
        const Record& r = X[p];
        linked[at(p)] = (r.N_LINKS >= 2 || (r.SIRE > 0 && linked[at(r.SIRE)] != 0) ||
                         (r.DAM > 0 && linked[at(r.DAM)] != 0))
                            ? 1
                            : 0;
    }
    for (int32_t i = 1; i <= X.LAST; ++i) {
        Record& r = X[i];
        if (!is_set(r.IN_PED)) continue;
        if (is_set(r.MARKED)) {
            r.KEEP = FLAG_TRUE;
        } else if (is_set(r.KEEP) && linked[at(i)] == 0) {
            r.KEEP = 0;
        }
    }
    results.NIN_PRUNE = 0;
    FreeLine line(true);
    for (int32_t i = 1; i <= X.LAST; ++i) {
        Record& r = X[i];
        if (!is_set(r.IN_PED) || !is_set(r.KEEP)) continue;
        if (r.SIRE > 0 && !is_set(X[r.SIRE].KEEP)) r.SIRE = 0;
        if (r.DAM > 0 && !is_set(X[r.DAM].KEEP)) r.DAM = 0;
        line.clear();
        if (options.OPT2 == 2) {
            line.i32(i).i32(r.SIRE).i32(r.DAM).i32(r.SORT).i64(r.ID);
        } else {
            line.i64(r.ID)
                .i64(parent_value(pedigree, r.SIRE, 1))
                .i64(parent_value(pedigree, r.DAM, 1))
                .i32(r.SORT);
        }
        files.PRUNE.record(line);
        ++results.NIN_PRUNE;
    }
}

}  // namespace kinstrom
