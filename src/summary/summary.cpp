#include "summary/summary.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <limits>
#include <tuple>
#include <utility>

#include <nlohmann/json.hpp>

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

// The cohorts of the keys in `row` (NONE: no cohort), in the order of their keys; each key in
// `row` is replaced by its cohort's row.
std::vector<Cohort> cohort_rows(std::vector<int32_t>& row, int32_t NONE) {
    int64_t lo = std::numeric_limits<int64_t>::max(), hi = std::numeric_limits<int64_t>::min();
    for (const int32_t key : row) {
        if (key == NONE) continue;
        lo = std::min<int64_t>(lo, key);
        hi = std::max<int64_t>(hi, key);
    }
    std::vector<int32_t> slot(lo <= hi ? at(hi - lo + 1) : 0, -1);
    for (const int32_t key : row)
        if (key != NONE) slot[at(key - lo)] = 0;
    std::vector<Cohort> cohorts;
    for (std::size_t k = 0; k < slot.size(); ++k) {
        if (slot[k] < 0) continue;
        slot[k] = static_cast<int32_t>(cohorts.size());
        cohorts.push_back({static_cast<int32_t>(lo + static_cast<int64_t>(k))});
    }
    for (int32_t& r : row)
        if (r != NONE) r = slot[at(r - lo)];
    return cohorts;
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

// The base populations whose contributions the cohorts give: the breed numbers, or without a
// breed-proportion file the PHG codes.
std::vector<std::string> base_population_names(const Pedigree& pedigree, bool use_bprop) {
    std::vector<std::string> names;
    for (int32_t b = 1; b <= pedigree.N_BPOP; ++b)
        names.push_back(use_bprop ? std::to_string(b) : std::to_string(pedigree.PHG_LIST[b].ID));
    return names;
}

// The rows of the cohorts, made one at a time from the traced values and the contributions
// summed by cohort (0 until they are summed).
class TracedRows final : public CohortRows {
  public:
    TracedRows(std::shared_ptr<const TracedValues> values,
               std::shared_ptr<const std::vector<double>> sums, std::size_t populations)
        : values_(std::move(values)), sums_(std::move(sums)), populations_(populations) {}

    std::size_t size() const override { return values_->cohorts.size(); }

    json row(std::size_t c) const override {
        const Cohort& k = values_->cohorts[c];
        const auto n = static_cast<double>(k.individuals);
        json shares = json::array();
        for (std::size_t b = 0; b < populations_; ++b) {
            const std::size_t i = c * populations_ + b;
            shares.push_back((sums_ != nullptr && i < sums_->size() ? (*sums_)[i] : 0.0) / n);
        }
        const bool F = values_->inbreeding;
        return {{"cohort", k.key},
                {"individuals", k.individuals},
                {"inbreeding_mean", number_or_null(F, k.F_sum / n)},
                {"inbreeding_max", number_or_null(F, k.F_max)},
                {"inbred_share", number_or_null(F, static_cast<double>(k.inbred) / n)},
                {"known_generations_mean", k.K_GEN_sum / n},
                {"both_parents_known_share", static_cast<double>(k.both_parents_known) / n},
                {"contributions", shares}};
    }

  private:
    std::shared_ptr<const TracedValues> values_;
    std::shared_ptr<const std::vector<double>> sums_;
    std::size_t populations_;
};

// The cohorts without their rows, and the rows.
std::pair<json, std::shared_ptr<const CohortRows>> cohorts_json(const SummarySources& in) {
    const TracedValues& v = *in.values;
    const bool contributions = in.settings->contributions;
    const std::vector<std::string> populations =
        contributions ? base_population_names(*in.pedigree, in.settings->use_bprop)
                      : std::vector<std::string>{};
    return {{{"by", v.by_birth_year ? "birth_year" : "generation"},
             {"without_cohort", v.without_cohort},
             {"base_populations", populations}},
            std::make_shared<TracedRows>(in.values, in.contributions, populations.size())};
}

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

TracedValues traced_values(const Pedigree& pedigree, const GeneticValues& genetics, bool inbreeding,
                           bool by_birth_year) {
    const Table& X = pedigree.XLIST;
    TracedValues out;
    out.inbreeding = inbreeding;
    out.by_birth_year = by_birth_year;
    // The cohort key of each traced individual (its birth year or generation), NONE for an
    // unknown birth date and outside the traced pedigree; then, in place, its row.
    constexpr int32_t NONE = std::numeric_limits<int32_t>::min();
    std::vector<int32_t> row(at(X.LAST) + 1, NONE);
    for (int32_t i = 1; i <= X.LAST; ++i) {
        if (!is_set(X[i].TRACED)) continue;
        if (!by_birth_year) {
            row[at(i)] = genetics.order.depth[at(i)];
        } else if (X[i].SORT > 0) {
            row[at(i)] = X[i].SORT / 10000;
        }
    }
    out.cohorts = cohort_rows(row, NONE);

    std::vector<uint8_t> phg_seen(at(pedigree.PHG_LIST.LAST) + 1, 0);
    for (int32_t i = 1; i <= X.LAST; ++i) {
        const Record& r = X[i];
        if (!is_set(r.TRACED)) continue;
        const float F = inbreeding ? pedigree.F[at(i)] : 0.0f;
        const float k = genetics.K_GEN[at(i)];
        add_to_group(out.traced, F, inbreeding, k);
        if (is_set(r.MARKED)) add_to_group(out.marked, F, inbreeding, k);
        for (const int32_t parent : {r.SIRE, r.DAM})
            if (parent < 0) phg_seen[at(-parent)] = 1;
        if (row[at(i)] == NONE) {
            ++out.without_cohort;
            continue;
        }
        Cohort& c = out.cohorts[at(row[at(i)])];
        ++c.individuals;
        c.F_sum += double{F};
        c.F_max = std::max(c.F_max, double{F});
        if (F > 0.0f) ++c.inbred;
        c.K_GEN_sum += double{k};
        if (r.SIRE > 0 && r.DAM > 0) ++c.both_parents_known;
    }
    out.phgs = std::count(phg_seen.begin(), phg_seen.end(), uint8_t{1});
    for (int32_t& r : row) r = r == NONE ? -1 : r;
    out.cohort_of = std::move(row);
    return out;
}

namespace {

// A value as the document's text holds it at `depth` blanks of indent: dumped with an indent of
// two blanks, every line after the first indented by `depth` more.
std::string dumped(const json& value, std::size_t depth) {
    const std::string text = value.dump(2, ' ', false, json::error_handler_t::replace);
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        out += c;
        if (c == '\n') out.append(depth, ' ');
    }
    return out;
}

// `"key": ` at `depth` blanks of indent.
std::string key_text(const std::string& key, std::size_t depth) {
    return std::string(depth, ' ') + dumped(json(key), 0) + ": ";
}

// The cohorts (at an indent of 2) with their rows, as dumped().
bool write_cohorts(const json& cohorts, const CohortRows& rows,
                   const std::function<bool(std::string_view)>& write) {
    if (!write("{")) return false;
    const char* separator = "\n";
    for (const auto& [key, value] : cohorts.items()) {
        if (key == "rows") continue;
        if (!write(separator) || !write(key_text(key, 4) + dumped(value, 4))) return false;
        separator = ",\n";
    }
    if (!write(separator) || !write(key_text("rows", 4))) return false;
    if (rows.size() == 0) return write("[]\n  }");
    if (!write("[")) return false;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (!write(i == 0 ? "\n      " : ",\n      ") || !write(dumped(rows.row(i), 6)))
            return false;
    return write("\n    ]\n  }");
}

// The stop (the last error printed, when the run did not end normally), the warnings and the
// phases.
void put_run(json& doc, const std::vector<Progress::Phase>& phases, const Diagnostics& diagnostics,
             int exit_status) {
    json stop = nullptr, warnings = json::array();
    for (const Diagnostics::Message& m : diagnostics.messages()) {
        if (!m.error) warnings.push_back(message_json(m));
    }
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
}

json directives_json(const SummarySources& in) {
    if (in.directives == nullptr) return nullptr;
    json directives = json::object();
    for (const DirectiveValue& v : directive_values(*in.directives))
        if (v.is_text) {
            put_name(directives, v.key, v.text);
        } else {
            directives[v.key] = v.number;
        }
    return directives;
}

json inputs_json(const SummarySources& in) {
    json inputs = json::array();
    if (in.inputs == nullptr) return inputs;
    const Pedigree* p = in.finished ? in.pedigree : nullptr;
    const struct {
        const char* role;
        const std::string& name;
        int64_t records;
    } files[] = {{"pedigree", in.inputs->ped, p != nullptr ? p->N_PED_RECORDS : -1},
                 {"trace", in.inputs->prob, p != nullptr ? p->N_PROB_RECORDS : -1},
                 {"breed_proportions", in.inputs->bprop, p != nullptr ? p->N_BPROP_RECORDS : -1}};
    for (const auto& f : files) {
        if (f.name.empty() && std::string_view(f.role) == "breed_proportions") continue;
        json input = {{"role", f.role}};
        put_name(input, "name", f.name);
        input["bytes"] = file_size(f.name);
        input["records"] = f.records >= 0 ? json(f.records) : json(nullptr);
        inputs.push_back(input);
    }
    return inputs;
}

// How the pedigree table was read: its separator, header, columns and missing parents, and the
// text IDs it holds.
json table_json(const SummarySources& in) {
    const TableLayout& l = *in.table;
    json columns;
    const char* roles[] = {"id", "sire", "dam", "sort"};
    for (std::size_t k = 0; k < 4; ++k) {
        const int32_t c = l.columns[k];
        if (c == 0) {
            columns[roles[k]] = nullptr;
            continue;
        }
        json column = {{"position", c}};
        const auto at = static_cast<std::size_t>(c - 1);
        if (at < l.names.size()) put_name(column, "name", l.names[at]);
        columns[roles[k]] = column;
    }
    const IdTexts& ids = in.pedigree->ids;
    return {{"separator", separator_name(l.separator)},
            {"header", l.header},
            {"header_reason", l.header_reason},
            {"columns", columns},
            {"unknown_parents", l.unknown_parents},
            {"unknown_code", l.unknown_code},
            {"ids", ids.size()},
            {"longest_id_bytes", ids.longest()}};
}

json files_written_json(const SummarySources& in) {
    json written = json::array();
    if (!in.finished) return written;
    for (const RoleFile& f : in.files) {
        if (!f.file->on_disk()) continue;
        json file = {{"role", f.role}};
        put_name(file, "name", f.file->name());
        file["records"] = f.file->records();
        written.push_back(file);
    }
    const EvaluationResult* e = in.evaluation;
    if (e != nullptr && e->written) {
        json file = {{"role", "evaluation_pedigree"}};
        put_name(file, "name", e->options.file);
        file["records"] = e->individuals;
        written.push_back(file);
    }
    return written;
}

// The evaluation pedigree asked for: its file, the depth asked, and once it is laid out its
// columns, individuals and genetic groups with the PHG code of each group code.
json evaluation_json(const EvaluationResult& e) {
    json out;
    put_name(out, "name", e.options.file);
    out["generations"] = e.options.generations >= 0 ? json(e.options.generations) : json(nullptr);
    out["genetic_groups"] = e.options.groups;
    const bool coded = e.individuals >= 0;
    out["columns"] = coded ? json(e.columns) : json(nullptr);
    out["individuals"] = coded ? json(e.individuals) : json(nullptr);
    out["groups"] = coded ? json(e.group_phgs.size()) : json(nullptr);
    json codes = json::array();
    for (std::size_t j = 0; j < e.group_phgs.size(); ++j)
        codes.push_back(
            {{"code", e.individuals + static_cast<int64_t>(j) + 1}, {"phg", e.group_phgs[j]}});
    out["group_codes"] = coded ? codes : json(nullptr);
    out["written"] = e.written;
    return out;
}

json statistics_json(const PedigreeCounts* c) {
    if (c == nullptr) return nullptr;
    return {{"individuals", c->individuals},
            {"inserted", c->inserted},
            {"phgs", c->phgs},
            {"to_trace", c->to_trace},
            {"phgs_with_repeated_information", c->phgs_with_repeated_information},
            {"repeated_pedigree_information", c->repeated_pedigree_information},
            {"inconsistent_pedigree_information", c->inconsistent_pedigree_information},
            {"to_trace_not_in_pedigree", c->to_trace_not_in_pedigree},
            {"not_traceable_to_phgs", c->not_traceable_to_phgs},
            {"not_traceable_to_trace", c->not_traceable_to_trace},
            {"phgs_without_breed_proportions", c->phgs_without_breed_proportions},
            {"doubtful_sort_values", c->doubtful_sort_values}};
}

// Each error kind whose file was opened: the findings are the file's records (the counters
// ERROR(k) count other things for some kinds: kind 3 repeated records with other parents,
// kind 7 marked individuals that cannot be traced).
json error_kinds_json(const SummarySources& in) {
    json kinds = json::array();
    if (!in.finished || in.errors == nullptr) return kinds;
    for (int k = 1; k <= ERROR_KINDS; ++k) {
        const OutFile& f = in.errors->files[at(k - 1)];
        if (f.name().empty()) break;  // not opened
        json kind = {{"kind", k}, {"what", ERROR_KIND_WHAT[at(k - 1)]}, {"count", f.records()}};
        kind["file"] = nullptr;
        if (f.on_disk()) put_name(kind, "file", f.name());
        kinds.push_back(kind);
    }
    return kinds;
}

// Why no inbreeding coefficients were computed.
std::string inbreeding_reason(const SummarySources& in) {
    const std::string stopped = "the run stopped before the inbreeding phase";
    if (in.counts == nullptr) return stopped;
    if (!in.settings->inbreed)
        return "not asked for: INBREED='" + std::string(trim_trailing(in.directives->INBREED)) +
               "'";
    if (in.inbreeding.has_value() && !*in.inbreeding)
        return doubtful_dates_text(in.errors->ERROR[8], in.errors->files[7].name());
    return stopped;
}

void put_traced(Summary& summary, const SummarySources& in) {
    json& doc = summary.document;
    const TracedValues* v = in.values.get();
    doc["traced"] = v != nullptr ? json{{"individuals", v->traced.individuals},
                                        {"marked", v->marked.individuals},
                                        {"phgs", v->phgs}}
                                 : json(nullptr);
    const bool computed = v != nullptr && v->inbreeding;
    doc["inbreeding"] = {{"computed", computed},
                         {"reason", computed ? json(nullptr) : json(inbreeding_reason(in))}};
    doc["coefficients"] = v != nullptr ? json{{"marked", group_json(v->marked, computed)},
                                              {"traced", group_json(v->traced, computed)}}
                                       : json(nullptr);
    doc["cohorts"] = nullptr;
    if (v != nullptr) std::tie(doc["cohorts"], summary.rows) = cohorts_json(in);
    json untraceable = json::array();
    if (in.untraceable != nullptr)
        for (const std::string& line : *in.untraceable) untraceable.push_back(display(line));
    doc["untraceable"] = untraceable;
}

}  // namespace

std::string doubtful_dates_text(int64_t count, const std::string& file) {
    return counted(count, "doubtful birth date or sort value",
                   "doubtful birth dates or sort values") +
           " (born before, or too soon after, a parent, or out of the accepted range) in " + file;
}

Summary summary_document(const SummarySources& in, const std::vector<Progress::Phase>& phases,
                         const Diagnostics& diagnostics, int exit_status) {
    Summary summary;
    json& doc = summary.document;
    doc["format"] = "kinstrom-summary";
    doc["format_version"] = 4;
    doc["program"] = {{"name", "kinstrom"}, {"version", KINSTROM_VERSION}};
    doc["run_date"] = in.run_date;
    doc["exit_status"] = exit_status;
    put_run(doc, phases, diagnostics, exit_status);
    doc["directives"] = directives_json(in);
    doc["inputs"] = inputs_json(in);
    if (in.table != nullptr && in.pedigree != nullptr) doc["table"] = table_json(in);
    doc["files_written"] = files_written_json(in);
    if (in.evaluation != nullptr) doc["evaluation_pedigree"] = evaluation_json(*in.evaluation);
    doc["statistics"] = statistics_json(in.counts);
    doc["error_kinds"] = error_kinds_json(in);
    put_traced(summary, in);
    return summary;
}

bool write_summary_text(const Summary& summary,
                        const std::function<bool(std::string_view)>& write) {
    const json& doc = summary.document;
    if (!doc.is_object() || doc.empty()) return write(dumped(doc, 0) + "\n");
    if (!write("{")) return false;
    const char* separator = "\n";
    for (const auto& [key, value] : doc.items()) {
        if (!write(separator) || !write(key_text(key, 2))) return false;
        separator = ",\n";
        const bool rows = key == "cohorts" && value.is_object() && summary.rows != nullptr;
        if (!(rows ? write_cohorts(value, *summary.rows, write) : write(dumped(value, 2))))
            return false;
    }
    return write("\n}\n");
}

std::string summary_text(const Summary& summary) {
    std::string text;
    write_summary_text(summary, [&](std::string_view piece) {
        text += piece;
        return true;
    });
    return text;
}

Summary interrupted_document(const Summary& summary, int signal, const std::string& phase) {
    Summary out = summary;
    json& doc = out.document;
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
    return out;
}

}  // namespace kinstrom
