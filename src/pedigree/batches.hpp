// The pedigree file read a batch of records at a time, for the reading phase (not a header for
// other rooms).
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string_view>

#include "input/reader.hpp"
#include "pedigree/store.hpp"

namespace kinstrom {

// Lines of a text, the last one counted whether or not it ends in a line end (memchr runs
// through a long text several times faster than a byte-by-byte count).
inline int64_t count_lines(std::string_view text) {
    int64_t n = 1;
    if (text.empty()) return n;
    const char* p = text.data();
    const char* const end = p + text.size();
    while ((p = static_cast<const char*>(
                std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) != nullptr) {
        ++n;
        ++p;
    }
    return n;
}

// The records of the total pedigree file, a batch at a time, so that the IDs of a whole batch
// can be looked up together. A batch ends early at a record that cannot be read or has ID 0
// (`bad` is its record number, 0 for none); nothing after that record is read.
class PedBatches {
  public:
    // `size` records to a batch.
    PedBatches(std::string_view text, std::size_t size) : size_(size), r_(text) {
        for (auto* column : {&id, &sire, &dam}) column->reserve(size);
        sort.reserve(size);
    }

    bool next() {
        if (bad != 0) return false;  // the batch before ended at it
        id.clear();
        sire.clear();
        dam.clear();
        sort.clear();
        first = nobs_ + 1;
        while (id.size() < size_ && r_.start()) {
            ++nobs_;
            int64_t i = 0, s = 0, d = 0;
            int32_t v = 0;
            const bool ok = r_.int64(i) && note_zero(i) && r_.int64(s) && note_zero(s) &&
                            r_.int64(d) && note_zero(d) && r_.int32(v);
            if (!ok || i == 0) {
                bad = nobs_;
                bad_zero = ok;
                break;
            }
            if (r_.wrapped_value() != 0 && wrapped_) wrapped_(r_, nobs_);
            r_.finish();
            id.push_back(i);
            sire.push_back(s);
            dam.push_back(d);
            sort.push_back(v);
        }
        return !id.empty() || bad != 0;
    }

    int32_t records() const { return nobs_; }
    const RecordReader& reader() const { return r_; }

    // Called for each record that runs over a line end.
    void on_wrapped(std::function<void(const RecordReader&, int32_t)> f) {
        wrapped_ = std::move(f);
    }

    TableVector<int64_t> id, sire, dam;
    TableVector<int32_t> sort;
    int32_t first = 1;  // record number of id[0]
    int32_t bad = 0;
    // The first record with an ID above 0 written with leading zeros (0: none), and that ID.
    int32_t zero_record = 0;
    int64_t zero_id = 0;
    bool bad_zero = false;  // the bad record was read, but its ID is 0

  private:
    // Notes the first ID above 0 written with leading zeros; true.
    bool note_zero(int64_t value) {
        if (value > 0 && zero_record == 0 && r_.leading_zero()) {
            zero_record = nobs_;
            zero_id = value;
        }
        return true;
    }

    std::size_t size_;
    RecordReader r_;
    int32_t nobs_ = 0;
    std::function<void(const RecordReader&, int32_t)> wrapped_;
};

}  // namespace kinstrom
