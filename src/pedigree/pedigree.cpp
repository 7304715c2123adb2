#include "pedigree/pedigree.hpp"

#include <algorithm>
#include <deque>
#include <new>
#include <stdexcept>

namespace kinstrom {

void BreedProportions::create(Listing& listing, int32_t n_bpop, int32_t n_phg1) {
    n_bpop_ = n_bpop;
    unit_ = false;
    const std::size_t count = static_cast<std::size_t>(std::max(n_bpop, 0)) *
                              (static_cast<std::size_t>(std::max(n_phg1, 0)) + 1);
    const uint64_t bytes = uint64_t{count} * sizeof(double);
    try {
        values_.assign(count, 0.0);
    } catch (const std::bad_alloc&) {
        allocation_failure(listing, "B_PROP", true, bytes);
    } catch (const std::length_error&) {
        allocation_failure(listing, "B_PROP", true, bytes);
    }
}

void BreedProportions::make_unit(int32_t n) {
    n_bpop_ = n;
    unit_ = true;
    values_.clear();
}

void Pedigree::mark_ancestors(const std::vector<int32_t>& sources, int32_t generations,
                              uint8_t Record::*flag) {
    std::vector<int32_t> generation(static_cast<std::size_t>(XLIST.LAST) + 1, -1);
    std::deque<int32_t> queue;
    for (const int32_t i : sources) {
        generation[static_cast<std::size_t>(i)] = 0;
        queue.push_back(i);
    }
    while (!queue.empty()) {
        const int32_t i = queue.front();
        queue.pop_front();
        const int32_t next = generation[static_cast<std::size_t>(i)] + 1;
        if (next > generations) continue;
        for (const int32_t p : {XLIST[i].SIRE, XLIST[i].DAM}) {
            if (p <= 0 || generation[static_cast<std::size_t>(p)] >= 0) continue;
            generation[static_cast<std::size_t>(p)] = next;
            XLIST[p].*flag = FLAG_TRUE;
            queue.push_back(p);
        }
    }
}

}  // namespace kinstrom
