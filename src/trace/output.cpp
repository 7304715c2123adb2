#include "trace/output.hpp"

#include <new>

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

void write_traced_pedigree(Listing& listing, const OutputOptions& options,
                           const HalvingTable& P_HALVE, Pedigree& pedigree, OutputFiles files,
                           OutputResults& results) {
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

    for (int32_t i = 1; i <= X.LAST; ++i) X[i].IN_PED = 0;
    results.order = traced_order(pedigree);
    const TracedOrder& order = results.order;
    keep_marks_and_links(pedigree, options.GPRUNE);
    results.K_GEN = known_generations(pedigree, order, P_HALVE);
    results.BIDRAG = phg_genomes(pedigree, order);
    if (options.OPT1 == 2) results.walk = walk_vectors(pedigree, order);
    if (options.inbreeding) inbreeding_coefficients(pedigree, order);

    FreeLine line(true);
    for (int32_t i = 1; i <= X.LAST; ++i) {
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
        if (options.inbreeding) line.r32(r.F);
        if (options.OPT2 == 2) line.i64(r.ID);
        files.PED.record(line);
        ++results.ANTAL1;
        ++results.NIN_PED;
        r.IN_PED = FLAG_TRUE;
    }
}

void write_phg_renumbering(const OutputOptions& options, const Pedigree& pedigree,
                           OutputFiles files, OutputResults& results) {
    if (options.use_bprop) return;
    FreeLine line(true);
    for (int32_t j = 1; j <= pedigree.N_PHG1; ++j) {
        const auto k = static_cast<int32_t>(results.IW2[at(j)]);
        if (results.ND_PHG[2 * at(k)] == 0 && results.ND_PHG[2 * at(k) + 1] == 0) continue;
        if (options.OPT1 != 2 && options.OPT2 != 2) continue;
        files.PHG_RENUM.record(line.clear().i64(pedigree.PHG_LIST[k].ID).i64(-k));
        ++results.NIN_PHG_RENUM;
    }
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
