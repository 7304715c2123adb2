// The tables of the pedigree: XLIST (individuals), PHG_LIST (phantom parent groups) and
// PHG_ERRLIST (PHG codes missing from the breed-proportion file), with their ID index `llist`.
//
// Positions are handed out from 1 upward in order of insertion and never change; position 0
// of XLIST is the sentinel (ID -999999997) standing for a PHG code missing from the
// breed-proportion file.
// A table grows as records arrive, up to its capacity; the capacity is enforced exactly.
//
// Fatal stops: a full table (the three-line capacity abort), the ID -9223372036854775808
// ("BITSTR ERROR"), a table that cannot be allocated.
#pragma once

#include <array>
#include <cstdint>
#include <new>
#include <span>
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
    uint8_t MARKED = 0;  // flags: 0 false, 255 true; tests look at the lowest bit
    uint8_t IN_PED = 0;
    uint8_t TRACED = 0;
    uint8_t KEEP = 0;
};

static_assert(sizeof(Record) == 32, "two records to a cache line");

// A table position, count or other index known not to be negative, as an index of a vector.
inline constexpr std::size_t at(int64_t p) {
    return static_cast<std::size_t>(p);
}

inline bool is_set(uint8_t flag) {
    return (flag & 1U) != 0;
}

// Allocator of the large tables: blocks of 2 MiB and more are aligned to 2 MiB and offered to
// the kernel for huge pages, which cuts page faults and TLB misses on ten-million-record tables.
void* allocate_table_block(std::size_t bytes);
void free_table_block(void* p, std::size_t bytes);

template <class T>
struct TableAllocator;
// A vector in such blocks.
template <class T>
using TableVector = std::vector<T, TableAllocator<T>>;

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

    const std::string& name() const { return name_; }

    // Makes room for about n records (never past the capacity) ahead of time.
    void reserve(Listing& listing, int64_t n);

    // Frees the index once the last lookup is done.
    void drop_index() {
        decltype(slots_)().swap(slots_);
        mask_ = 0;
        Scratch().swap(scratch_);
        decltype(dense_)().swap(dense_);
    }

    // IDs 1..n, known to be dense (the numbers of text IDs), are looked up from here on in a
    // table of their positions instead of the hash index: the same answers, from one array of
    // n + 1 positions. Other IDs keep the hash index. Called before the first ID is entered.
    void use_dense_index(Listing& listing, int64_t n);

    // Index operations for llist.
    int32_t find(int64_t id) const;
    void append(Listing& listing, int64_t id);  // position LAST + 1, capacity checked by caller

    // Many lookups at once, for long files: positions[i] is find(ids[i]) and sorts[i] the SORT
    // of that record (0 where the ID is missing). In an index of more than 2^grouped_from_bits
    // slots the IDs are looked up grouped by the part of the index they fall in, which keeps the
    // memory accesses of a ten-million-record table close together (a smaller index stays in
    // the processor's cache); the answers are those of one find after another.
    void find_many(std::span<const int64_t> ids, std::span<int32_t> positions,
                   std::span<int32_t> sorts) const;

    // Enters the IDs one after another as llist with INSERT = 1 does: the same positions, and
    // the same stop (an ID that cannot be stored, a full table) at the same ID, nothing after it
    // entered. A new record takes its SORT from sorts; positions[i] is where ids[i] is.
    void enter_many(Listing& listing, std::span<const int64_t> ids, std::span<const int32_t> sorts,
                    std::span<int32_t> positions);

    // How many IDs find_many and enter_many best take at a time.
    std::size_t batch_size() const;

    // Sets the SORT of the record at position p (the index keeps a copy for find_many).
    void set_sort(int32_t p, int32_t sort);

    // 2^22 slots are 64 MiB; tests lower it to take the grouped way on small tables.
    int grouped_from_bits = 22;

  private:
    // A bijection of the 64-bit numbers: two IDs are equal exactly when their hashes are, so the
    // index compares hashes and never reads a record.
    static uint64_t hash(int64_t id) {
        auto x = static_cast<uint64_t>(id);
        x ^= x >> 30;
        x *= 0xbf58476d1ce4e5b9ULL;
        x ^= x >> 27;
        x *= 0x94d049bb133111ebULL;
        x ^= x >> 31;
        return x;
    }
    void grow_index(Listing& listing, std::size_t size);
    bool dense(int64_t id) const {
        return id > 0 && static_cast<uint64_t>(id) < static_cast<uint64_t>(dense_.size());
    }
    // A record for an ID that may be new, in the hash index; its position.
    int32_t enter_hashed(Listing& listing, int64_t id, int32_t sort);
    void make_room(Listing& listing, std::size_t records);
    void push_record(Listing& listing, int64_t id, int32_t sort);
    bool grouping() const;
    // The slot holding key, or the empty slot where it would go.
    std::size_t slot_of(uint64_t key) const;
    // The hashes of the IDs into scratch_, and their order by the part of the index their
    // search starts in.
    void group_keys(std::span<const int64_t> ids) const;

    std::string name_;
    std::vector<Record, TableAllocator<Record>> records_;  // position 0 included
    // Open addressing with linear probing, at most two thirds full. A slot holds the ID's hash,
    // the position (0: an empty slot) and a copy of the record's SORT; 16 bytes, four to a cache
    // line.
    struct Slot {
        uint64_t key;
        int32_t position;
        int32_t sort;
    };
    std::vector<Slot, TableAllocator<Slot>> slots_;
    std::size_t mask_ = 0;
    // With use_dense_index: dense_[id] is the position of ID id (0: not there).
    TableVector<int32_t> dense_;

    // Work space of find_many and enter_many, kept between calls.
    struct Scratch {
        TableVector<uint64_t> keys;
        TableVector<uint32_t> order;    // item numbers grouped by part of the index
        TableVector<uint64_t> grouped;  // the keys in that order
        TableVector<uint32_t> counts;
        TableVector<std::size_t> slots;  // enter_many: the slot of each ID
        TableVector<uint8_t> claimed;    // enter_many: 1 for the first of a new ID
        void swap(Scratch& o) {
            keys.swap(o.keys);
            order.swap(o.order);
            grouped.swap(o.grouped);
            counts.swap(o.counts);
            slots.swap(o.slots);
            claimed.swap(o.claimed);
        }
    };
    mutable Scratch scratch_;
};

// The 64 binary digits of |ID|, IBIT[k - 1] being the digit of weight 2^(k-1); returns what
// is left of |ID| afterwards, which is not 0 only for ID -9223372036854775808.
int64_t bitstr64(int64_t ID, std::array<int32_t, 64>& IBIT);

// Looks ID up in LIST; with INSERT = 1 a missing ID is appended at LAST + 1. NEW is 0 when the
// ID was there, 1 otherwise. Returns the position, or 0 for a missing ID without insert.
int32_t llist(Listing& listing, int64_t ID, Table& LIST, int INSERT, int32_t& NEW);

}  // namespace kinstrom
