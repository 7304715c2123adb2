#include "table/table.hpp"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <limits>
#include <optional>
#include <thread>
#include <unordered_map>
#include <utility>

#include "input/reader.hpp"
#include "pedigree/batches.hpp"
#include "table/text_index.hpp"

namespace kinstrom {

namespace {

// Bytes of a pedigree table from which its lines are parsed by a thread of their own.
constexpr std::size_t PARSED_APART = std::size_t{1} << 20;

// IDs from which their sort is shared by two threads.
constexpr std::size_t SORTED_IN_TWO = 200000;

// Header names the default columns go by (case-blind).
constexpr std::array<std::string_view, 2> SIRE_NAMES{"sire", "father"};
constexpr std::array<std::string_view, 2> DAM_NAMES{"dam", "mother"};
constexpr std::array<std::string_view, 8> SORT_NAMES{"sort",       "born", "birth", "birthdate",
                                                     "birth_date", "dob",  "date",  "birthday"};

constexpr std::array<const char*, 4> ROLE{"ID", "sire", "dam", "sort variable"};

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
        ped_.load(listing_, in_.ped.file, in_.ped.name, read_.input_bound);
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

    // How a column holds a value between the parsing of its line and the numbering of its ID:
    // a PHG code (0 or below) as it is; a text as it stands in the file, as its offset and
    // length; a text that reads otherwise than it stands (quotes doubled in it) as the offset of
    // its line and its column's role, for its line to be split again.
    static constexpr int64_t SPLIT_AGAIN = int64_t{1} << 62;
    int64_t text_value(const Field& f, std::size_t line_offset, Column role) const {
        const char* begin = ped_.text().data();
        if (f.text.data() >= begin && f.text.data() < begin + ped_.text().size())
            return static_cast<int64_t>(static_cast<std::size_t>(f.text.data() - begin) << 8 |
                                        f.text.size());
        return SPLIT_AGAIN |
               static_cast<int64_t>(line_offset << 2 | static_cast<std::size_t>(role));
    }

    // The first fault of the pedigree table, found by the parsing: stops the run once the
    // records before it are in.
    struct Fault {
        int64_t line = 0;
        std::size_t column = 0;
        int64_t record = 0;
        std::string text;
    };

    // What the parsing hands over: the records parsed so far (published as they are done),
    // whether it is over, and what it found.
    struct Parsing {
        std::atomic<std::size_t> parsed{0};
        std::atomic<bool> over{false};
        int64_t records = 0;
        int64_t unknown_parents = 0;
        int64_t last_line = 0;
        std::optional<Fault> fault;
        std::exception_ptr error;
    };
    static constexpr std::size_t PUBLISHED_EVERY = 4096;  // records

    // Parses the records of the pedigree table into the columns (room made for a record to each
    // line of the file), IDs as text values; stops at the first fault.
    void parse_records(Parsing& out) {
        try {
            parse_lines(out);
        } catch (...) {
            out.error = std::current_exception();
        }
        out.parsed.store(static_cast<std::size_t>(out.records), std::memory_order_release);
        out.over.store(true, std::memory_order_release);
    }

    void parse_lines(Parsing& out) {
        TableRecords& r = out_.records;
        const TableLayout& l = out_.layout;
        Lines lines(ped_.text());
        LineFields fields(l.separator);
        const auto c = l.columns;
        bool skipped_header = !l.header;
        std::size_t k = 0;  // records parsed
        const auto fault = [&](std::size_t column, std::string text) {
            out.fault = Fault{lines.number(), column, static_cast<int64_t>(k) + 1, std::move(text)};
        };
        while (lines.next()) {
            if (lines.blank()) continue;
            if (!skipped_header) {
                skipped_header = true;
                continue;
            }
            const auto record = [&] { return std::to_string(k + 1); };
            if (!fields.split(lines.line, need_))
                return fault(fields.problem_column, fields.problem);
            const std::vector<Field>& f = fields.fields();
            if (f.size() < need_)
                return fault(lines.line.size(),
                             "record " + record() + " has " +
                                 counted(static_cast<int64_t>(f.size()), "value", "values") +
                                 " on its line, fewer than the " + std::to_string(need_) +
                                 " its columns need (" + columns_text() +
                                 "): each record stands on one line");
            const Field& id = f[static_cast<std::size_t>(c[ID_COLUMN] - 1)];
            int64_t code = 0;
            const Kind kind = classify(id, code);
            if (kind != Kind::text)
                return fault(id.column, kind == Kind::missing
                                            ? "record " + record() + " has no ID"
                                            : quoted_bytes(id.text) +
                                                  " is not an individual's ID: 0 and the "
                                                  "integers below it are PHG codes");
            if (const char* why = bad_id(id.text))
                return fault(id.column, "the ID " + quoted_bytes(id.text) + " " + why);
            r.id.push_back(text_value(id, lines.offset, ID_COLUMN));
            for (const Column role : {SIRE_COLUMN, DAM_COLUMN}) {
                const Field& p = f[static_cast<std::size_t>(c[role] - 1)];
                const Kind pk = classify(p, code);
                if (pk == Kind::text) {
                    if (const char* why = bad_id(p.text))
                        return fault(p.column, "the " + std::string(ROLE[role]) + " " +
                                                   quoted_bytes(p.text) + " " + why);
                    code = text_value(p, lines.offset, role);
                } else if (pk == Kind::missing) {
                    code = o_.unknown;
                    ++out.unknown_parents;
                }
                (role == SIRE_COLUMN ? r.sire : r.dam).push_back(code);
            }
            int32_t sort = 0;
            if (c[SORT_COLUMN] > 0) {
                const Field& v = f[static_cast<std::size_t>(c[SORT_COLUMN] - 1)];
                if (!is_missing(v) && !sort_value(v.text, sort))
                    return fault(v.column, "the sort variable " + quoted_bytes(v.text) +
                                               " is neither an integer nor a date yyyy-mm-dd");
            }
            r.sort.push_back(sort);
            out.records = static_cast<int64_t>(++k);
            out.last_line = lines.number();
            if (k % PUBLISHED_EVERY == 0) out.parsed.store(k, std::memory_order_release);
        }
    }

    // The text of a text value.
    std::string_view text_of(int64_t v) {
        const std::string_view text = ped_.text();
        if ((v & SPLIT_AGAIN) == 0)
            return text.substr(static_cast<std::size_t>(v) >> 8,
                               static_cast<std::size_t>(v & 0xff));
        const auto offset = static_cast<std::size_t>(v & ~SPLIT_AGAIN) >> 2;
        const auto role = static_cast<std::size_t>(v & 3);
        std::string_view line =
            text.substr(offset, std::min(text.find('\n', offset), text.size()) - offset);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        LineFields fields(out_.layout.separator);
        fields.split(line, need_);
        owned_.emplace_back(
            fields.fields()[static_cast<std::size_t>(out_.layout.columns[role] - 1)].text);
        return owned_.back();
    }

    // A text ID whose number goes to column[at] (as 1 + its index) once it is entered. The IDs
    // wait in a queue of QUEUED: the slot each search starts in is asked for as it joins, the
    // text that slot holds half-way, so that both are there when it is entered (a ten-million-ID
    // index and its texts are far larger than the processor's caches).
    static constexpr std::size_t QUEUED = 32;
    struct Waiting {
        std::string_view text;
        uint64_t hash;
        int64_t* value;
    };

    void enter_text(int64_t& value) {
        const std::string_view t = text_of(value);
        const uint64_t h = text_hash(t);
        index_.prefetch(h);
        waiting_[(first_waiting_ + n_waiting_) % QUEUED] = {t, h, &value};
        if (++n_waiting_ > QUEUED / 2)
            index_.prefetch_text(
                waiting_[(first_waiting_ + n_waiting_ - QUEUED / 2) % QUEUED].hash);
        if (n_waiting_ == QUEUED) enter_waiting(1);
    }

    // Enters the first n IDs that wait (all when n is larger).
    void enter_waiting(std::size_t n) {
        for (; n > 0 && n_waiting_ > 0; --n) {
            const Waiting& w = waiting_[first_waiting_];
            *w.value = int64_t{index_.enter(w.text, w.hash)} + 1;
            first_waiting_ = (first_waiting_ + 1) % QUEUED;
            --n_waiting_;
        }
    }

    // The records of the pedigree table: parsed by a thread of their own on a long file, while
    // this one numbers the IDs of the records parsed so far.
    void scan_records() {
        TableRecords& r = out_.records;
        index_ = TextIndex();
        first_waiting_ = n_waiting_ = 0;
        owned_.clear();
        // One record to a line at most; about one ID to a line: individuals, most of them
        // parents too.
        const auto lines_in_file = static_cast<std::size_t>(count_lines(ped_.text()));
        index_.reserve(lines_in_file);
        for (auto* v : {&r.id, &r.sire, &r.dam}) {
            v->clear();
            v->reserve(lines_in_file);
        }
        r.sort.clear();
        r.sort.reserve(lines_in_file);
        // The parsing appends to the columns within their room: the records it has published
        // are read and numbered here through these, never through the columns themselves.
        int64_t* const columns[] = {r.id.data(), r.sire.data(), r.dam.data()};
        Parsing parsing;
        std::jthread parser;
        if (ped_.text().size() >= PARSED_APART) {
            parser = std::jthread([&] { parse_records(parsing); });
        } else {
            parse_records(parsing);
        }
        std::size_t done = 0;
        for (;;) {
            const bool over = parsing.over.load(std::memory_order_acquire);
            const std::size_t parsed = parsing.parsed.load(std::memory_order_acquire);
            for (; done < parsed; ++done) {
                enter_text(columns[0][done]);
                for (int64_t* column : {columns[1], columns[2]})
                    if (column[done] > 0) enter_text(column[done]);
            }
            if (over) break;
            std::this_thread::yield();
        }
        enter_waiting(QUEUED);
        if (parser.joinable()) parser.join();
        if (parsing.error) std::rethrow_exception(parsing.error);
        const auto records = static_cast<std::size_t>(parsing.records);
        out_.layout.unknown_parents = parsing.unknown_parents;
        if (parsing.fault) {
            say_layout();  // how the file was being read when the fault was found
            const Fault& f = *parsing.fault;
            ill_input(listing_, in_.ped.name,
                      static_cast<int32_t>(std::min<int64_t>(f.record, INT32_MAX)),
                      {in_.ped.name, f.line, static_cast<int64_t>(f.column) + 1, f.text});
        }
        if (records == 0)
            ill_input(listing_, in_.ped.name, 1, {{}, 0, 0, "the pedigree file holds no records"});
        if (parsing.records > std::numeric_limits<int32_t>::max())
            ill_input(
                listing_, in_.ped.name, INT32_MAX,
                {in_.ped.name, parsing.last_line, 0, "the pedigree file holds too many records"});
    }

    // The texts numbered in byte order; the records renumbered to match.
    void number_ids() {
        const std::size_t n = index_.size();
        // Sorted on their first 20 bytes, then on the rest where those are alike. A key holds
        // bytes 0-7, 8-15, and 16-19 above the text's index.
        struct Key {
            uint64_t high, middle, low;
            uint32_t index() const { return static_cast<uint32_t>(low); }
        };
        std::vector<Key> keys(n);
        std::vector<uint8_t> lengths(n);
        const bool two = n >= SORTED_IN_TWO;
        in_two(two, n, [&](std::size_t from, std::size_t to) {
            for (std::size_t k = from; k < to; ++k) {
                const std::string_view t = index_.text(k);
                keys[k] = {prefix(t, 0), prefix(t, 8), (prefix(t, 16) & ~uint64_t{0xffffffff}) | k};
                lengths[k] = static_cast<uint8_t>(t.size());
            }
        });
        const auto by_prefix = [](const Key& x, const Key& y) {
            if (x.high != y.high) return x.high < y.high;
            return x.middle != y.middle ? x.middle < y.middle : x.low >> 32 < y.low >> 32;
        };
        // Two halves sorted side by side, then merged.
        const auto half = keys.begin() + static_cast<std::ptrdiff_t>(n / 2);
        if (two) {
            std::jthread other([&] { std::sort(keys.begin(), half, by_prefix); });
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
                std::sort(keys.begin() + static_cast<std::ptrdiff_t>(b),
                          keys.begin() + static_cast<std::ptrdiff_t>(e),
                          [&](const Key& x, const Key& y) {
                              return index_.text(x.index()).substr(20) <
                                     index_.text(y.index()).substr(20);
                          });
            b = e;
        }
        // The texts copied in, in byte order, each ID's number noted.
        rank_.assign(n, 0);
        out_.records.ids = static_cast<int64_t>(n);
        out_.ids.lay_out(n, [&](std::size_t k) { return lengths[keys[k].index()]; });
        in_two(two, n, [&](std::size_t from, std::size_t to) {
            constexpr std::size_t AHEAD = 16;  // texts asked for ahead of their copy
            for (std::size_t k = from; k < to; ++k) {
                if (k + AHEAD < to) __builtin_prefetch(index_.text(keys[k + AHEAD].index()).data());
                rank_[keys[k].index()] = static_cast<uint32_t>(k + 1);
                out_.ids.fill(static_cast<int64_t>(k + 1), index_.text(keys[k].index()));
            }
        });
        decltype(keys)().swap(keys);
        TableRecords& r = out_.records;
        for (int64_t& v : r.id) v = rank_[static_cast<std::size_t>(v - 1)];
        for (auto* column : {&r.sire, &r.dam})
            for (int64_t& v : *column)
                if (v > 0) v = rank_[static_cast<std::size_t>(v - 1)];
    }

    // Runs work(from, to) over 0..n, in two threads (halves) when `two`.
    template <class Work>
    static void in_two(bool two, std::size_t n, Work work) {
        if (!two) return work(0, n);
        std::jthread other([&] { work(0, n / 2); });
        work(n / 2, n);
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

    // ---- The trace and breed-proportion files ------------------------------------------------

    // A trace or breed-proportion table, rewritten line for line into `out`. Its separator is
    // found from its first line that holds anything, which `header` (given its values) may take
    // for a header. Each other line that holds anything is split (into at most `values`
    // values) and handed to `record` (the lines, the record number from 1, the values, the
    // separator) to append its rewriting; blank and header lines stay blank. Returns the
    // separator and the header's line (0: none).
    template <class Header, class Record>
    std::pair<Separator, int64_t> side_table(const InputSource& in, std::string& out, Header header,
                                             const std::size_t& values, Record record) {
        InputText text;
        text.load(listing_, in.file, in.name, read_.input_bound);
        Lines lines(text.text());
        Separator separator = Separator::blanks;
        LineFields fields(separator);
        int64_t records = 0, header_line = 0;
        bool first = true;
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
                    stop(in.name, lines, fields.problem_column, 1, fields.problem);
                if (header(fields.fields())) {
                    header_line = lines.number();
                    out += '\n';
                    continue;
                }
            }
            ++records;
            if (!fields.split(lines.line, values))
                stop(in.name, lines, fields.problem_column, records, fields.problem);
            record(lines, records, fields.fields(), separator);
            out += '\n';
        }
        return {separator, header_line};
    }

    // ---- The trace file ----------------------------------------------------------------------

    void read_trace() {
        std::string& out = out_.records.trace;
        const TableLayout& l = out_.layout;
        std::string_view id_name;
        if (l.header) id_name = l.names[static_cast<std::size_t>(l.columns[ID_COLUMN] - 1)];
        // The IDs stand in the first column, or in the one a header names like the pedigree's.
        std::size_t column = 0, values = 1;
        const auto header = [&](const std::vector<Field>& f) {
            for (std::size_t k = 0; k < f.size() && !id_name.empty(); ++k) {
                if (!same_name(f[k].text, id_name)) continue;
                column = k;
                values = k + 1;
                return true;
            }
            return false;
        };
        const auto record = [&](const Lines& lines, int64_t n, const std::vector<Field>& f,
                                Separator) {
            if (f.size() <= column || is_missing(f[column]))
                stop(in_.prob.name, lines,
                     f.size() <= column ? lines.line.size() : f[column].column, n,
                     "record " + std::to_string(n) + " has no ID");
            const std::string_view t = f[column].text;
            int64_t k = index_.find(t);
            if (k < 0) {
                if (const char* why = bad_id(t))
                    stop(in_.prob.name, lines, f[column].column, n,
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
        };
        const auto [separator, header_line] = side_table(in_.prob, out, header, values, record);
        d_.note("read as a table separated by " + std::string(separator_name(separator)) + "; " +
                    (header_line == 0 ? std::string("no header; IDs from column 1")
                                      : "line " + std::to_string(header_line) +
                                            " is its header (it names the pedigree's ID column " +
                                            quoted_bytes(id_name) + "); IDs from column " +
                                            std::to_string(column + 1)),
                {in_.prob.name, 0, 0});
    }

    // ---- The breed-proportion file -----------------------------------------------------------

    void read_proportions() {
        std::string& out = out_.records.bprop;
        const auto need = static_cast<std::size_t>(read_.N_BPOP) + 1;
        // A first line that does not start with an integer is a header.
        const auto header = [](const std::vector<Field>& f) {
            int64_t code = 0;
            return !f.empty() && !integer_value(f[0].text, code);
        };
        const auto record = [&](const Lines& lines, int64_t n, const std::vector<Field>& f,
                                Separator separator) {
            if (f.size() < need)
                stop(in_.bprop.name, lines, lines.line.size(), n,
                     "record " + std::to_string(n) + " has " +
                         counted(static_cast<int64_t>(f.size()), "value", "values") +
                         ", fewer than N_BPOP + 1 = " + std::to_string(need) +
                         " (a PHG code and N_BPOP proportions): each record stands on one line");
            int64_t code = 0;
            if (!integer_value(f[0].text, code))
                stop(in_.bprop.name, lines, f[0].column, n,
                     quoted_bytes(f[0].text) + " is not a PHG code (an integer below 0)");
            out += std::to_string(code);
            for (std::size_t k = 1; k < f.size(); ++k) {
                double v = 0;
                if (!real_value(f[k].text, separator == Separator::semicolon, v))
                    stop(in_.bprop.name, lines, f[k].column, n,
                         quoted_bytes(f[k].text) + " is not a breed proportion");
                out += ' ';
                for (const char ch : f[k].text) out += ch == ',' ? '.' : ch;
            }
        };
        const std::size_t all = SIZE_MAX;
        const auto [separator, header_line] = side_table(in_.bprop, out, header, all, record);
        d_.note("read as a table separated by " + std::string(separator_name(separator)) +
                    (header_line == 0 ? std::string("; no header")
                                      : "; line " + std::to_string(header_line) + " is its header"),
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
