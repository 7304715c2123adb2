#include "pedigree/store.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <limits>
#include <new>

namespace kinstrom {

namespace {

constexpr int64_t UNSTORABLE_ID = std::numeric_limits<int64_t>::min();

[[noreturn]] void bitstr_error(Listing& listing, int64_t id) {
    std::array<int32_t, 64> IBIT{};
    const int64_t rest = bitstr64(id, IBIT);
    FreeLine line;
    line.text("BITSTR ERROR").i64(id).i64(rest);
    for (const int32_t digit : IBIT) line.i32(digit);
    line.i32(0);
    fatal_stop(listing, {line}, StopEnd::as_is,
               {{},
                0,
                0,
                "the ID -9223372036854775808 cannot be stored: IDs run from "
                "-9223372036854775807 to 9223372036854775807"});
}

[[noreturn]] void table_full(Listing& listing, int32_t capacity, const std::string& table) {
    const std::string n = std::to_string(capacity);
    const std::string more = std::to_string(int64_t{capacity} + 1);
    std::string cause;
    if (table == "XLIST") {
        cause = "more individuals than MAX_A=" + n + ": set MAX_A to at least " + more +
                " (individuals of the pedigree file and parents inserted for it)";
    } else if (table == "PHG_LIST") {
        cause = "more PHG codes than there are places for (" + n +
                "): without a breed-proportion file set MAX_PHG to at least " + more +
                "; with one, every PHG code of the pedigree must be in it";
    } else {
        cause = "more than " + n +
                " PHG codes are missing from the breed-proportion file: add "
                "them to the file";
    }
    fatal_stop(listing,
               {"DIMENSION PROBLEM A LIST IN LLIST",
                FreeLine().text("LIST OF DIMENSION ").i32(capacity).text(" MUST BE ENLARGED"),
                "COMPUTATIONS ABORTED"},
               StopEnd::as_is, {{}, 0, 0, cause});
}

}  // namespace

// A large index is searched in parts of 2^14 slots (256 KiB) when many IDs are looked up at
// once; the slot of the ID AHEAD places further on is fetched ahead of time.
constexpr int REGION_BITS = 14;
constexpr std::size_t AHEAD = 16;

constexpr std::size_t HUGE_PAGE = std::size_t{2} << 20;
constexpr std::size_t LARGE_BLOCK = std::size_t{2} << 20;

void* allocate_table_block(std::size_t bytes) {
    if (bytes < LARGE_BLOCK) return ::operator new(bytes);
    const std::size_t rounded = (bytes + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
    void* p = std::aligned_alloc(HUGE_PAGE, rounded);
    if (p == nullptr) throw std::bad_alloc();
    ::madvise(p, rounded, MADV_HUGEPAGE);  // a hint: without huge pages all works the same
    return p;
}

void free_table_block(void* p, std::size_t bytes) {
    if (bytes < LARGE_BLOCK) {
        ::operator delete(p);
    } else {
        std::free(p);
    }
}

Table::Table(std::string name, int32_t capacity) : DIM(capacity), name_(std::move(name)) {
    records_.resize(1);
}

void Table::use_dense_index(Listing& listing, int64_t n) {
    try {
        dense_.assign(static_cast<std::size_t>(std::max<int64_t>(n, 0)) + 1, 0);
    } catch (const std::bad_alloc&) {
        allocation_failure(listing, name_);
    }
}

int32_t Table::enter_hashed(Listing& listing, int64_t id, int32_t sort) {
    if (3 * static_cast<std::size_t>(LAST + 1) > 2 * slots_.size())
        grow_index(listing, slots_.empty() ? 64 : slots_.size() * 2);
    const uint64_t key = hash(id);
    Slot& slot = slots_[slot_of(key)];
    if (slot.position == 0) {
        if (LAST >= DIM) table_full(listing, DIM, name_);
        push_record(listing, id, sort);
        slot = Slot{key, LAST, sort};
    }
    return slot.position;
}

int32_t Table::find(int64_t id) const {
    if (dense(id)) return dense_[static_cast<std::size_t>(id)];
    if (slots_.empty()) return 0;
    const uint64_t key = hash(id);
    for (std::size_t s = key & mask_;; s = (s + 1) & mask_) {
        const Slot& slot = slots_[s];
        if (slot.position == 0 || slot.key == key) return slot.position;
    }
}

void Table::reserve(Listing& listing, int64_t n) {
    // No room past the capacity, and none at all for a capacity of 0 or below.
    const auto wanted = static_cast<std::size_t>(std::clamp<int64_t>(n, 0, std::max(DIM, 0)));
    try {
        records_.reserve(wanted + 1);
    } catch (const std::bad_alloc&) {
        allocation_failure(listing, name_, true, (uint64_t{wanted} + 1) * sizeof(Record));
    }
    make_room(listing, wanted);
}

void Table::make_room(Listing& listing, std::size_t records) {
    if (!dense_.empty()) return;  // the hash index grows as other IDs come
    std::size_t size = 64;
    while (2 * size < 3 * records) size *= 2;
    if (size > slots_.size()) grow_index(listing, size);
}

void Table::grow_index(Listing& listing, std::size_t size) {
    try {
        decltype(slots_) slots(size, Slot{0, 0, 0});
        const std::size_t mask = size - 1;
        for (const Slot& slot : slots_) {
            if (slot.position == 0) continue;
            std::size_t s = slot.key & mask;
            while (slots[s].position != 0) s = (s + 1) & mask;
            slots[s] = slot;
        }
        slots_.swap(slots);
        mask_ = mask;
    } catch (const std::bad_alloc&) {
        allocation_failure(listing, name_);
    }
}

void Table::append(Listing& listing, int64_t id) {
    if (dense(id)) {
        push_record(listing, id, 0);
        dense_[static_cast<std::size_t>(id)] = LAST;
        return;
    }
    if (3 * static_cast<std::size_t>(LAST + 1) > 2 * slots_.size())
        grow_index(listing, slots_.empty() ? 64 : slots_.size() * 2);
    push_record(listing, id, 0);
    const uint64_t key = hash(id);
    std::size_t s = key & mask_;
    while (slots_[s].position != 0) s = (s + 1) & mask_;
    slots_[s] = Slot{key, LAST, 0};
}

void Table::push_record(Listing& listing, int64_t id, int32_t sort) {
    try {
        if (records_.size() == records_.capacity()) {
            // Grow geometrically, but never past the capacity.
            const std::size_t cap = static_cast<std::size_t>(DIM) + 1;
            records_.reserve(std::min(cap, std::max<std::size_t>(records_.size() * 2, 1024)));
        }
        records_.emplace_back();
    } catch (const std::bad_alloc&) {
        allocation_failure(listing, name_);
    }
    ++LAST;
    records_.back().ID = id;
    records_.back().SORT = sort;
}

void Table::set_sort(int32_t p, int32_t sort) {
    Record& r = records_[static_cast<std::size_t>(p)];
    r.SORT = sort;
    if (slots_.empty() || dense(r.ID)) return;
    const uint64_t key = hash(r.ID);
    for (std::size_t s = key & mask_; slots_[s].position != 0; s = (s + 1) & mask_) {
        if (slots_[s].key == key) {
            slots_[s].sort = sort;
            return;
        }
    }
}

bool Table::grouping() const {
    return slots_.size() > (std::size_t{1} << grouped_from_bits);
}

std::size_t Table::batch_size() const {
    // Grouping wants many IDs to each part of the index; taken in order, a batch that stays in
    // the processor's cache is best.
    return grouping() ? std::size_t{1} << 18 : std::size_t{1} << 14;
}

std::size_t Table::slot_of(uint64_t key) const {
    std::size_t s = key & mask_;
    while (slots_[s].position != 0 && slots_[s].key != key) s = (s + 1) & mask_;
    return s;
}

void Table::group_keys(std::span<const int64_t> ids) const {
    Scratch& w = scratch_;
    const std::size_t n = ids.size();
    w.keys.resize(n);
    for (std::size_t i = 0; i < n; ++i) w.keys[i] = hash(ids[i]);
    const int shift = std::min(std::countr_zero(slots_.size()), REGION_BITS);
    const std::size_t regions = slots_.size() >> shift;
    const auto region = [&](uint64_t key) { return (key & mask_) >> shift; };
    w.counts.assign(regions + 1, 0);
    for (const uint64_t key : w.keys) ++w.counts[region(key) + 1];
    for (std::size_t r = 1; r <= regions; ++r) w.counts[r] += w.counts[r - 1];
    w.order.resize(n);
    w.grouped.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const uint32_t at = w.counts[region(w.keys[i])]++;
        w.order[at] = static_cast<uint32_t>(i);
        w.grouped[at] = w.keys[i];
    }
}

void Table::find_many(std::span<const int64_t> ids, std::span<int32_t> positions,
                      std::span<int32_t> sorts) const {
    const std::size_t n = ids.size();
    if (!dense_.empty()) {
        for (std::size_t i = 0; i < n; ++i) {
            if (i + AHEAD < n && dense(ids[i + AHEAD]))
                __builtin_prefetch(&dense_[static_cast<std::size_t>(ids[i + AHEAD])]);
            positions[i] = find(ids[i]);
            sorts[i] =
                positions[i] == 0 ? 0 : records_[static_cast<std::size_t>(positions[i])].SORT;
        }
        return;
    }
    if (slots_.empty()) {
        std::fill(positions.begin(), positions.end(), 0);
        std::fill(sorts.begin(), sorts.end(), 0);
        return;
    }
    if (!grouping()) {
        for (std::size_t i = 0; i < n; ++i) {
            if (i + AHEAD < n) __builtin_prefetch(&slots_[hash(ids[i + AHEAD]) & mask_]);
            const Slot& slot = slots_[slot_of(hash(ids[i]))];
            positions[i] = slot.position;
            sorts[i] = slot.sort;
        }
        return;
    }
    group_keys(ids);
    const Scratch& w = scratch_;
    for (std::size_t k = 0; k < n; ++k) {
        if (k + AHEAD < n) __builtin_prefetch(&slots_[w.grouped[k + AHEAD] & mask_]);
        const Slot& slot = slots_[slot_of(w.grouped[k])];
        const uint32_t i = w.order[k];
        positions[i] = slot.position;
        sorts[i] = slot.sort;
    }
}

void Table::enter_many(Listing& listing, std::span<const int64_t> ids,
                       std::span<const int32_t> sorts, std::span<int32_t> positions) {
    const std::size_t n = ids.size();
    if (n == 0) return;
    if (!dense_.empty()) {
        // One ID after another, as llist does.
        for (std::size_t i = 0; i < n; ++i) {
            if (!dense(ids[i])) {
                if (ids[i] == UNSTORABLE_ID) bitstr_error(listing, ids[i]);
                positions[i] = enter_hashed(listing, ids[i], sorts[i]);
                continue;
            }
            int32_t& p = dense_[static_cast<std::size_t>(ids[i])];
            if (p == 0) {
                if (LAST >= DIM) table_full(listing, DIM, name_);
                push_record(listing, ids[i], sorts[i]);
                p = LAST;
            }
            positions[i] = p;
        }
        return;
    }
    make_room(listing, static_cast<std::size_t>(LAST) + n);
    if (!grouping()) {
        // One ID after another, as llist does.
        for (std::size_t i = 0; i < n; ++i) {
            if (i + AHEAD < n) __builtin_prefetch(&slots_[hash(ids[i + AHEAD]) & mask_]);
            if (ids[i] == UNSTORABLE_ID) bitstr_error(listing, ids[i]);
            const uint64_t key = hash(ids[i]);
            Slot& slot = slots_[slot_of(key)];
            if (slot.position == 0) {
                if (LAST >= DIM) table_full(listing, DIM, name_);
                push_record(listing, ids[i], sorts[i]);
                slot = Slot{key, LAST, sorts[i]};
            }
            positions[i] = slot.position;
        }
        return;
    }
    group_keys(ids);
    Scratch& w = scratch_;
    // Every ID finds its slot; the first of equal new IDs claims an empty one (position -1 for
    // now), the others find it.
    w.slots.resize(n);
    w.claimed.assign(n, 0);
    for (std::size_t k = 0; k < n; ++k) {
        if (k + AHEAD < n) __builtin_prefetch(&slots_[w.grouped[k + AHEAD] & mask_]);
        const uint32_t i = w.order[k];
        if (ids[i] == UNSTORABLE_ID) continue;
        const std::size_t s = slot_of(w.grouped[k]);
        w.slots[i] = s;
        if (slots_[s].position != 0) continue;
        slots_[s] = Slot{w.grouped[k], -1, 0};
        w.claimed[i] = 1;
    }
    // In order of the IDs: the stops, and the positions of the new records. A stop leaves
    // claimed slots behind; the run ends there. Past this loop no ID is unstorable.
    for (std::size_t i = 0; i < n; ++i) {
        if (ids[i] == UNSTORABLE_ID) bitstr_error(listing, ids[i]);
        if (w.claimed[i] == 0) continue;
        if (LAST >= DIM) table_full(listing, DIM, name_);
        push_record(listing, ids[i], sorts[i]);
        positions[i] = LAST;
    }
    // The claimed slots receive their positions, and every ID its position, again grouped by
    // part of the index (the first of equal IDs comes first).
    for (std::size_t k = 0; k < n; ++k) {
        const uint32_t i = w.order[k];
        Slot& slot = slots_[w.slots[i]];
        if (w.claimed[i] != 0) slot = Slot{w.grouped[k], positions[i], sorts[i]};
        positions[i] = slot.position;
    }
}

int64_t bitstr64(int64_t ID, std::array<int32_t, 64>& IBIT) {
    IBIT.fill(0);
    // The absolute value of -2^63 does not fit: it stays negative, takes no digit and is
    // left over whole.
    int64_t x = ID == UNSTORABLE_ID ? ID : (ID < 0 ? -ID : ID);
    for (int e = 62; e >= 0; --e) {
        const int64_t power = int64_t{1} << e;
        if (power <= x) {
            IBIT[static_cast<std::size_t>(e)] = 1;
            x -= power;
        }
    }
    return x;
}

int32_t llist(Listing& listing, int64_t ID, Table& LIST, int INSERT, int32_t& NEW) {
    if (ID == UNSTORABLE_ID) bitstr_error(listing, ID);
    const int32_t found = LIST.find(ID);
    if (found != 0) {
        NEW = 0;
        return found;
    }
    NEW = 1;
    if (INSERT != 1) return 0;
    if (LIST.LAST >= LIST.DIM) table_full(listing, LIST.DIM, LIST.name());
    LIST.append(listing, ID);
    return LIST.LAST;
}

}  // namespace kinstrom
