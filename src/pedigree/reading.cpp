#include "pedigree/reading.hpp"

#include <cmath>
#include <functional>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <new>
#include <span>
#include <stdexcept>
#include <utility>
#include <vector>

#include "input/reader.hpp"
#include "pedigree/batches.hpp"
#include "pedigree/dates.hpp"

namespace kinstrom {

namespace {

constexpr uint8_t NOT_SET = 0;

// Why an ID of 0 is refused where an individual's ID belongs.
constexpr const char* ZERO_ID = "is not an individual's ID: 0 and the IDs below it are PHG codes";

std::string short_real(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", v);
    return buf;
}

// The reading phase over one run's inputs.
class Reading {
  public:
    Reading(Listing& listing, const ReadOptions& options, const InputSources& inputs,
            ErrorFiles& errors, Pedigree& pedigree, Diagnostics& diagnostics, TableRecords* table)
        : listing_(listing),
          o_(options),
          in_(inputs),
          e_(errors),
          p_(pedigree),
          d_(diagnostics),
          table_(table) {}

    void run() {
        if (o_.use_bprop) {
            // A breed-proportion file named without a count of base populations is not open:
            // its first record cannot be read.
            if (in_.bprop.file == nullptr)
                ill_input(listing_, in_.bprop.name, 1,
                          {{},
                           0,
                           0,
                           "BPROP_FILE is named but N_BPOP is 0: give N_BPOP, the number of "
                           "breed proportions on each record of the file"});
            if (table_ != nullptr) {
                bprop_text_.adopt(std::move(table_->bprop));
            } else {
                bprop_text_.load(listing_, in_.bprop.file, in_.bprop.name, o_.input_bound);
            }
            count_phg_records();
        } else {
            p_.N_PHG1 = o_.MAX_PHG;
        }
        create_tables();
        if (o_.use_bprop) read_proportions();
        if (table_ != nullptr) {
            enter_table_individuals();
        } else {
            ped_text_.load(listing_, in_.ped.file, in_.ped.name, o_.input_bound);
            enter_individuals();
        }
        link_pedigree();
        settle_phgs();
        read_trace_file();
    }

  private:
    // The PHG code that opens a breed-proportion record: below 0.
    int64_t read_phg_code(RecordReader& r, int32_t nobs) {
        int64_t id = 0;
        if (!r.int64(id)) bad_record(r, InputKind::breeds, nobs);
        if (id == 0)
            bad_record(r, InputKind::breeds, nobs,
                       std::string("is not a PHG code: PHG codes in the breed-proportion file are "
                                   "below 0, and unknown parents coded 0 cannot carry breed "
                                   "proportions: ") +
                           UNKNOWN_PARENTS_ADVICE);
        if (id > 0)
            bad_record(r, InputKind::breeds, nobs,
                       "is not a PHG code: PHG codes in the breed-proportion file are below 0");
        return id;
    }

    [[noreturn]] void bad_record(const RecordReader& r, InputKind kind, int32_t nobs,
                                 const std::string& refused = {}, bool first_value = false) {
        const InputSource& in = kind == InputKind::pedigree ? in_.ped
                                : kind == InputKind::trace  ? in_.prob
                                                            : in_.bprop;
        const std::string_view text = kind == InputKind::pedigree ? ped_text_.text()
                                      : kind == InputKind::trace  ? trace_text_
                                                                  : bprop_text_.text();
        StopCause cause =
            invalid_input_cause(text, r, kind, nobs, o_.N_BPOP, in.name, refused, first_value);
        if (kind == InputKind::breeds && refused.empty() && r.value_number() > 1 &&
            r.wrapped_value() != 0)
            cause.text += "; the record has fewer values than N_BPOP + 1 = " +
                          std::to_string(int64_t{o_.N_BPOP} + 1) +
                          " on its line: N_BPOP or the file is likely wrong";
        ill_input(listing_, in.name, nobs, std::move(cause));
    }

    // What a breed-proportion record may hide: a line end within it, more values on its line
    // than it needs, proportions that do not sum to 1.
    void check_proportions(const RecordReader& r, int32_t nobs, int64_t id) {
        const std::string_view text = bprop_text_.text();
        if (r.wrapped_value() != 0)
            wrapped_record(text, in_.bprop.name, r, nobs,
                           " (or is N_BPOP larger than the proportions on each line?)");
        // Counting lines costs a pass over the text before the record: only for a finding.
        const auto line = [&] { return line_column(text, r.record_offset()).line; };
        if (r.more_on_line())
            d_.finding("breed-proportion records with more values than N_BPOP + 1",
                       "record " + std::to_string(nobs) + " has more values on its line than the " +
                           std::to_string(int64_t{o_.N_BPOP} + 1) +
                           " it needs (a PHG code and N_BPOP proportions): is N_BPOP too small?",
                       {in_.bprop.name, line(), 0});
        double sum = 0;
        for (const double v : B_PROP1_) sum += v;
        if (!(std::abs(sum - 1.0) <= 1e-6))
            d_.finding("PHGs whose breed proportions do not sum to 1",
                       "the breed proportions of PHG " + std::to_string(id) + " sum to " +
                           short_real(sum) + ", not 1",
                       {in_.bprop.name, line(), 0});
    }

    // The stop at a pedigree record the batches could not take.
    [[noreturn]] void bad_pedigree_record(const PedBatches& batch) {
        bad_record(batch.reader(), InputKind::pedigree, batch.bad,
                   batch.bad_zero ? std::string(ZERO_ID) + ", an individual's ID is above 0" : "",
                   batch.bad_zero);
    }

    // A record that runs over a line end: counted, the first few told in full.
    void wrapped_record(std::string_view text, const std::string& name, const RecordReader& r,
                        int32_t nobs, const char* hint = "") {
        const char* kind = "records running over a line end";
        if (!d_.shown(kind)) {
            d_.finding(kind, {});
            return;
        }
        const int64_t line = line_column(text, r.record_offset()).line;
        const int32_t on_line = r.wrapped_value() - 1;
        d_.finding(kind,
                   "record " + std::to_string(nobs) + " (line " + std::to_string(line) + ") has " +
                       counted(on_line, "value", "values") + " on its line; the " +
                       ordinal(r.wrapped_value()) + " was taken from line " +
                       std::to_string(line_column(text, r.wrapped_offset()).line) +
                       ": is a value missing on that line?" + hint,
                   {name, line, 0});
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
        if (nobs == 0)
            ill_input(listing_, in_.bprop.name, 1,
                      {{}, 0, 0, "the breed-proportion file holds no records"});
        p_.N_BPROP_RECORDS = nobs;
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
                if (!r.real(v)) bad_record(r, InputKind::breeds, nobs);
            check_proportions(r, nobs, id);
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

    // Total pedigree file, first pass: every individual of the first column. The parents' IDs
    // are kept for the second pass, which then need not read the file again.
    void enter_individuals() {
        const std::string_view text = ped_text_.text();
        const int64_t lines = count_lines(text);
        // Room for one individual per line saves regrowing the table and its index.
        p_.XLIST.reserve(listing_, lines);
        try {
            for (auto* column : {&sires_, &dams_}) column->reserve(static_cast<std::size_t>(lines));
            record_positions_.reserve(static_cast<std::size_t>(lines));
        } catch (const std::bad_alloc&) {
            keep_records_ = false;  // the second pass reads the file again
        }
        batch_ = p_.XLIST.batch_size();
        PedBatches batch(text, batch_);
        batch.on_wrapped([&](const RecordReader& r, int32_t nobs) {
            wrapped_record(text, in_.ped.name, r, nobs);
        });
        while (batch.next()) {
            for (int32_t& v : batch.sort) v = v >= o_.MIN_ACC_BD ? v : SORT_UNKNOWN;
            const int32_t before = p_.XLIST.LAST;
            positions_.resize(batch.id.size());
            p_.XLIST.enter_many(listing_, batch.id, batch.sort, positions_);
            p_.N_INDIVIDUALS += p_.XLIST.LAST - before;
            if (batch.bad != 0) bad_pedigree_record(batch);
            if (keep_records_) {
                sires_.insert(sires_.end(), batch.sire.begin(), batch.sire.end());
                dams_.insert(dams_.end(), batch.dam.begin(), batch.dam.end());
                record_positions_.insert(record_positions_.end(), positions_.begin(),
                                         positions_.end());
            }
        }
        if (batch.records() == 0)
            ill_input(listing_, in_.ped.name, 1, {{}, 0, 0, "the pedigree file holds no records"});
        p_.N_PED_RECORDS = batch.records();
        if (batch.zero_record != 0)
            d_.warning("record " + std::to_string(batch.zero_record) + ": the ID " +
                           std::to_string(batch.zero_id) +
                           " is written with leading zeros and read as a number: use --table "
                           "to keep it as written (this is said for the first such ID only)",
                       {in_.ped.name, 0, 0});
    }

    // The pedigree read as a table, first pass: its records are there already.
    void enter_table_individuals() {
        TableRecords& t = *table_;
        const std::size_t n = t.id.size();
        p_.XLIST.use_dense_index(listing_, t.ids);
        p_.XLIST.reserve(listing_, static_cast<int64_t>(n));
        record_positions_.resize(n);
        batch_ = p_.XLIST.batch_size();
        for (std::size_t b = 0; b < n; b += batch_) {
            const std::size_t count = std::min(n - b, batch_);
            const auto sort = std::span(t.sort).subspan(b, count);
            for (int32_t& v : sort) v = v >= o_.MIN_ACC_BD ? v : SORT_UNKNOWN;
            const int32_t before = p_.XLIST.LAST;
            p_.XLIST.enter_many(listing_, std::span(t.id).subspan(b, count), sort,
                                std::span(record_positions_).subspan(b, count));
            p_.N_INDIVIDUALS += p_.XLIST.LAST - before;
        }
        if (n == 0)
            ill_input(listing_, in_.ped.name, 1, {{}, 0, 0, "the pedigree file holds no records"});
        p_.N_PED_RECORDS = static_cast<int32_t>(n);
        // The parents' IDs stay in the table for the second pass.
        decltype(t.id)().swap(t.id);
        decltype(t.sort)().swap(t.sort);
    }

    // Total pedigree file, second pass: parents linked, every record checked.
    void link_pedigree() {
        keys_.reserve(3 * batch_);
        roles_.assign(static_cast<std::size_t>(p_.XLIST.LAST) + 1, 0);
        if (table_ != nullptr) {
            sires_.swap(table_->sire);
            dams_.swap(table_->dam);
        }
        if (table_ != nullptr || keep_records_) {
            // The records as the first pass read them, every individual where it was entered.
            const std::size_t n = record_positions_.size();
            for (std::size_t b = 0; b < n; b += batch_) {
                const std::size_t count = std::min(n - b, batch_);
                const auto own = std::span(record_positions_).subspan(b, count);
                ids_.clear();
                for (const int32_t l : own) ids_.push_back(p_.XLIST[l].ID);
                if (!link_batch(static_cast<int32_t>(b + 1), ids_,
                                std::span(sires_).subspan(b, count),
                                std::span(dams_).subspan(b, count), own))
                    break;
            }
        } else {
            // Four values to a record, as the first pass read them: both passes meet the same
            // records even where a record runs over a line end.
            PedBatches batch(ped_text_.text(), batch_);
            while (batch.next()) {
                positions_.assign(batch.id.size(), 0);
                if (!link_batch(batch.first, batch.id, batch.sire, batch.dam, positions_)) break;
                if (batch.bad != 0) bad_pedigree_record(batch);
            }
        }
        for (auto* column : {&sires_, &dams_}) decltype(sires_)().swap(*column);
        decltype(record_positions_)().swap(record_positions_);
    }

    // An ID as looked up at the start of its batch: its position (0: not there then) and SORT.
    struct Found {
        int32_t position = 0;
        int32_t sort = 0;
    };

    // Links a batch of records, the first being record `first`; `own` holds the individuals'
    // positions where known (0: looked up here). False when the pass ends early.
    bool link_batch(int32_t first, std::span<const int64_t> id, std::span<const int64_t> sire,
                    std::span<const int64_t> dam, std::span<const int32_t> own) {
        keys_.clear();
        for (std::size_t r = 0; r < id.size(); ++r) {
            if (own[r] == 0) keys_.push_back(id[r]);
            if (sire[r] > 0) keys_.push_back(sire[r]);
            if (dam[r] > 0) keys_.push_back(dam[r]);
        }
        found_positions_.resize(keys_.size());
        found_sorts_.resize(keys_.size());
        p_.XLIST.find_many(keys_, found_positions_, found_sorts_);
        std::size_t k = 0;
        for (std::size_t r = 0; r < id.size(); ++r) {
            const int32_t nobs = first + static_cast<int32_t>(r);
            const std::array<int64_t, 2> parent_ids{sire[r], dam[r]};
            const int32_t l = own[r] != 0 ? own[r] : found_positions_[k++];
            std::array<Found, 2> parents{};
            for (std::size_t i = 0; i < 2; ++i) {
                if (parent_ids[i] <= 0) continue;
                parents[i] = {found_positions_[k], found_sorts_[k]};
                ++k;
            }
            if (!link_record(nobs, id[r], l, parent_ids, parents)) return false;
            if (id[r] == parent_ids[0] || id[r] == parent_ids[1] ||
                (parent_ids[0] > 0 && parent_ids[0] == parent_ids[1])) {
                ++e_.ERROR[4];
                e_.inconsistent(nobs, id[r], parent_ids[0], parent_ids[1]);
            }
        }
        return true;
    }

    // Links one record whose ID was found at position `found` (0: enter it now); parents with a
    // code above 0 come with what was found for them. False when the missing PHGs have reached
    // MAX_PHG, which ends the pass.
    bool link_record(int32_t nobs, int64_t id, int32_t found,
                     const std::array<int64_t, 2>& parent_ids,
                     const std::array<Found, 2>& parents) {
        int32_t NEW = 0;
        const int32_t l = found != 0 ? found : llist(listing_, id, p_.XLIST, 1, NEW);
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
                // A parent missing at the start of the batch may have been entered since.
                Found parent = parents[static_cast<std::size_t>(i - 1)];
                if (parent.position == 0) {
                    parent.position = llist(listing_, parent_id, p_.XLIST, 1, NEW);
                    set_parent(l, i, parent.position);
                    if (NEW == 1) insert_parent(nobs, id, i, parent_id, parent.position);
                    parent.sort = p_.XLIST[parent.position].SORT;
                } else {
                    set_parent(l, i, parent.position);
                }
                parent_check(nobs, l, i, parent_id, parent.sort);
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
        if (position <= 0) return;
        const auto at = static_cast<std::size_t>(position);
        if (at >= roles_.size()) roles_.resize(std::max(at + 1, roles_.size() * 2), 0);
        const auto role = static_cast<uint8_t>(i);
        // Both parents the same individual is an inconsistent record of its own (kind 4).
        if ((roles_[at] | role) == 3 && roles_[at] != 3 &&
            !(i == 2 && p_.XLIST[l].SIRE == position))
            note_role(position, i, l);
        roles_[at] |= role;
    }

    // Out of line: it runs for the rare record it tells about.
    [[gnu::cold, gnu::noinline]] void not_a_date(int32_t nobs, const Record& x) {
        d_.finding("birth dates that are no calendar dates",
                   "record " + std::to_string(nobs) + ": the birth date " + std::to_string(x.SORT) +
                       " of individual " + p_.ids.show(x.ID) + " is no calendar date (yyyymmdd)",
                   {in_.ped.name, 0, 0});
    }

    // An individual that is a sire in one record and a dam in another.
    [[gnu::cold, gnu::noinline]] void note_role(int32_t parent, int32_t i, int32_t offspring) {
        d_.finding("individuals that are a sire in one record and a dam in another",
                   "individual " + p_.ids.show(p_.XLIST[parent].ID) + " is a " +
                       (i == 1 ? "sire" : "dam") + " of " + p_.ids.show(p_.XLIST[offspring].ID) +
                       " and a " + (i == 1 ? "dam" : "sire") +
                       " elsewhere: check the parents' order",
                   {in_.ped.name, 0, 0});
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
        p_.XLIST.set_sort(l1, SORT_INSERTED);
        Record& x = p_.XLIST[l1];
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
        listing_.count(5);
        return false;
    }

    // The individual's own value against the accepted range.
    void own_check(int32_t nobs, int32_t l) {
        const Record& x = p_.XLIST[l];
        known_ = x.SORT >= o_.MIN_ACC_BD;
        if (known_ && o_.dob_check) {
            DOB_ = split_date(x.SORT);
            if (!is_calendar_date(DOB_)) not_a_date(nobs, x);
        }
        if (x.SORT > o_.MAX_ACC_BD) {
            ++e_.ERROR[8];
            e_.date_out_of_range(nobs, x.ID, x.SORT);
        }
    }

    // The individual's value against that of parent i.
    void parent_check(int32_t nobs, int32_t l, int32_t i, int64_t parent_id, int32_t parent_value) {
        const int32_t value = p_.XLIST[l].SORT;
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
        if (table_ != nullptr) {
            text.adopt(std::move(table_->trace));
        } else {
            text.load(listing_, in_.prob.file, in_.prob.name, o_.input_bound);
        }
        trace_text_ = text.text();
        RecordReader r(text.text());
        RecordReader bad_reader = r;
        bool bad_zero = false;
        int32_t nobs = 0;
        int32_t bad = 0;
        TableVector<int64_t> ids;
        TableVector<int32_t> positions, sorts;
        while (bad == 0) {
            // A batch of IDs looked up together, then taken in order.
            ids.clear();
            const int32_t first = nobs + 1;
            while (ids.size() < batch_ && r.start()) {
                ++nobs;
                int64_t id = 0;
                const bool read = r.int64(id);
                if (!read || id == 0) {
                    bad = nobs;
                    bad_zero = read;
                    bad_reader = r;
                    break;
                }
                r.finish();
                ids.push_back(id);
            }
            if (ids.empty() && bad == 0) break;
            positions.resize(ids.size());
            sorts.resize(ids.size());
            p_.XLIST.find_many(ids, positions, sorts);
            for (std::size_t k = 0; k < ids.size(); ++k) {
                int32_t NEW = 0;
                // Not found: llist still stops on an ID that cannot be stored.
                const int32_t l =
                    positions[k] != 0 ? positions[k] : llist(listing_, ids[k], p_.XLIST, 0, NEW);
                if (l == 0) {
                    ++e_.ERROR[5];
                    e_.not_in_pedigree(first + static_cast<int32_t>(k), ids[k]);
                } else {
                    ++p_.N_PROB;
                    p_.XLIST[l].MARKED = FLAG_TRUE;
                    p_.XLIST[l].KEEP = FLAG_TRUE;
                }
            }
        }
        if (bad != 0) bad_record(bad_reader, InputKind::trace, bad, bad_zero ? ZERO_ID : "");
        p_.N_PROB_RECORDS = nobs;
        if (p_.N_PROB == 0)
            d_.warning(nobs == 0 ? "the trace file holds no IDs: nothing is traced"
                                 : "none of the " + std::to_string(nobs) +
                                       " IDs of the trace file is in the pedigree file: nothing "
                                       "is traced",
                       {in_.prob.name, 0, 0});
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
    Diagnostics& d_;
    TableRecords* table_;
    std::vector<uint8_t> roles_;  // by position: 1 seen as a sire, 2 as a dam
    InputText bprop_text_;
    std::string_view trace_text_;
    InputText ped_text_;
    std::vector<double> B_PROP1_;
    // What the first pass read for the second: the parents' IDs and the position of the
    // individual of each record (kept while keep_records_).
    bool keep_records_ = true;
    TableVector<int64_t> sires_, dams_;
    TableVector<int32_t> record_positions_;
    // Records to a batch, and the work space of the batches.
    std::size_t batch_ = 1;
    TableVector<int64_t> ids_, keys_;
    TableVector<int32_t> positions_, found_positions_, found_sorts_;
    // The individual being linked: whether its value is known, and its date.
    bool known_ = false;
    SplitDate DOB_{};
};

}  // namespace

void read_input(Listing& listing, const ReadOptions& options, const InputSources& inputs,
                ErrorFiles& errors, Pedigree& pedigree, Diagnostics& diagnostics,
                TableRecords* table) {
    Reading(listing, options, inputs, errors, pedigree, diagnostics, table).run();
}

}  // namespace kinstrom
