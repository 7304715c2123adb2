// The tables of the pedigree: XLIST (individuals), PHG_LIST (phantom parent groups) and
// PHG_ERRLIST (PHG codes missing from the breed-proportion file), with their ID index `llist`.
//
// Positions are handed out from 1 upward in order of insertion and never change; position 0
// of XLIST is the sentinel (ID -999999997) standing for a PHG code missing from the
// breed-proportion file, and negative positions of XLIST read as all-zero records.
// A table grows as records arrive, up to its capacity; the capacity is enforced exactly.
//
// Fatal stops: a full table (the three-line capacity abort), the ID -9223372036854775808
// ("BITSTR ERROR"), a table that cannot be allocated.
#pragma once

#include <array>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "listing/listing.hpp"

namespace kinstrom {

inline constexpr uint8_t FLAG_TRUE = 255;
inline constexpr int64_t SENTINEL_ID = -999999997;

// One record, shared by the three tables.
struct Record {
    int64_t ID = 0;
    int32_t SORT = 0;             // sort variable or birth date yyyymmdd
    int32_t FIRST_OFFSPRING = 0;  // first offspring reached by the ancestor walk
    int32_t N_LINKS = 0;          // link count of the ancestor walk
    int32_t SIRE = 0;             // p > 0: XLIST(p); p < 0: PHG_LIST(-p); 0: missing PHG
    int32_t DAM = 0;
    float F = 0.0f;      // inbreeding coefficient
    uint8_t MARKED = 0;  // flags: 0 false, 255 true; tests look at the lowest bit
    uint8_t IN_PED = 0;
    uint8_t TRACED = 0;
    uint8_t KEEP = 0;
};

inline bool is_set(uint8_t flag) {
    return (flag & 1U) != 0;
}

// Allocator of the large tables: blocks of 4 MiB and more are aligned to 2 MiB and offered to
// the kernel for huge pages, which cuts page faults and TLB misses on ten-million-record tables.
void* allocate_table_block(std::size_t bytes);
void free_table_block(void* p, std::size_t bytes);

template <class T>
struct TableAllocator {
    using value_type = T;
    TableAllocator() = default;
    template <class U>
    TableAllocator(const TableAllocator<U>&) {}
    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        return static_cast<T*>(allocate_table_block(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) { free_table_block(p, n * sizeof(T)); }
    template <class U>
    bool operator==(const TableAllocator<U>&) const {
        return true;
    }
};

// A table of records with its ID index. Position p holds records[p].
class Table {
  public:
    // `name` is what an allocation failure names; `capacity` is DIM.
    Table(std::string name, int32_t capacity);

    int32_t LAST = 0;  // records used
    int32_t DIM;       // capacity

    Record& operator[](int32_t p) { return records_[static_cast<std::size_t>(p)]; }
    const Record& operator[](int32_t p) const { return records_[static_cast<std::size_t>(p)]; }

    // A position of XLIST, negative ones included (those read as all-zero records).
    const Record& at(int32_t p) const {
        return p < 0 ? ZERO : records_[static_cast<std::size_t>(p)];
    }

    const std::string& name() const { return name_; }

    // Makes room for about n records (never past the capacity) ahead of time.
    void reserve(Listing& listing, int64_t n);

    // Frees the index once the last lookup is done.
    void drop_index() {
        decltype(slots_)().swap(slots_);
        mask_ = 0;
    }

    // Index operations for llist.
    int32_t find(int64_t id) const;
    // Asks for the index slot of id to be brought into the processor's cache ahead of a
    // lookup; changes nothing.
    void prefetch(int64_t id) const {
        if (!slots_.empty()) __builtin_prefetch(&slots_[hash(id) & mask_]);
    }
    // The same for the record that the index names for id (best after prefetch(id)).
    void prefetch_record(int64_t id) const;
    void append(Listing& listing, int64_t id);  // position LAST + 1, capacity checked by caller

  private:
    static const Record ZERO;
    static uint64_t hash(int64_t id) {
        auto x = static_cast<uint64_t>(id);
        x ^= x >> 30;
        x *= 0xbf58476d1ce4e5b9ULL;
        x ^= x >> 27;
        x *= 0x94d049bb133111ebULL;
        x ^= x >> 31;
        return x;
    }
    // The high half of the hash, kept in the slot: most slots of other IDs are passed over
    // without reading their records.
    static uint32_t check_of(uint64_t h) { return static_cast<uint32_t>(h >> 32); }
    void grow_index(Listing& listing, std::size_t size);

    std::string name_;
    std::vector<Record, TableAllocator<Record>> records_;  // position 0 included
    // Open addressing with linear probing, at most two thirds full. A slot holds a position and
    // the high half of its ID's hash (the low bits choose the slot), 8 bytes: a probe reads one
    // cache line, and only a slot whose check matches costs a look at its record's ID.
    // Position 0 marks an empty slot.
    struct Slot {
        uint32_t check;
        int32_t position;
    };
    std::vector<Slot, TableAllocator<Slot>> slots_;
    std::size_t mask_ = 0;
};

// The 64 binary digits of |ID|, IBIT[k - 1] being the digit of weight 2^(k-1); returns what
// is left of |ID| afterwards, which is not 0 only for ID -9223372036854775808.
int64_t bitstr64(int64_t ID, std::array<int32_t, 64>& IBIT);

// Looks ID up in LIST; with INSERT = 1 a missing ID is appended at LAST + 1. NEW is 0 when the
// ID was there, 1 otherwise. Returns the position, or 0 for a missing ID without insert.
int32_t llist(Listing& listing, int64_t ID, Table& LIST, int INSERT, int32_t& NEW);

// Prints " Error when allocating <what>" and "ierr = <status>" and stops the run.
[[noreturn]] void allocation_failure(Listing& listing, const std::string& what);

}  // namespace kinstrom
