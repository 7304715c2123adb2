#include "trace/tracing.hpp"

#include <algorithm>
#include <new>

namespace kinstrom {

std::vector<int32_t> line_lengths(const Pedigree& pedigree) {
    const Table& X = pedigree.XLIST;
    const auto n = static_cast<std::size_t>(X.LAST) + 1;
    enum : uint8_t { NEW, OPEN, DONE };
    std::vector<uint8_t> state(n, NEW);
    std::vector<int32_t> length(n, 0);
    std::vector<int32_t> stack;
    state[0] = DONE;
    const auto parent_length = [&](int32_t p) {
        return p > 0 ? length[static_cast<std::size_t>(p)] : 0;
    };
    for (int32_t start = 1; start <= X.LAST; ++start) {
        if (state[static_cast<std::size_t>(start)] != NEW) continue;
        stack.push_back(start);
        while (!stack.empty()) {
            const int32_t i = stack.back();
            const auto si = static_cast<std::size_t>(i);
            const Record& r = X[i];
            if (state[si] == NEW) {
                state[si] = OPEN;
                bool loop = false;
                for (const int32_t p : {r.DAM, r.SIRE}) {
                    if (p <= 0) continue;
                    const uint8_t s = state[static_cast<std::size_t>(p)];
                    if (s == NEW) {
                        stack.push_back(p);
                    } else if (s == OPEN) {
                        loop = true;  // p is still being walked: a line back to itself
                    }
                }
                if (loop) length[si] = LINE_LOOP;
                continue;
            }
            stack.pop_back();
            if (state[si] == DONE) continue;
            state[si] = DONE;
            const int32_t longest = std::max(parent_length(r.SIRE), parent_length(r.DAM));
            if (length[si] == LINE_LOOP || longest == LINE_LOOP) {
                length[si] = LINE_LOOP;
            } else {
                length[si] = longest + 1;
            }
        }
    }
    return length;
}

void trace_pedigree(int32_t MAX_NIV, Pedigree& pedigree, ErrorFiles& errors) {
    Table& X = pedigree.XLIST;
    const std::vector<int32_t> length = line_lengths(pedigree);

    // Untraceable individuals, in increasing position.
    for (int32_t i = 1; i <= X.LAST; ++i) {
        const Record& r = X[i];
        if (r.ID <= 0) continue;
        if (MAX_NIV >= 0 && length[static_cast<std::size_t>(i)] <= MAX_NIV) continue;
        ++errors.ERROR[6];
        if (is_set(r.MARKED)) ++errors.ERROR[7];
        errors.untraceable(r.ID, pedigree.parent_id(r.SIRE), pedigree.parent_id(r.DAM),
                           is_set(r.MARKED));
    }

    // The traced pedigree: the marked individuals and their ancestors as far as MAX_NIV
    // generations back.
    std::vector<int32_t> marked;
    for (int32_t i = 1; i <= X.LAST; ++i) {
        Record& r = X[i];
        if (r.ID <= 0 || !is_set(r.MARKED)) continue;
        r.TRACED = FLAG_TRUE;
        marked.push_back(i);
    }
    pedigree.mark_ancestors(marked, MAX_NIV, &Record::TRACED);
}

std::vector<int32_t> phg_output_order(Listing& listing, const Pedigree& pedigree) {
    const auto n = static_cast<std::size_t>(std::max(pedigree.N_PHG1, 0));
    std::vector<int64_t> IW1;
    std::vector<int32_t> IW2;
    try {
        IW1.assign(n + 1, 0);
    } catch (const std::bad_alloc&) {
        allocation_failure(listing, "vector IW1");
    }
    try {
        IW2.assign(n + 1, 0);
    } catch (const std::bad_alloc&) {
        allocation_failure(listing, "vector IW2");
    }
    for (std::size_t k = 1; k <= n; ++k) {
        IW1[k] = -pedigree.PHG_LIST[static_cast<int32_t>(k)].ID;
        IW2[k] = static_cast<int32_t>(k);
    }
    // Ascending -ID. PHG_LIST holds each ID once, so no two keys tie and every sort gives
    // this one order.
    std::sort(IW2.begin() + 1, IW2.end(), [&](int32_t a, int32_t b) {
        return IW1[static_cast<std::size_t>(a)] < IW1[static_cast<std::size_t>(b)];
    });
    return IW2;
}

}  // namespace kinstrom
