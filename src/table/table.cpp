#include "table/table.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <thread>
#include <unordered_map>
#include <utility>

#include "input/reader.hpp"
#include "pedigree/batches.hpp"

namespace kinstrom {

namespace {

// The longest ID: a field of the outputs widens to the longest text of a run.
constexpr std::size_t MAX_ID_BYTES = 100;

// IDs from which their sort is shared by two threads.
constexpr std::size_t SORTED_IN_TWO = 200000;

// Header names the default columns go by (case-blind).
constexpr std::array<std::string_view, 2> SIRE_NAMES{"sire", "father"};
constexpr std::array<std::string_view, 2> DAM_NAMES{"dam", "mother"};
constexpr std::array<std::string_view, 8> SORT_NAMES{"sort",       "born", "birth", "birthdate",
                                                     "birth_date", "dob",  "date",  "birthday"};

constexpr std::array<const char*, 4> ROLE{"ID", "sire", "dam", "sort variable"};

// The lines of a text, each without its line end (and a CR before it); `number` from 1.
class Lines {
  public:
    explicit Lines(std::string_view text) : text_(text) {}
    bool next() {
        if (at_ > text_.size() || (at_ == text_.size() && number_ > 0)) return false;
        if (at_ == text_.size() && text_.empty()) return false;
        const std::size_t end = std::min(text_.find('\n', at_), text_.size());
        line = text_.substr(at_, end - at_);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        offset = at_;
        at_ = end + 1;
        ++number_;
        return true;
    }
    // Whether the line holds nothing but blanks.
    bool blank() const { return line.find_first_not_of(" \t\r") == std::string_view::npos; }
    int64_t number() const { return number_; }

    std::string_view line;
    std::size_t offset = 0;

  private:
    std::string_view text_;
    std::size_t at_ = 0;
    int64_t number_ = 0;
};

// A hash of a short text, eight bytes at a time.
inline uint64_t text_hash(std::string_view t) {
    uint64_t h = 0x9e3779b97f4a7c15ULL ^ t.size();
    const char* p = t.data();
    std::size_t n = t.size();
    for (; n >= 8; n -= 8, p += 8) {
        uint64_t w = 0;
        std::memcpy(&w, p, 8);
        h = (h ^ w) * 0xbf58476d1ce4e5b9ULL;
        h ^= h >> 29;
    }
    uint64_t w = 0;
    std::memcpy(&w, p, n);
    h ^= w;
    // Every bit of the result depends on every bit of h.
    h = (h ^ (h >> 30)) * 0xbf58476d1ce4e5b9ULL;
    h = (h ^ (h >> 27)) * 0x94d049bb133111ebULL;
    return h ^ (h >> 31);
}

// Whether the n bytes at a and b are the same.
inline bool same_bytes(const char* a, const char* b, std::size_t n) {
    for (; n >= 8; n -= 8, a += 8, b += 8) {
        uint64_t x = 0, y = 0;
        std::memcpy(&x, a, 8);
        std::memcpy(&y, b, 8);
        if (x != y) return false;
    }
    for (; n > 0; --n)
        if (*a++ != *b++) return false;
    return true;
}

// The distinct texts met (of at most MAX_ID_BYTES), in order of first appearance, with a hash
// index. A slot holds what a lookup compares: part of the hash, the length and where the bytes
// are, so that a lookup reads the slot and the bytes only.
class TextIndex {
  public:
    // The index of `t` among the texts, entered when new.
    uint32_t enter(std::string_view t) { return enter(t, text_hash(t)); }
    // The same with the text's hash known.
    uint32_t enter(std::string_view t, uint64_t h) {
        if (4 * (texts_.size() + 1) > 3 * slots_.size()) grow();
        const uint32_t tag = tag_of(h, t.size());
        for (std::size_t s = h & mask_;; s = (s + 1) & mask_) {
            Slot& slot = slots_[s];
            if (slot.index == 0) {
                texts_.push_back(t);
                slot = {tag, static_cast<uint32_t>(texts_.size()), t.data()};
                return slot.index - 1;
            }
            if (slot.tag == tag && same_bytes(slot.data, t.data(), t.size())) return slot.index - 1;
        }
    }
    // The index of `t`, or -1.
    int64_t find(std::string_view t) const {
        if (slots_.empty() || t.size() > MAX_ID_BYTES) return -1;
        const uint64_t h = text_hash(t);
        const uint32_t tag = tag_of(h, t.size());
        for (std::size_t s = h & mask_;; s = (s + 1) & mask_) {
            const Slot& slot = slots_[s];
            if (slot.index == 0) return -1;
            if (slot.tag == tag && same_bytes(slot.data, t.data(), t.size())) return slot.index - 1;
        }
    }
    // Room for about n texts ahead of time: the index then need not grow, which would read
    // every text again.
    void reserve(std::size_t n) {
        texts_.reserve(n);
        std::size_t size = 1024;
        while (3 * size < 4 * n) size *= 2;
        if (size > slots_.size()) resize(size);
    }
    // Asks for the slot where the search for a text of hash h starts.
    void prefetch(uint64_t h) const {
        if (!slots_.empty()) __builtin_prefetch(&slots_[h & mask_]);
    }
    // Asks for the bytes of the text in that slot, once the slot is there.
    void prefetch_text(uint64_t h) const {
        if (slots_.empty()) return;
        const Slot& slot = slots_[h & mask_];
        if (slot.index != 0) __builtin_prefetch(slot.data);
    }
    std::size_t size() const { return texts_.size(); }
    std::string_view text(std::size_t k) const { return texts_[k]; }
    const std::vector<std::string_view>& texts() const { return texts_; }

  private:
    struct Slot {
        uint32_t tag;    // the length in the low 8 bits, the hash's high bits above
        uint32_t index;  // 1 + the text's index; 0: an empty slot
        const char* data;
    };
    static uint32_t tag_of(uint64_t h, std::size_t length) {
        return static_cast<uint32_t>(h >> 32 << 8) | static_cast<uint32_t>(length & 0xff);
    }
    void grow() { resize(std::max<std::size_t>(1024, 2 * slots_.size())); }
    void resize(std::size_t size) {
        TableVector<Slot> slots(size, Slot{0, 0, nullptr});
        mask_ = size - 1;
        for (const Slot& old : slots_) {
            if (old.index == 0) continue;
            std::size_t s = text_hash(texts_[old.index - 1]) & mask_;
            while (slots[s].index != 0) s = (s + 1) & mask_;
            slots[s] = old;
        }
        slots_.swap(slots);
    }
    TableVector<Slot> slots_;
    std::size_t mask_ = 0;
    std::vector<std::string_view> texts_;
};

// What a value of an ID column is.
enum class Kind { text, phg, missing };

class TableReader {
  public:
    TableReader(Listing& listing, const TableOptions& options, const ReadOptions& read,
                const InputSources& inputs, Diagnostics& diagnostics)
        : listing_(listing), o_(options), read_(read), in_(inputs), d_(diagnostics) {}

    TableInput run() {
        read_pedigree();
        number_ids();
        read_trace();
        if (read_.use_bprop && in_.bprop.file != nullptr) read_proportions();
        return std::move(out_);
    }

  private:
    [[noreturn]] void stop(const std::string& file, const Lines& lines, std::size_t column,
                           int64_t record, const std::string& text) {
        ill_input(listing_, file, static_cast<int32_t>(std::max<int64_t>(record, 1)),
                  {file, lines.number(), static_cast<int64_t>(column) + 1, text});
    }

    // The first line that holds anything, or false for a file of blank lines.
    static bool first_line(Lines& lines) {
        while (lines.next())
            if (!lines.blank()) return true;
        return false;
    }

    // ---- The pedigree ------------------------------------------------------------------------

    void read_pedigree() {
        ped_.load(listing_, in_.ped.file, in_.ped.name);
        Lines lines(ped_.text());
        if (!first_line(lines))
            ill_input(listing_, in_.ped.name, 1, {{}, 0, 0, "the pedigree file holds no records"});
        TableLayout& l = out_.layout;
        l.separator = find_separator(lines.line);
        l.unknown_code = o_.unknown;
        LineFields first(l.separator);
        if (!first.split(lines.line))
            stop(in_.ped.name, lines, first.problem_column, 1, first.problem);
        header_line_ = lines.number();
        std::vector<std::string> names;
        for (const Field& f : first.fields()) names.emplace_back(f.text);
        const bool named = std::any_of(o_.columns.begin(), o_.columns.end(), [](const auto& c) {
            return c.find_first_not_of("0123456789") != std::string::npos;
        });
        // Names: no number, no missing value (but for an empty first name, over a column of row
        // numbers).
        bool words = true;
        for (std::size_t k = 0; k < first.fields().size(); ++k) {
            const Field& f = first.fields()[k];
            if (k == 0 && f.quoted && f.text.empty()) continue;
            words = words && !is_missing(f) && !is_number(f.text);
        }
        if (o_.header) {
            l.header = *o_.header;
            l.header_reason = *o_.header ? "--header" : "--no-header";
        } else if (named) {
            l.header = true;
            l.header_reason = "--columns names columns";
        } else {
            l.header = words;
            l.header_reason = words ? "its values are names, none of them an ID of the file"
                                    : "it holds a number or a missing value";
        }
        if (l.header) l.names = names;
        choose_columns(lines, first.fields().size());
        scan_records();
        if (!o_.header && !named && l.header) {
            // Names that stand as IDs elsewhere make the first line a record after all.
            for (const std::string& name : names) {
                if (index_.find(name) < 0) continue;
                l.header = false;
                l.names.clear();
                l.header_reason = quoted_bytes(name) + " stands in the file as an ID";
                Lines again(ped_.text());
                first_line(again);
                choose_columns(again, first.fields().size());
                scan_records();
                break;
            }
        }
        say_layout();
    }

    // The 0-based column of a --columns item.
    int32_t named_column(const std::string& item, const Lines& lines) {
        const TableLayout& l = out_.layout;
        if (item.find_first_not_of("0123456789") == std::string::npos)
            return static_cast<int32_t>(std::stol(item.substr(0, 9))) - 1;
        for (std::size_t k = 0; k < l.names.size(); ++k)
            if (same_name(l.names[k], item)) return static_cast<int32_t>(k);
        std::string known;
        for (const std::string& n : l.names) known += (known.empty() ? "" : ", ") + n;
        stop(in_.ped.name, lines, 0, 0,
             "--columns names the column \"" + item + "\", which the header does not have (" +
                 (l.header ? "its names: " + known
                           : std::string("the first line is read as a record: --header makes it "
                                         "the header")) +
                 ")");
    }

    static int32_t find_name(const std::vector<std::string>& names, auto candidates) {
        for (std::size_t k = 0; k < names.size(); ++k)
            for (const std::string_view c : candidates)
                if (same_name(names[k], c)) return static_cast<int32_t>(k);
        return -1;
    }

    void choose_columns(const Lines& lines, std::size_t first_values) {
        TableLayout& l = out_.layout;
        std::array<int32_t, 4> c{-1, -1, -1, -1};
        if (!o_.columns.empty()) {
            for (std::size_t k = 0; k < o_.columns.size(); ++k)
                c[k] = named_column(o_.columns[k], lines);
        } else if (l.header) {
            const int32_t skip = !l.names.empty() && l.names[0].empty() ? 1 : 0;
            const int32_t sire = find_name(l.names, SIRE_NAMES);
            const int32_t dam = find_name(l.names, DAM_NAMES);
            if (sire >= 0 && dam >= 0) {
                c[SIRE_COLUMN] = sire;
                c[DAM_COLUMN] = dam;
                for (int32_t k = skip; k < static_cast<int32_t>(l.names.size()); ++k) {
                    if (k == sire || k == dam) continue;
                    c[ID_COLUMN] = k;
                    break;
                }
            } else {
                c = {skip, skip + 1, skip + 2, -1};
            }
            const int32_t sort = find_name(l.names, SORT_NAMES);
            if (sort != c[ID_COLUMN] && sort != c[SIRE_COLUMN] && sort != c[DAM_COLUMN])
                c[SORT_COLUMN] = sort;
        } else {
            c = {0, 1, 2, first_values > 3 ? 3 : -1};
        }
        for (std::size_t k = 0; k < 4; ++k) l.columns[k] = c[k] + 1;
        std::size_t need = 0;
        for (const int32_t k : c) need = std::max(need, static_cast<std::size_t>(k + 1));
        need_ = need;
        if (c[ID_COLUMN] < 0)
            stop(in_.ped.name, lines, 0, 0,
                 "the header names no column for the ID besides the sire and dam: give the "
                 "columns with --columns ID,SIRE,DAM");
    }

    // The columns in words, for the notes and messages.
    std::string columns_text() const {
        const TableLayout& l = out_.layout;
        std::string s;
        for (std::size_t k = 0; k < 4; ++k) {
            if (k > 0) s += ", ";
            s += ROLE[k];
            if (l.columns[k] == 0) {
                s += " none";
                continue;
            }
            s += " column " + std::to_string(l.columns[k]);
            const auto at = static_cast<std::size_t>(l.columns[k] - 1);
            if (at < l.names.size()) s += " " + quoted_bytes(l.names[at]);
        }
        return s;
    }

    void say_layout() {
        const TableLayout& l = out_.layout;
        std::string s = std::string("read as a table separated by ") + separator_name(l.separator) +
                        "; line " + std::to_string(header_line_) +
                        (l.header ? " is its header (" : " is a record (") + l.header_reason +
                        (o_.header  ? ""
                         : l.header ? "; --no-header reads it as a record"
                                    : "; --header makes it the header") +
                        "); " + columns_text();
        if (l.columns[SORT_COLUMN] == 0)
            s += l.header ? " (name one with --columns ID,SIRE,DAM,SORT)" : "";
        d_.note(s, {in_.ped.name, 0, 0});
    }

    // A value of the ID, sire or dam column.
    Kind classify(const Field& f, int64_t& code) const {
        if (is_missing(f)) return Kind::missing;
        if (integer_value(f.text, code) && code <= 0) return Kind::phg;
        return Kind::text;
    }

    // A text that can be an ID; otherwise the reason.
    static const char* bad_id(std::string_view t) {
        if (t.size() > MAX_ID_BYTES)
            return "is longer than the 100 bytes an ID may have (an ID field of the output files "
                   "must fit in their 120 columns)";
        for (const char c : t) {
            const auto u = static_cast<unsigned char>(c);
            if (u <= ' ' || u == 0x7f)
                return "holds a blank or control character, which the output files cannot "
                       "keep in an ID: replace it (e.g. by _)";
        }
        return nullptr;
    }

    // A text ID whose number goes to column[at] (as 1 + its index) once it is entered. The IDs
    // wait in a queue of QUEUED: the slot each search starts in is asked for as it joins, the
    // text that slot holds half-way, so that both are there when it is entered (a ten-million-ID
    // index and its texts are far larger than the processor's caches).
    static constexpr std::size_t QUEUED = 32;
    struct Waiting {
        std::string_view text;
        uint64_t hash;
        TableVector<int64_t>* column;
        std::size_t at;
    };

    void enter_text(const Field& f, TableVector<int64_t>& column) {
        std::string_view t = f.text;
        const char* text_begin = ped_.text().data();
        if (t.data() < text_begin || t.data() >= text_begin + ped_.text().size()) {
            owned_.emplace_back(t);  // a text not as the file holds it: kept here
            t = owned_.back();
        }
        const uint64_t h = text_hash(t);
        index_.prefetch(h);
        waiting_[(first_waiting_ + n_waiting_) % QUEUED] = {t, h, &column, column.size()};
        column.push_back(0);
        if (++n_waiting_ > QUEUED / 2)
            index_.prefetch_text(
                waiting_[(first_waiting_ + n_waiting_ - QUEUED / 2) % QUEUED].hash);
        if (n_waiting_ == QUEUED) enter_waiting(1);
    }

    // Enters the first n IDs that wait (all when n is larger).
    void enter_waiting(std::size_t n) {
        for (; n > 0 && n_waiting_ > 0; --n) {
            const Waiting& w = waiting_[first_waiting_];
            (*w.column)[w.at] = int64_t{index_.enter(w.text, w.hash)} + 1;
            first_waiting_ = (first_waiting_ + 1) % QUEUED;
            --n_waiting_;
        }
    }

    void scan_records() {
        TableLayout& l = out_.layout;
        TableRecords& r = out_.records;
        for (auto* v : {&r.id, &r.sire, &r.dam}) v->clear();
        r.sort.clear();
        index_ = TextIndex();
        first_waiting_ = n_waiting_ = 0;
        // About one ID to a line: individuals, most of them parents too; one record to a line.
        const auto lines_in_file = static_cast<std::size_t>(count_lines(ped_.text()));
        index_.reserve(lines_in_file);
        for (auto* v : {&r.id, &r.sire, &r.dam}) v->reserve(lines_in_file);
        r.sort.reserve(lines_in_file);
        owned_.clear();
        l.unknown_parents = 0;
        Lines lines(ped_.text());
        LineFields fields(l.separator);
        const auto c = l.columns;
        bool skipped_header = !l.header;
        int64_t record = 0;
        while (lines.next()) {
            if (lines.blank()) continue;
            if (!skipped_header) {
                skipped_header = true;
                continue;
            }
            ++record;
            if (!fields.split(lines.line, need_))
                stop(in_.ped.name, lines, fields.problem_column, record, fields.problem);
            const std::vector<Field>& f = fields.fields();
            if (f.size() < need_)
                stop(in_.ped.name, lines, lines.line.size(), record,
                     "record " + std::to_string(record) + " has " +
                         counted(static_cast<int64_t>(f.size()), "value", "values") +
                         " on its line, fewer than the " + std::to_string(need_) +
                         " its columns need (" + columns_text() +
                         "): each record stands on one line");
            const Field& id = f[static_cast<std::size_t>(c[ID_COLUMN] - 1)];
            int64_t code = 0;
            const Kind kind = classify(id, code);
            if (kind != Kind::text)
                stop(in_.ped.name, lines, id.column, record,
                     kind == Kind::missing
                         ? "record " + std::to_string(record) + " has no ID"
                         : quoted_bytes(id.text) +
                               " is not an individual's ID: 0 and the integers below it are "
                               "PHG codes");
            if (const char* why = bad_id(id.text))
                stop(in_.ped.name, lines, id.column, record,
                     "the ID " + quoted_bytes(id.text) + " " + why);
            enter_text(id, r.id);
            for (const Column role : {SIRE_COLUMN, DAM_COLUMN}) {
                const Field& p = f[static_cast<std::size_t>(c[role] - 1)];
                const Kind pk = classify(p, code);
                if (pk == Kind::text) {
                    if (const char* why = bad_id(p.text))
                        stop(in_.ped.name, lines, p.column, record,
                             "the " + std::string(ROLE[role]) + " " + quoted_bytes(p.text) + " " +
                                 why);
                    enter_text(p, role == SIRE_COLUMN ? r.sire : r.dam);
                    continue;
                }
                if (pk == Kind::missing) {
                    code = o_.unknown;
                    ++l.unknown_parents;
                }
                (role == SIRE_COLUMN ? r.sire : r.dam).push_back(code);
            }
            int32_t sort = 0;
            if (c[SORT_COLUMN] > 0) {
                const Field& s = f[static_cast<std::size_t>(c[SORT_COLUMN] - 1)];
                if (!is_missing(s) && !sort_value(s.text, sort))
                    stop(in_.ped.name, lines, s.column, record,
                         "the sort variable " + quoted_bytes(s.text) +
                             " is neither an integer nor a date yyyy-mm-dd");
            }
            r.sort.push_back(sort);
        }
        enter_waiting(QUEUED);
        if (record == 0)
            ill_input(listing_, in_.ped.name, 1, {{}, 0, 0, "the pedigree file holds no records"});
        if (record > std::numeric_limits<int32_t>::max())
            stop(in_.ped.name, lines, 0, record, "the pedigree file holds too many records");
    }

    // The texts numbered in byte order; the records renumbered to match.
    void number_ids() {
        const std::size_t n = index_.size();
        // Sorted on their first 24 bytes, then on the rest where those are alike.
        struct Key {
            uint64_t high, middle, low;
            uint32_t index;
        };
        std::vector<Key> keys(n);
        for (std::size_t k = 0; k < n; ++k) {
            const std::string_view t = index_.text(k);
            keys[k] = {prefix(t, 0), prefix(t, 8), prefix(t, 16), static_cast<uint32_t>(k)};
        }
        const auto by_prefix = [](const Key& x, const Key& y) {
            if (x.high != y.high) return x.high < y.high;
            return x.middle != y.middle ? x.middle < y.middle : x.low < y.low;
        };
        // Two halves sorted side by side, then merged.
        const auto half = keys.begin() + static_cast<std::ptrdiff_t>(n / 2);
        if (n >= SORTED_IN_TWO) {
            std::thread other([&] { std::sort(keys.begin(), half, by_prefix); });
            std::sort(half, keys.end(), by_prefix);
            other.join();
            std::inplace_merge(keys.begin(), half, keys.end(), by_prefix);
        } else {
            std::sort(keys.begin(), keys.end(), by_prefix);
        }
        for (std::size_t b = 0; b < n;) {
            std::size_t e = b + 1;
            while (e < n && !by_prefix(keys[b], keys[e])) ++e;
            if (e - b > 1)
                std::sort(
                    keys.begin() + static_cast<std::ptrdiff_t>(b),
                    keys.begin() + static_cast<std::ptrdiff_t>(e), [&](const Key& x, const Key& y) {
                        return index_.text(x.index).substr(24) < index_.text(y.index).substr(24);
                    });
            b = e;
        }
        rank_.assign(n, 0);
        std::size_t bytes = 0;
        for (const std::string_view t : index_.texts()) bytes += t.size();
        out_.ids.reserve(n, bytes);
        constexpr std::size_t AHEAD = 16;  // texts asked for ahead of their copy
        for (std::size_t k = 0; k < n; ++k) {
            if (k + AHEAD < n) __builtin_prefetch(index_.text(keys[k + AHEAD].index).data());
            rank_[keys[k].index] = static_cast<uint32_t>(k + 1);
            out_.ids.add(index_.text(keys[k].index));
        }
        decltype(keys)().swap(keys);
        TableRecords& r = out_.records;
        for (int64_t& v : r.id) v = rank_[static_cast<std::size_t>(v - 1)];
        for (auto* column : {&r.sire, &r.dam})
            for (int64_t& v : *column)
                if (v > 0) v = rank_[static_cast<std::size_t>(v - 1)];
    }

    // Bytes from..from+7 of t (0 past its end) as a number that orders as the bytes do.
    static uint64_t prefix(std::string_view t, std::size_t from) {
        uint64_t v = 0;
        if (t.size() >= from + 8) {
            std::memcpy(&v, t.data() + from, 8);
            return __builtin_bswap64(v);
        }
        for (std::size_t k = from; k < from + 8; ++k)
            v = (v << 8) | (k < t.size() ? static_cast<unsigned char>(t[k]) : 0U);
        return v;
    }

    // ---- The trace file ----------------------------------------------------------------------

    void read_trace() {
        InputText text;
        text.load(listing_, in_.prob.file, in_.prob.name);
        Lines lines(text.text());
        std::string& out = out_.records.trace;
        out.reserve(text.text().size() / 2);
        const TableLayout& l = out_.layout;
        std::string_view id_name;
        if (l.header) id_name = l.names[static_cast<std::size_t>(l.columns[ID_COLUMN] - 1)];
        Separator separator = Separator::blanks;
        std::size_t column = 0;
        bool first = true;
        LineFields fields(separator);
        int64_t record = 0;
        std::string note;
        while (lines.next()) {
            if (lines.blank()) {
                out += '\n';
                continue;
            }
            if (first) {
                first = false;
                separator = find_separator(lines.line);
                fields = LineFields(separator);
                if (!fields.split(lines.line))
                    stop(in_.prob.name, lines, fields.problem_column, 1, fields.problem);
                const std::vector<Field>& f = fields.fields();
                for (std::size_t k = 0; k < f.size() && !id_name.empty(); ++k) {
                    if (!same_name(f[k].text, id_name)) continue;
                    column = k;
                    note = "line " + std::to_string(lines.number()) +
                           " is its header (it names the pedigree's ID column \"" +
                           std::string(id_name) + "\"); IDs from column " + std::to_string(k + 1);
                    break;
                }
                if (!note.empty()) {
                    out += '\n';
                    continue;
                }
            }
            ++record;
            if (!fields.split(lines.line, column + 1))
                stop(in_.prob.name, lines, fields.problem_column, record, fields.problem);
            const std::vector<Field>& f = fields.fields();
            if (f.size() <= column || is_missing(f[column]))
                stop(in_.prob.name, lines,
                     f.size() <= column ? lines.line.size() : f[column].column, record,
                     "record " + std::to_string(record) + " has no ID");
            const std::string_view t = f[column].text;
            int64_t k = index_.find(t);
            if (k < 0) {
                if (const char* why = bad_id(t))
                    stop(in_.prob.name, lines, f[column].column, record,
                         "the ID " + quoted_bytes(t) + " " + why);
                // Not in the pedigree: numbered after its IDs, for the report of it.
                owned_.emplace_back(t);
                k = index_.enter(owned_.back());
                out_.ids.add(t);
                rank_.push_back(static_cast<uint32_t>(out_.ids.size()));
            }
            char buffer[24];
            const auto [end, ec] =
                std::to_chars(buffer, buffer + sizeof buffer, rank_[static_cast<std::size_t>(k)]);
            out.append(buffer, end);
            out += '\n';
        }
        if (note.empty()) note = "no header; IDs from column 1";
        d_.note(
            "read as a table separated by " + std::string(separator_name(separator)) + "; " + note,
            {in_.prob.name, 0, 0});
    }

    // ---- The breed-proportion file -----------------------------------------------------------

    void read_proportions() {
        InputText text;
        text.load(listing_, in_.bprop.file, in_.bprop.name);
        Lines lines(text.text());
        std::string& out = out_.records.bprop;
        const auto need = static_cast<std::size_t>(read_.N_BPOP) + 1;
        bool first = true;
        Separator separator = Separator::blanks;
        LineFields fields(separator);
        int64_t record = 0;
        bool header = false;
        while (lines.next()) {
            if (lines.blank()) {
                out += '\n';
                continue;
            }
            if (first) {
                first = false;
                separator = find_separator(lines.line);
                fields = LineFields(separator);
                if (!fields.split(lines.line))
                    stop(in_.bprop.name, lines, fields.problem_column, 1, fields.problem);
                int64_t code = 0;
                header = !fields.fields().empty() && !integer_value(fields.fields()[0].text, code);
                if (header) {
                    out += '\n';
                    continue;
                }
            }
            ++record;
            if (!fields.split(lines.line))
                stop(in_.bprop.name, lines, fields.problem_column, record, fields.problem);
            const std::vector<Field>& f = fields.fields();
            if (f.size() < need)
                stop(in_.bprop.name, lines, lines.line.size(), record,
                     "record " + std::to_string(record) + " has " +
                         counted(static_cast<int64_t>(f.size()), "value", "values") +
                         ", fewer than N_BPOP + 1 = " + std::to_string(need) +
                         " (a PHG code and N_BPOP proportions): each record stands on one line");
            int64_t code = 0;
            if (!integer_value(f[0].text, code))
                stop(in_.bprop.name, lines, f[0].column, record,
                     quoted_bytes(f[0].text) + " is not a PHG code (an integer below 0)");
            out += std::to_string(code);
            for (std::size_t k = 1; k < f.size(); ++k) {
                double v = 0;
                if (!real_value(f[k].text, separator == Separator::semicolon, v))
                    stop(in_.bprop.name, lines, f[k].column, record,
                         quoted_bytes(f[k].text) + " is not a breed proportion");
                out += ' ';
                for (const char ch : f[k].text) out += ch == ',' ? '.' : ch;
            }
            out += '\n';
        }
        d_.note("read as a table separated by " + std::string(separator_name(separator)) +
                    (header ? "; line 1 is its header" : "; no header"),
                {in_.bprop.name, 0, 0});
    }

    Listing& listing_;
    const TableOptions& o_;
    const ReadOptions& read_;
    const InputSources& in_;
    Diagnostics& d_;
    TableInput out_;
    InputText ped_;
    TextIndex index_;
    std::deque<std::string> owned_;          // texts that are not in the file as they stand
    std::array<Waiting, QUEUED> waiting_{};  // a ring: n_waiting_ from first_waiting_ on
    std::size_t first_waiting_ = 0, n_waiting_ = 0;
    std::vector<uint32_t> rank_;  // by text index: the ID's number
    std::size_t need_ = 3;        // values a record needs
    int64_t header_line_ = 1;
};

}  // namespace

bool parse_columns(std::string_view list, std::vector<std::string>& columns, std::string& error) {
    columns.clear();
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(list.find(',', start), list.size());
        std::string_view item = list.substr(start, end - start);
        while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
        if (item.empty()) {
            error = "--columns has an empty item: give ID,SIRE,DAM[,SORT] as names or positions";
            return false;
        }
        if (item.find_first_not_of("0123456789") == std::string_view::npos &&
            (item.size() > 6 || item.find_first_not_of('0') == std::string_view::npos)) {
            error = "--columns position " + std::string(item) + " is not a column (1 is the first)";
            return false;
        }
        for (const std::string& c : columns)
            if (same_name(c, item)) {
                error = "--columns names \"" + std::string(item) + "\" twice";
                return false;
            }
        columns.emplace_back(item);
        if (end == list.size()) break;
        start = end + 1;
    }
    if (columns.size() < 3 || columns.size() > 4) {
        error = "--columns takes 3 or 4 columns (ID,SIRE,DAM[,SORT]), not " +
                std::to_string(columns.size());
        return false;
    }
    return true;
}

std::vector<int64_t> table_record_lines(std::string_view text, const TableLayout& layout,
                                        const IdTexts& texts, const std::vector<int64_t>& ids) {
    std::unordered_map<std::string_view, int64_t> line_of;
    for (const int64_t id : ids) line_of.emplace(texts.text(id), 0);
    std::size_t missing = line_of.size();
    Lines lines(text);
    LineFields fields(layout.separator);
    const auto column = static_cast<std::size_t>(layout.columns[ID_COLUMN]);
    bool header = layout.header;
    while (missing > 0 && lines.next()) {
        if (lines.blank()) continue;
        if (header) {
            header = false;
            continue;
        }
        if (!fields.split(lines.line, column) || fields.fields().size() < column) break;
        const auto it = line_of.find(fields.fields()[column - 1].text);
        if (it == line_of.end() || it->second != 0) continue;
        it->second = lines.number();
        --missing;
    }
    std::vector<int64_t> out;
    out.reserve(ids.size());
    for (const int64_t id : ids) out.push_back(line_of.at(texts.text(id)));
    return out;
}

TableInput read_tables(Listing& listing, const TableOptions& options, const ReadOptions& read,
                       const InputSources& inputs, Diagnostics& diagnostics) {
    return TableReader(listing, options, read, inputs, diagnostics).run();
}

}  // namespace kinstrom
