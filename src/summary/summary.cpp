#include "summary/summary.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <limits>

#include <nlohmann/json.hpp>

#include "report/report.hpp"

namespace kinstrom {

namespace {

using json = nlohmann::ordered_json;

// Upper bounds of the inbreeding classes after "exactly 0".
constexpr std::array<double, 6> CLASS_UP_TO = {1.0 / 32, 1.0 / 16, 1.0 / 8, 0.25, 0.5, 1.0};

void add_to_group(GroupValues& g, float F, bool inbreeding, float K_GEN) {
    ++g.individuals;
    g.K_GEN.add(K_GEN);
    if (!inbreeding) return;
    g.F.add(F);
    if (F > 0.0f) ++g.inbred;
    std::size_t c = 0;
    if (F > 0.0f) {
        c = 1;
        while (c < CLASS_UP_TO.size() && double{F} > CLASS_UP_TO[c - 1]) ++c;
    }
    ++g.classes[c];
}

// The longest line back to the PHGs of each traced individual, by position; PHGs are
// generation 0.
std::vector<int32_t> generations(const Pedigree& pedigree, const TracedOrder& order) {
    std::vector<int32_t> gen(at(pedigree.XLIST.LAST) + 1, 0);
    for (const int32_t p : order.order) {
        const Record& r = pedigree.XLIST[p];
        const int32_t s = r.SIRE > 0 ? gen[at(r.SIRE)] : 0;
        const int32_t d = r.DAM > 0 ? gen[at(r.DAM)] : 0;
        gen[at(p)] = std::max(s, d) + 1;
    }
    return gen;
}

// The length of the UTF-8 character at the start of `s`; 0 when it is not one (cut short,
// overlong, a surrogate, above U+10FFFF).
std::size_t utf8_length(std::string_view s) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = b(0);
    if (c < 0x80) return 1;
    const std::size_t n = c >= 0xC2 && c <= 0xDF   ? 2
                          : c >= 0xE0 && c <= 0xEF ? 3
                          : c >= 0xF0 && c <= 0xF4 ? 4
                                                   : 0;
    if (n == 0 || s.size() < n) return 0;
    for (std::size_t i = 1; i < n; ++i)
        if ((b(i) & 0xC0) != 0x80) return 0;
    if ((c == 0xE0 && b(1) < 0xA0) || (c == 0xED && b(1) > 0x9F) || (c == 0xF0 && b(1) < 0x90) ||
        (c == 0xF4 && b(1) > 0x8F))
        return 0;
    return n;
}

// A text as the document shows it: itself when it is UTF-8, else each byte that is not part of
// a UTF-8 character replaced by U+FFFD.
std::string display(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    while (!s.empty()) {
        const std::size_t n = utf8_length(s);
        out += n == 0 ? std::string_view("\xEF\xBF\xBD") : s.substr(0, n);
        s.remove_prefix(std::max<std::size_t>(n, 1));
    }
    return out;
}

// o[key] is the display form of `s`; when `s` is not UTF-8, o[key + "_bytes"] keeps it exactly:
// every byte outside printable ASCII as \xNN, and \ as \\.
void put_name(json& o, const std::string& key, std::string_view s) {
    const std::string shown = display(s);
    o[key] = shown;
    if (shown == s) return;
    std::string bytes;
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\') {
            bytes += "\\\\";
        } else if (c >= 0x20 && c < 0x7F) {
            bytes += ch;
        } else {
            constexpr char HEX[] = "0123456789ABCDEF";
            bytes += {'\\', 'x', HEX[c >> 4], HEX[c & 15]};
        }
    }
    o[key + "_bytes"] = bytes;
}

json number_or_null(bool known, double x) {
    return known ? json(x) : json(nullptr);
}

json moments_json(const Moments& m) {
    if (m.n == 0) return nullptr;
    return {{"mean", m.mean},
            {"sd", m.n > 1 ? json(std::sqrt(m.m2 / static_cast<double>(m.n - 1))) : json(nullptr)},
            {"min", m.min},
            {"max", m.max}};
}

json group_json(const GroupValues& g, bool inbreeding) {
    json classes = nullptr;
    if (inbreeding) {
        classes = json::array();
        classes.push_back({{"above", nullptr}, {"up_to", 0.0}, {"individuals", g.classes[0]}});
        for (std::size_t c = 1; c < g.classes.size(); ++c)
            classes.push_back({{"above", c == 1 ? 0.0 : CLASS_UP_TO[c - 2]},
                               {"up_to", CLASS_UP_TO[c - 1]},
                               {"individuals", g.classes[c]}});
    }
    return {{"individuals", g.individuals},
            {"inbreeding", inbreeding ? moments_json(g.F) : json(nullptr)},
            {"inbred", inbreeding ? json(g.inbred) : json(nullptr)},
            {"known_generations", moments_json(g.K_GEN)},
            {"distribution", classes}};
}

json message_json(const Diagnostics::Message& m) {
    json o = {{"file", nullptr}};
    if (!m.place.file.empty()) put_name(o, "file", m.place.file);
    o["line"] = m.place.line > 0 ? json(m.place.line) : json(nullptr);
    o["column"] = m.place.line > 0 && m.place.column > 0 ? json(m.place.column) : json(nullptr);
    o["text"] = display(m.text);
    o["message"] = display(m.line);
    return o;
}

json cohorts_json(const RunRecord& r) {
    json rows = json::array();
    const std::size_t n_bpop = r.base_populations.size();
    for (std::size_t c = 0; c < r.cohorts.size(); ++c) {
        const Cohort& k = r.cohorts[c];
        const auto n = static_cast<double>(k.individuals);
        json contributions = json::array();
        for (std::size_t b = 0; b < n_bpop; ++b)
            contributions.push_back(r.contributions.sums[c * n_bpop + b] / n);
        const bool F = r.inbreeding_computed;
        rows.push_back({{"cohort", k.key},
                        {"individuals", k.individuals},
                        {"inbreeding_mean", number_or_null(F, k.F_sum / n)},
                        {"inbreeding_max", number_or_null(F, k.F_max)},
                        {"inbred_share", number_or_null(F, static_cast<double>(k.inbred) / n)},
                        {"known_generations_mean", k.K_GEN_sum / n},
                        {"both_parents_known_share", static_cast<double>(k.both_parents_known) / n},
                        {"contributions", contributions}});
    }
    return {{"by", r.by_birth_year ? "birth_year" : "generation"},
            {"without_cohort", r.without_cohort},
            {"base_populations", r.base_populations},
            {"rows", rows}};
}

constexpr const char* STATISTICS_KEYS[12] = {"individuals",
                                             "inserted",
                                             "phgs",
                                             "to_trace",
                                             "phgs_with_repeated_information",
                                             "repeated_pedigree_information",
                                             "inconsistent_pedigree_information",
                                             "to_trace_not_in_pedigree",
                                             "not_traceable_to_phgs",
                                             "not_traceable_to_trace",
                                             "phgs_without_breed_proportions",
                                             "doubtful_sort_values"};

constexpr const char* ERROR_KIND_WHAT[ERROR_KINDS] = {
    "repeated breed proportions of a PHG",
    "repeated pedigree records of an individual",
    "parents not in the file as individuals, inserted",
    "inconsistent pedigree records (an individual its own parent, or one parent twice)",
    "individuals to trace not in the pedigree file",
    "individuals that cannot be traced back to PHGs",
    "PHG codes without breed proportions",
    "doubtful birth dates or sort values"};

json file_size(const std::string& name) {
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    return static_cast<int64_t>(st.st_size);
}

}  // namespace

void Moments::add(double x) {
    ++n;
    if (n == 1) {
        min = max = x;
    } else {
        min = std::min(min, x);
        max = std::max(max, x);
    }
    const double delta = x - mean;
    mean += delta / static_cast<double>(n);
    m2 += delta * (x - mean);
}

void note_statistics(RunRecord& record, const Pedigree& pedigree, const ErrorFiles& errors) {
    const auto& E = errors.ERROR;
    record.statistics = std::array<int64_t, 12>{int64_t{pedigree.N_INDIVIDUALS} + pedigree.N_INS,
                                                pedigree.N_INS,
                                                pedigree.N_PHG_PRINTED,
                                                pedigree.N_PROB,
                                                E[1],
                                                E[2],
                                                int64_t{E[3]} + E[4],
                                                E[5],
                                                E[6],
                                                E[7],
                                                pedigree.PHG_ERRLIST.LAST,
                                                E[8]};
}

void note_error_kinds(RunRecord& record, const ErrorFiles& errors) {
    record.error_kinds.clear();
    for (int kind = 1; kind <= ERROR_KINDS; ++kind) {
        const OutFile& f = errors.files[at(kind - 1)];
        if (f.name().empty()) return;  // not opened
        // The findings are the file's records: the counters ERROR(k) count other things for
        // some kinds (kind 3 repeated records with other parents, kind 7 marked individuals
        // that cannot be traced).
        record.error_kinds.push_back({f.records(), f.name(), f.on_disk()});
    }
}

void note_traced_values(RunRecord& record, const Pedigree& pedigree,
                        const std::vector<float>& K_GEN, const TracedOrder& order, bool inbreeding,
                        bool by_birth_year, bool contributions) {
    const Table& X = pedigree.XLIST;
    record.inbreeding_computed = inbreeding;
    record.by_birth_year = by_birth_year;
    // The cohort key of each traced individual (its birth year or generation), NONE for an
    // unknown birth date and outside the traced pedigree; then, in place, its row.
    constexpr int32_t NONE = std::numeric_limits<int32_t>::min();
    std::vector<int32_t> row(at(X.LAST) + 1, NONE);
    if (by_birth_year) {
        for (int32_t i = 1; i <= X.LAST; ++i)
            if (is_set(X[i].TRACED) && X[i].SORT > 0) row[at(i)] = X[i].SORT / 10000;
    } else {
        row = generations(pedigree, order);
        for (int32_t i = 0; i <= X.LAST; ++i)
            if (!is_set(X[i].TRACED)) row[at(i)] = NONE;
    }
    // Rows in the order of their keys.
    int64_t lo = std::numeric_limits<int64_t>::max(), hi = std::numeric_limits<int64_t>::min();
    for (const int32_t key : row) {
        if (key == NONE) continue;
        lo = std::min<int64_t>(lo, key);
        hi = std::max<int64_t>(hi, key);
    }
    std::vector<int32_t> slot(lo <= hi ? at(hi - lo + 1) : 0, -1);
    for (const int32_t key : row)
        if (key != NONE) slot[at(key - lo)] = 0;
    record.cohorts.clear();
    for (std::size_t k = 0; k < slot.size(); ++k) {
        if (slot[k] < 0) continue;
        slot[k] = static_cast<int32_t>(record.cohorts.size());
        record.cohorts.push_back({static_cast<int32_t>(lo + static_cast<int64_t>(k))});
    }
    for (int32_t& r : row)
        if (r != NONE) r = slot[at(r - lo)];

    std::vector<uint8_t> phg_seen(at(pedigree.PHG_LIST.LAST) + 1, 0);
    for (int32_t i = 1; i <= X.LAST; ++i) {
        const Record& r = X[i];
        if (!is_set(r.TRACED)) continue;
        const float F = inbreeding ? pedigree.F[at(i)] : 0.0f;
        const float k = K_GEN[at(i)];
        add_to_group(record.traced, F, inbreeding, k);
        if (is_set(r.MARKED)) add_to_group(record.marked, F, inbreeding, k);
        for (const int32_t parent : {r.SIRE, r.DAM})
            if (parent < 0) phg_seen[at(-parent)] = 1;
        if (row[at(i)] == NONE) {
            ++record.without_cohort;
            continue;
        }
        Cohort& c = record.cohorts[at(row[at(i)])];
        ++c.individuals;
        c.F_sum += double{F};
        c.F_max = std::max(c.F_max, double{F});
        if (F > 0.0f) ++c.inbred;
        c.K_GEN_sum += double{k};
        if (r.SIRE > 0 && r.DAM > 0) ++c.both_parents_known;
    }
    record.traced_phgs = std::count(phg_seen.begin(), phg_seen.end(), uint8_t{1});
    if (contributions) {
        for (int32_t& r : row) r = r == NONE ? -1 : r;
        record.contributions.cohort = std::move(row);
        record.contributions.sums.assign(record.cohorts.size() * at(pedigree.N_BPOP), 0.0);
    }
    record.values_known = true;
}

namespace {

std::string dumped(const json& doc) {
    return doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

json summary_json(const RunRecord& r, const std::vector<Progress::Phase>& phases,
                  const Diagnostics& diagnostics, int exit_status) {
    json doc;
    doc["format"] = "kinstrom-summary";
    doc["format_version"] = 2;
    doc["program"] = {{"name", "kinstrom"}, {"version", "2"}};
    doc["run_date"] = r.run_date;
    doc["exit_status"] = exit_status;
    json stop = nullptr, warnings = json::array();
    for (const Diagnostics::Message& m : diagnostics.messages()) {
        if (!m.error) warnings.push_back(message_json(m));
    }
    // The stop's cause is the last error printed.
    if (exit_status != 0) {
        const auto& all = diagnostics.messages();
        const auto last = std::find_if(all.rbegin(), all.rend(),
                                       [](const Diagnostics::Message& m) { return m.error; });
        if (last != all.rend()) stop = message_json(*last);
    }
    doc["stop"] = stop;
    doc["interrupted"] = nullptr;
    json phase_list = json::array();
    for (const Progress::Phase& p : phases)
        phase_list.push_back({{"name", p.name}, {"seconds", p.seconds}});
    doc["phases"] = phase_list;
    json kinds = json::array();
    for (const Diagnostics::Count& c : diagnostics.counts())
        kinds.push_back({{"kind", c.kind},
                         {"count", c.count},
                         {"shown", std::min(c.count, Diagnostics::SHOWN)}});
    doc["warnings"] = {{"messages", warnings}, {"kinds", kinds}};

    json directives = nullptr;
    if (r.directives_read) {
        directives = json::object();
        for (const DirectiveValue& v : r.directives)
            if (v.is_text) {
                put_name(directives, v.key, v.text);
            } else {
                directives[v.key] = v.number;
            }
    }
    doc["directives"] = directives;
    json inputs = json::array();
    for (const FileRecord& f : r.inputs) {
        json input = {{"role", f.role}};
        put_name(input, "name", f.name);
        input["bytes"] = file_size(f.name);
        input["records"] = f.records >= 0 ? json(f.records) : json(nullptr);
        inputs.push_back(input);
    }
    doc["inputs"] = inputs;
    json written = json::array();
    for (const FileRecord& f : r.files_written) {
        json file = {{"role", f.role}};
        put_name(file, "name", f.name);
        file["records"] = f.records;
        written.push_back(file);
    }
    doc["files_written"] = written;

    json statistics = nullptr;
    if (r.statistics) {
        statistics = json::object();
        for (std::size_t k = 0; k < r.statistics->size(); ++k)
            statistics[STATISTICS_KEYS[k]] = (*r.statistics)[k];
    }
    doc["statistics"] = statistics;
    json error_kinds = json::array();
    for (std::size_t k = 0; k < r.error_kinds.size(); ++k) {
        const ErrorKindRecord& e = r.error_kinds[k];
        json kind = {{"kind", k + 1}, {"what", ERROR_KIND_WHAT[k]}, {"count", e.count}};
        kind["file"] = nullptr;
        if (e.on_disk) put_name(kind, "file", e.file);
        error_kinds.push_back(kind);
    }
    doc["error_kinds"] = error_kinds;
    doc["traced"] = r.values_known ? json{{"individuals", r.traced.individuals},
                                          {"marked", r.marked.individuals},
                                          {"phgs", r.traced_phgs}}
                                   : json(nullptr);
    doc["inbreeding"] = {
        {"computed", r.inbreeding_computed},
        {"reason", r.inbreeding_computed ? json(nullptr) : json(r.inbreeding_reason)}};
    doc["coefficients"] = r.values_known
                              ? json{{"marked", group_json(r.marked, r.inbreeding_computed)},
                                     {"traced", group_json(r.traced, r.inbreeding_computed)}}
                              : json(nullptr);
    doc["cohorts"] = r.values_known ? cohorts_json(r) : json(nullptr);
    json untraceable = json::array();
    for (const std::string& line : r.untraceable) untraceable.push_back(display(line));
    doc["untraceable"] = untraceable;
    return doc;
}

}  // namespace

std::string summary_text(SummaryForm form, const RunRecord& record,
                         const std::vector<Progress::Phase>& phases, const Diagnostics& diagnostics,
                         int exit_status) {
    const json doc = summary_json(record, phases, diagnostics, exit_status);
    return form == SummaryForm::report ? report_html(doc) : dumped(doc);
}

std::string interrupted_text(SummaryForm form, const std::string& document, int signal,
                             const std::string& phase) {
    json doc = json::parse(document);
    const std::string name = signal == SIGINT    ? "SIGINT"
                             : signal == SIGTERM ? "SIGTERM"
                                                 : std::to_string(signal);
    const std::string text = "interrupted by " + name + " in the phase '" + phase +
                             "': the listing and the files of the run are incomplete";
    doc["exit_status"] = 128 + signal;
    doc["stop"] = {{"file", nullptr},
                   {"line", nullptr},
                   {"column", nullptr},
                   {"text", text},
                   {"message", "kinstrom: error: " + text}};
    doc["interrupted"] = {{"signal", name}, {"phase", phase}};
    return form == SummaryForm::report ? report_html(doc) : dumped(doc);
}

}  // namespace kinstrom
