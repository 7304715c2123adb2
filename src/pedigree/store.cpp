#include "pedigree/store.hpp"

#include <sys/mman.h>

#include <algorithm>
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
    listing.free(line);
    throw FatalStop{};
}

[[noreturn]] void table_full(Listing& listing, int32_t capacity) {
    listing.text("DIMENSION PROBLEM A LIST IN LLIST");
    listing.free(FreeLine().text("LIST OF DIMENSION ").i32(capacity).text(" MUST BE ENLARGED"));
    listing.text("COMPUTATIONS ABORTED");
    throw FatalStop{};
}

}  // namespace

constexpr std::size_t HUGE_PAGE = std::size_t{2} << 20;
constexpr std::size_t LARGE_BLOCK = std::size_t{4} << 20;

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

const Record Table::ZERO{};

Table::Table(std::string name, int32_t capacity) : DIM(capacity), name_(std::move(name)) {
    records_.resize(1);
}

void allocation_failure(Listing& listing, const std::string& what) {
    listing.text(" Error when allocating " + what);
    listing.free(FreeLine().text("ierr = ").i32(1));
    throw FatalStop{};
}

int32_t Table::find(int64_t id) const {
    if (slots_.empty()) return 0;
    const uint64_t h = hash(id);
    const uint32_t check = check_of(h);
    for (std::size_t s = h & mask_;; s = (s + 1) & mask_) {
        const Slot& slot = slots_[s];
        if (slot.position == 0) return 0;
        if (slot.check == check && records_[static_cast<std::size_t>(slot.position)].ID == id)
            return slot.position;
    }
}

void Table::prefetch_record(int64_t id) const {
    if (slots_.empty()) return;
    const uint64_t h = hash(id);
    const uint32_t check = check_of(h);
    for (std::size_t s = h & mask_;; s = (s + 1) & mask_) {
        const Slot& slot = slots_[s];
        if (slot.position == 0) return;
        if (slot.check == check) {
            __builtin_prefetch(&records_[static_cast<std::size_t>(slot.position)]);
            return;
        }
    }
}

void Table::reserve(Listing& listing, int64_t n) {
    const auto wanted = static_cast<std::size_t>(std::clamp<int64_t>(n, 0, DIM));
    try {
        records_.reserve(wanted + 1);
    } catch (const std::bad_alloc&) {
        allocation_failure(listing, name_);
    }
    std::size_t size = 64;
    while (2 * size < 3 * wanted) size *= 2;
    if (size > slots_.size()) grow_index(listing, size);
}

void Table::grow_index(Listing& listing, std::size_t size) {
    try {
        decltype(slots_) slots(size, Slot{0, 0});
        const std::size_t mask = size - 1;
        for (const Slot& slot : slots_) {
            if (slot.position == 0) continue;
            std::size_t s = hash(records_[static_cast<std::size_t>(slot.position)].ID) & mask;
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
    if (3 * static_cast<std::size_t>(LAST + 1) > 2 * slots_.size())
        grow_index(listing, slots_.empty() ? 64 : slots_.size() * 2);
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
    const uint64_t h = hash(id);
    std::size_t s = h & mask_;
    while (slots_[s].position != 0) s = (s + 1) & mask_;
    slots_[s] = Slot{check_of(h), LAST};
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
    if (LIST.LAST >= LIST.DIM) table_full(listing, LIST.DIM);
    LIST.append(listing, ID);
    return LIST.LAST;
}

}  // namespace kinstrom
