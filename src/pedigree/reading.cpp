#include "pedigree/reading.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <new>
#include <stdexcept>
#include <vector>

#include "pedigree/reader.hpp"

namespace kinstrom {

namespace {

constexpr uint8_t NOT_SET = 0;

// Lines of a text, the last one counted whether or not it ends in a line end (memchr runs
// through a long text several times faster than a byte-by-byte count).
int64_t count_lines(std::string_view text) {
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

// A record of the total pedigree file as read; `ok` is false when it could not be read.
struct PedRecord {
    int32_t nobs = 0;
    bool ok = false;
    int64_t id = 0, sire = 0, dam = 0;
    int32_t sort = 0;
};

// The records of the total pedigree file, read a few records ahead of their turn so that the
// index slots they will look up (and, half-way, the records of their parents) are fetched from
// memory while earlier records are handled. Reading ahead has no effect of its own: a record
// that cannot be read is handed over, with ok false, only in its turn, and nothing after it is
// read.
class Lookahead {
  public:
    Lookahead(std::string_view text, bool with_sort) : r_(text), with_sort_(with_sort) {}

    bool next(PedRecord& rec, const Table& X) {
        while (!stopped_ && parsed_ - handed_ < AHEAD) read_one(X);
        if (handed_ == parsed_) return false;
        rec = ring_[handed_ % AHEAD];
        ++handed_;
        // Parents are looked up in the second pass only.
        const std::size_t half = handed_ + AHEAD / 2;
        if (!with_sort_ && half < parsed_) {
            const PedRecord& later = ring_[half % AHEAD];
            if (later.ok && later.sire > 0) X.prefetch_record(later.sire);
            if (later.ok && later.dam > 0) X.prefetch_record(later.dam);
        }
        return true;
    }

    int32_t records() const { return nobs_; }

  private:
    static constexpr std::size_t AHEAD = 16;

    void read_one(const Table& X) {
        if (!r_.start()) {
            stopped_ = true;
            return;
        }
        PedRecord& rec = ring_[parsed_ % AHEAD];
        rec.nobs = ++nobs_;
        rec.ok = r_.int64(rec.id) && r_.int64(rec.sire) && r_.int64(rec.dam) &&
                 (!with_sort_ || r_.int32(rec.sort));
        ++parsed_;
        if (!rec.ok) {
            stopped_ = true;
            return;
        }
        r_.finish();
        X.prefetch(rec.id);
        if (!with_sort_) {
            if (rec.sire > 0) X.prefetch(rec.sire);
            if (rec.dam > 0) X.prefetch(rec.dam);
        }
    }

    RecordReader r_;
    bool with_sort_;
    bool stopped_ = false;
    int32_t nobs_ = 0;
    std::size_t parsed_ = 0;
    std::size_t handed_ = 0;
    std::array<PedRecord, AHEAD> ring_{};
};

// The reading phase over one run's inputs.
class Reading {
  public:
    Reading(Listing& listing, const ReadOptions& options, const InputSources& inputs,
            ErrorFiles& errors, Pedigree& pedigree)
        : listing_(listing), o_(options), in_(inputs), e_(errors), p_(pedigree) {}

    void run() {
        if (o_.use_bprop) {
            // A breed-proportion file named without a count of base populations is not open:
            // its first record cannot be read.
            if (in_.bprop.file == nullptr) ill_input(listing_, in_.bprop.name, 1);
            bprop_text_.load(listing_, in_.bprop.file, in_.bprop.name);
            count_phg_records();
        } else {
            p_.N_PHG1 = o_.MAX_PHG;
        }
        create_tables();
        if (o_.use_bprop) read_proportions();
        ped_text_.load(listing_, in_.ped.file, in_.ped.name);
        enter_individuals();
        link_pedigree();
        settle_phgs();
        read_trace_file();
    }

  private:
    // The PHG code that opens a breed-proportion record: below 0.
    int64_t read_phg_code(RecordReader& r, int32_t nobs) {
        int64_t id = 0;
        if (!r.int64(id) || id >= 0) ill_input(listing_, in_.bprop.name, nobs);
        return id;
    }

    // Breed-proportion file, first pass: the number of PHG places.
    void count_phg_records() {
        RecordReader r(bprop_text_.text());
        int32_t nobs = 0;
        while (r.start()) {
            ++nobs;
            read_phg_code(r, nobs);
            r.finish();
        }
        if (nobs == 0) ill_input(listing_, in_.bprop.name, 1);
        p_.N_PHG1 = nobs + 1;  // one spare place for the dummy PHG
    }

    void create_tables() {
        p_.PHG_LIST = Table("PHG_LIST", p_.N_PHG1);
        if (o_.use_bprop) {
            p_.N_BPOP = o_.N_BPOP;
            p_.B_PROP.create(listing_, p_.N_BPOP, p_.N_PHG1);
            try {
                B_PROP1_.assign(static_cast<std::size_t>(p_.N_BPOP), 0.0);
            } catch (const std::bad_alloc&) {
                allocation_failure(listing_, "B_PROP");
            }
            p_.PHG_ERRLIST = Table("PHG_ERRLIST", p_.N_PHG1);
        }
        p_.XLIST = Table("XLIST", o_.MAX_A);
        p_.XLIST[0].ID = SENTINEL_ID;
    }

    // Breed-proportion file, second pass: the PHGs and their proportions.
    void read_proportions() {
        RecordReader r(bprop_text_.text());
        int32_t nobs = 0;
        while (r.start()) {
            ++nobs;
            const int64_t id = read_phg_code(r, nobs);
            for (double& v : B_PROP1_)
                if (!r.real(v)) ill_input(listing_, in_.bprop.name, nobs);
            r.finish();
            int32_t NEW = 0;
            const int32_t k = llist(listing_, id, p_.PHG_LIST, 1, NEW);
            p_.PHG_LIST[k].MARKED = FLAG_TRUE;
            const std::span<double> stored = p_.B_PROP.column(k);
            if (NEW == 1) {
                std::copy(B_PROP1_.begin(), B_PROP1_.end(), stored.begin());
            } else {
                ++e_.ERROR[1];
                e_.repeated_phg(nobs, id, B_PROP1_, stored);
            }
        }
        p_.N_PHG_PRINTED = p_.PHG_LIST.LAST;
    }

    // Total pedigree file, first pass: every individual of the first column.
    void enter_individuals() {
        // Room for one individual per line saves regrowing the table and its index.
        const std::string_view text = ped_text_.text();
        p_.XLIST.reserve(listing_, count_lines(text));
        Lookahead ahead(text, true);
        PedRecord rec;
        while (ahead.next(rec, p_.XLIST)) {
            if (!rec.ok || rec.id == 0) ill_input(listing_, in_.ped.name, rec.nobs);
            int32_t NEW = 0;
            const int32_t l = llist(listing_, rec.id, p_.XLIST, 1, NEW);
            if (NEW == 1) {
                ++p_.N_INDIVIDUALS;
                Record& x = p_.XLIST[l];
                x.SORT = rec.sort >= o_.MIN_ACC_BD ? rec.sort : SORT_UNKNOWN;
                x.MARKED = x.IN_PED = x.TRACED = NOT_SET;
            }
        }
        if (ahead.records() == 0) ill_input(listing_, in_.ped.name, 1);
    }

    // Total pedigree file, second pass: parents linked, every record checked.
    void link_pedigree() {
        Lookahead ahead(ped_text_.text(), false);
        PedRecord rec;
        while (ahead.next(rec, p_.XLIST)) {
            if (!rec.ok || rec.id == 0) ill_input(listing_, in_.ped.name, rec.nobs);
            const std::array<int64_t, 2> parent_ids{rec.sire, rec.dam};
            if (!link_record(rec.nobs, rec.id, parent_ids)) return;
            if (rec.id == parent_ids[0] || rec.id == parent_ids[1] ||
                (parent_ids[0] > 0 && parent_ids[0] == parent_ids[1])) {
                ++e_.ERROR[4];
                e_.inconsistent(rec.nobs, rec.id, parent_ids[0], parent_ids[1]);
            }
        }
    }

    // Links one record; false when the missing PHGs have reached MAX_PHG, which ends the pass.
    bool link_record(int32_t nobs, int64_t id, const std::array<int64_t, 2>& parent_ids) {
        int32_t NEW = 0;
        const int32_t l = llist(listing_, id, p_.XLIST, 1, NEW);
        if (p_.XLIST[l].SIRE != 0 || p_.XLIST[l].DAM != 0) {
            const int64_t first_sire = p_.parent_id(p_.XLIST[l].SIRE);
            const int64_t first_dam = p_.parent_id(p_.XLIST[l].DAM);
            ++e_.ERROR[2];
            e_.repeated_record(nobs, id, parent_ids[0], parent_ids[1], first_sire, first_dam);
            if (parent_ids[0] != first_sire || parent_ids[1] != first_dam) ++e_.ERROR[3];
            return true;
        }
        own_check(nobs, l);
        for (int32_t i = 1; i <= 2; ++i) {
            const int64_t parent_id = parent_ids[static_cast<std::size_t>(i - 1)];
            if (parent_id > 0) {
                const int32_t l1 = llist(listing_, parent_id, p_.XLIST, 1, NEW);
                set_parent(l, i, l1);
                if (NEW == 1) insert_parent(nobs, id, i, parent_id, l1);
                parent_check(nobs, l, i, parent_id, l1);
            } else if (o_.use_bprop) {
                const int32_t k = llist(listing_, parent_id, p_.PHG_LIST, 0, NEW);
                set_parent(l, i, -k);
                if (k == 0 && !note_missing_phg(l, i, parent_id)) return false;
            } else {
                const int32_t k = llist(listing_, parent_id, p_.PHG_LIST, 1, NEW);
                set_parent(l, i, -k);
                p_.PHG_LIST[k].MARKED = FLAG_TRUE;
            }
        }
        return true;
    }

    void set_parent(int32_t l, int32_t i, int32_t position) {
        (i == 1 ? p_.XLIST[l].SIRE : p_.XLIST[l].DAM) = position;
    }

    void insert_parent(int32_t nobs, int64_t id, int32_t i, int64_t parent_id, int32_t l1) {
        ++p_.N_INS;
        e_.inserted_parent(nobs, id, i, parent_id);
        if (p_.N_INS == 1) {
            int32_t NEW = 0;
            const int32_t d = llist(listing_, DUMMY_PHG, p_.PHG_LIST, 1, NEW);
            p_.PHG_LIST[d].MARKED = FLAG_TRUE;
            if (NEW == 1 && o_.use_bprop && p_.N_BPOP > 0) p_.B_PROP.set(p_.N_BPOP, d, 1.0);
            p_.DUMMY_POSITION = d;
        }
        Record& x = p_.XLIST[l1];
        x.SORT = SORT_INSERTED;
        x.MARKED = NOT_SET;
        x.SIRE = x.DAM = -p_.DUMMY_POSITION;
    }

    // A parent code missing from the breed-proportion file; false when MAX_PHG is reached.
    bool note_missing_phg(int32_t l, int32_t i, int64_t code) {
        int32_t NEW = 0;
        const int32_t k = llist(listing_, code, p_.PHG_ERRLIST, 1, NEW);
        if (NEW == 1) {
            p_.PHG_ERRLIST[k].SIRE = l;
            p_.PHG_ERRLIST[k].DAM = i;
        }
        if (p_.PHG_ERRLIST.LAST != o_.MAX_PHG) return true;
        listing_.blank();
        listing_.blank();
        listing_.free(
            FreeLine().text("More then ").i32(o_.MAX_PHG).text(" PHGs in the pedigree file,"));
        listing_.text("which is not in the file with breed proportions");
        listing_.blank();
        listing_.lines += 5;
        return false;
    }

    // The individual's own value against the accepted range.
    void own_check(int32_t nobs, int32_t l) {
        const Record& x = p_.XLIST[l];
        known_ = x.SORT >= o_.MIN_ACC_BD;
        if (known_ && o_.dob_check) DOB_ = split_date(x.SORT);
        if (x.SORT > o_.MAX_ACC_BD) {
            ++e_.ERROR[8];
            e_.date_out_of_range(nobs, x.ID, x.SORT);
        }
    }

    // The individual's value against that of parent i (at position l1).
    void parent_check(int32_t nobs, int32_t l, int32_t i, int64_t parent_id, int32_t l1) {
        const int32_t value = p_.XLIST[l].SORT;
        const int32_t parent_value = p_.XLIST[l1].SORT;
        if (!known_ || parent_value < o_.MIN_ACC_BD) return;
        int64_t d = 0;
        if (o_.dob_check) {
            const SplitDate ANE_DOB = split_date(parent_value);
            d = daysbetween(DOB_.day, DOB_.month, DOB_.year, ANE_DOB.day, ANE_DOB.month,
                            ANE_DOB.year);
        } else {
            d = int64_t{value} - parent_value;
        }
        if (d < o_.ANE_MIN_DIFF[static_cast<std::size_t>(i - 1)]) {
            ++e_.ERROR[8];
            e_.date_against_parent(nobs, p_.XLIST[l].ID, value, i, parent_id, parent_value);
        }
    }

    void settle_phgs() {
        p_.N_PHG1 = p_.PHG_LIST.LAST;
        if (o_.use_bprop) return;
        p_.N_BPOP = p_.PHG_LIST.LAST;
        p_.N_PHG_PRINTED = p_.PHG_LIST.LAST;
        p_.B_PROP.make_unit(p_.N_BPOP);
    }

    void read_trace_file() {
        InputText text;
        text.load(listing_, in_.prob.file, in_.prob.name);
        RecordReader r(text.text());
        int32_t nobs = 0;
        while (r.start()) {
            ++nobs;
            int64_t id = 0;
            if (!r.int64(id) || id == 0) ill_input(listing_, in_.prob.name, nobs);
            r.finish();
            int32_t NEW = 0;
            const int32_t l = llist(listing_, id, p_.XLIST, 0, NEW);
            if (l == 0) {
                ++e_.ERROR[5];
                e_.not_in_pedigree(nobs, id);
            } else {
                ++p_.N_PROB;
                p_.XLIST[l].MARKED = FLAG_TRUE;
                p_.XLIST[l].KEEP = FLAG_TRUE;
            }
        }
        // The trace file is the last reader: no ID is looked up from here on.
        p_.XLIST.drop_index();
        p_.PHG_LIST.drop_index();
        p_.PHG_ERRLIST.drop_index();
    }

    Listing& listing_;
    const ReadOptions& o_;
    const InputSources& in_;
    ErrorFiles& e_;
    Pedigree& p_;
    InputText bprop_text_;
    InputText ped_text_;
    std::vector<double> B_PROP1_;
    // The individual being linked: whether its value is known, and its date.
    bool known_ = false;
    SplitDate DOB_{};
};

}  // namespace

void BreedProportions::create(Listing& listing, int32_t n_bpop, int32_t n_phg1) {
    n_bpop_ = n_bpop;
    unit_ = false;
    try {
        values_.assign(static_cast<std::size_t>(std::max(n_bpop, 0)) *
                           (static_cast<std::size_t>(std::max(n_phg1, 0)) + 1),
                       0.0);
    } catch (const std::bad_alloc&) {
        allocation_failure(listing, "B_PROP");
    } catch (const std::length_error&) {
        allocation_failure(listing, "B_PROP");
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

SplitDate split_date(int32_t v) {
    const int32_t year = v / 10000;
    return {v - (v / 100) * 100, (v - year * 10000) / 100, year};
}

namespace {
int64_t day_number(int64_t day, int64_t month, int64_t year) {
    const int64_t a = (month - 14) / 12;
    return (1461 * (year + a) + 7012800) / 4 + (367 * (month - 12 * a) - 734) / 12 -
           (3 * ((year + a + 4900) / 100)) / 4 + day;
}
}  // namespace

int32_t daysbetween(int32_t day1, int32_t month1, int32_t year1, int32_t day2, int32_t month2,
                    int32_t year2) {
    return static_cast<int32_t>(day_number(day1, month1, year1) - day_number(day2, month2, year2));
}

void read_input(Listing& listing, const ReadOptions& options, const InputSources& inputs,
                ErrorFiles& errors, Pedigree& pedigree) {
    Reading(listing, options, inputs, errors, pedigree).run();
}

}  // namespace kinstrom
