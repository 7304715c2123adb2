#include "report/report.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "report/svg.hpp"

namespace kinstrom {

namespace {

using json = nlohmann::ordered_json;
using svg::escape;
using svg::fixed;

// Colours that readers with a colour-vision deficiency can tell apart, and a grey for "other".
constexpr const char* PALETTE[] = {"#E69F00", "#56B4E9", "#009E73", "#F0E442",
                                   "#0072B2", "#D55E00", "#CC79A7"};
constexpr const char* BLUE = "#0072B2";
constexpr const char* VERMILLION = "#D55E00";
constexpr const char* GREEN = "#009E73";
constexpr const char* GREY = "#999999";
constexpr std::size_t SHOWN_POPULATIONS = 7;

// ---- reading the summary: a missing key reads as null ----

const json& at(const json& obj, const char* key) {
    static const json null_value;
    if (!obj.is_object()) return null_value;
    auto it = obj.find(key);
    return it == obj.end() ? null_value : *it;
}

std::string text(const json& obj, const char* key) {
    const json& v = at(obj, key);
    return v.is_string() ? v.get<std::string>() : std::string();
}

// A number, or none for null and for what is not a finite number.
std::optional<double> number(const json& v) {
    if (!v.is_number()) return std::nullopt;
    const double d = v.get<double>();
    if (!std::isfinite(d)) return std::nullopt;
    return d;
}

long long integer(const json& v) {
    if (v.is_number_unsigned()) return static_cast<long long>(v.get<unsigned long long>());
    if (v.is_number_integer()) return v.get<long long>();
    if (v.is_number_float() && std::isfinite(v.get<double>()))
        return std::llround(std::clamp(v.get<double>(), -1e18, 1e18));
    return 0;
}

// A cohort (birth year or generation), without digit groups.
std::string cohort(const json& row) {
    return std::to_string(integer(at(row, "cohort")));
}

// A count for the page; a dash when null.
std::string count(const json& v) {
    return v.is_number() ? svg::grouped(integer(v)) : "\u2014";
}

std::string percent(const std::optional<double>& fraction, int decimals) {
    return fraction ? fixed(*fraction * 100, decimals) : "\u2014";
}

const json& items(const json& v) {
    static const json empty = json::array();
    return v.is_array() ? v : empty;
}

// `text` as a sentence: a full stop added where it has none.
std::string sentence(std::string text) {
    if (!text.empty() && text.back() != '.' && text.back() != '!' && text.back() != '?')
        text += '.';
    return text;
}

// ---- HTML pieces ----

struct Table {
    std::string data;  // data-table attribute, empty for none
    std::vector<std::string> head;
    std::string columns;  // one letter a column: k key (no wrap), t text, n number
    std::vector<std::vector<std::string>> rows;
    std::vector<bool> highlight;
};

std::string cell_class(const Table& t, std::size_t column) {
    char kind = column < t.columns.size() ? t.columns[column] : 't';
    return kind == 'n' ? " class=\"num\"" : kind == 'k' ? " class=\"key\"" : "";
}

std::string table_html(const Table& t) {
    std::string out = "<table" + (t.data.empty() ? "" : " data-table=\"" + escape(t.data) + "\"") +
                      (t.head.size() > 6 ? " class=\"wide\"" : "") + ">\n<thead><tr>";
    for (std::size_t i = 0; i < t.head.size(); ++i) {
        out += "<th" + cell_class(t, i) + ">" + escape(t.head[i]) + "</th>";
    }
    out += "</tr></thead>\n<tbody>\n";
    for (std::size_t r = 0; r < t.rows.size(); ++r) {
        bool mark = r < t.highlight.size() && t.highlight[r];
        out += mark ? "<tr class=\"found\">" : "<tr>";
        for (std::size_t i = 0; i < t.rows[r].size(); ++i) {
            out += "<td" + cell_class(t, i) + ">" + escape(t.rows[r][i]) + "</td>";
        }
        out += "</tr>\n";
    }
    return out + "</tbody>\n</table>\n";
}

std::string note(const std::string& sentence) {
    return "<p class=\"note\">" + escape(sentence) + "</p>\n";
}

std::string section(const std::string& id, const std::string& title, const std::string& body) {
    return "<section id=\"" + id + "\">\n<h2>" + escape(title) + "</h2>\n" + body + "</section>\n";
}

// A chart, its caption and the table of its numbers, kept on one page where they fit.
std::string chart_block(const std::string& svg_text, const std::string& caption,
                        const Table& table) {
    return "<div class=\"block\">\n<figure>\n" + svg_text + "<figcaption>" + escape(caption) +
           "</figcaption>\n</figure>\n" + table_html(table) + "</div>\n";
}

constexpr const char* STYLE = R"(<style>
@page { size: A4; margin: 15mm 15mm 16mm; }
* { box-sizing: border-box; }
html { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
body { margin: 0; background: #eef0f3; color: #1d2024; font: 13px/1.45 sans-serif; }
main { max-width: 730px; margin: 24px auto; padding: 20px 24px 28px; background: #fff;
  border: 1px solid #d9dde3; }
header { border-bottom: 3px solid #0072B2; padding-bottom: 8px; margin-bottom: 14px; }
h1 { font-size: 22px; margin: 0 0 4px; }
h2 { font-size: 16px; margin: 22px 0 8px; padding-bottom: 3px; border-bottom: 1px solid #d9dde3;
  break-after: avoid; }
h3 { font-size: 13px; margin: 14px 0 6px; break-after: avoid; }
.meta { margin: 0; color: #4a4f57; }
.status { display: inline-block; padding: 1px 8px; border-radius: 3px; font-weight: 600; }
.status.ok { background: #e3f1fa; color: #004f7c; border: 1px solid #9cc8e4; }
.status.stopped { background: #fbe9df; color: #8a3300; border: 1px solid #e8a680; }
.stop { border-left: 4px solid #D55E00; background: #fdf3ed; padding: 8px 12px; margin: 12px 0; }
.stop p { margin: 2px 0; }
.figures { display: grid; grid-template-columns: repeat(4, 1fr); gap: 8px; margin: 12px 0; }
.figure { border: 1px solid #d9dde3; border-radius: 4px; padding: 6px 10px; break-inside: avoid; }
.figure .value { font-size: 20px; font-weight: 600; }
.figure .label { color: #4a4f57; font-size: 12px; }
table { width: 100%; border-collapse: collapse; margin: 6px 0 10px; font-size: 12px;
  font-variant-numeric: tabular-nums; }
th, td { padding: 2px 8px; border-bottom: 1px solid #e4e7eb; text-align: left;
  vertical-align: top; overflow-wrap: break-word; }
td { overflow-wrap: anywhere; }
table.wide { font-size: 11px; }
table.wide th, table.wide td { padding: 3px 4px; }
.key { white-space: nowrap; }
th { background: #f1f3f6; font-weight: 600; }
.num { text-align: right; white-space: nowrap; }
tr { break-inside: avoid; }
tr.found td { background: #fdf3ed; font-weight: 600; }
tr.found td:first-child { box-shadow: inset 4px 0 #D55E00; }
.messages { margin: 4px 0 10px; padding-left: 18px; }
.messages li, .mono { font-family: monospace; font-size: 12px; overflow-wrap: anywhere; }
figure { margin: 8px 0 4px; break-inside: avoid; }
.block { break-inside: avoid; }
svg.chart { display: block; width: 100%; max-width: 680px; height: auto; }
figcaption { color: #4a4f57; font-size: 12px; margin-top: 2px; }
.note { color: #4a4f57; font-style: italic; }
footer { margin-top: 20px; color: #4a4f57; font-size: 12px; }
@media print {
  body { background: #fff; }
  main { max-width: none; margin: 0; padding: 0; border: 0; }
}
</style>
)";

// ---- the parts of the page ----

// The cohorts of a summary, what they are counted by, and a chart's title for them.
struct CohortChart {
    const json& cohorts;
    std::string by;     // "Birth year" or "Generation"
    std::string title;  // `what` by birth year, or by generation
};

CohortChart cohort_chart(const json& s, const std::string& what) {
    const json& cohorts = at(s, "cohorts");
    bool generation = text(cohorts, "by") == "generation";
    return {cohorts, generation ? "Generation" : "Birth year",
            what + (generation ? " by generation" : " by birth year")};
}

// The rows of the summary document itself.
class DocumentRows final : public CohortRows {
  public:
    explicit DocumentRows(const json& rows) : rows_(items(rows)) {}
    std::size_t size() const override { return rows_.size(); }
    json row(std::size_t i) const override { return rows_[i]; }

  private:
    const json& rows_;
};

// A base population's mean contribution to the individuals of a cohort row: 0 where the row
// gives none, NaN where the summary holds null (a value that is not a finite number).
double contribution(const json& row, std::size_t j) {
    const json& c = at(row, "contributions");
    if (!c.is_array() || j >= c.size()) return 0.0;
    return c[j].is_number() ? c[j].get<double>() : std::numeric_limits<double>::quiet_NaN();
}

// The cohorts [first, last] of a group summed up: the individuals summed, the means and shares
// weighted by the individuals of each cohort, the largest inbreeding the largest of the cohorts'.
struct CohortGroup {
    long long first = 0;
    long long last = 0;
    std::size_t cohorts = 0;
    long long individuals = 0;
    long long with_F = 0;  // individuals of the cohorts with inbreeding values
    double F = 0, inbred = 0;
    std::optional<double> F_max;
    double K_GEN = 0;
    long long with_parents = 0;  // individuals of the cohorts with a share of known parents
    double both_parents = 0;
    std::vector<double> contributions;  // not finite where a cohort's is not

    void add(const json& row) {
        ++cohorts;
        const long long n = integer(at(row, "individuals"));
        const auto w = static_cast<double>(n);
        individuals += n;
        const auto mean = number(at(row, "inbreeding_mean"));
        const auto share = number(at(row, "inbred_share"));
        if (mean && share) {
            with_F += n;
            F += *mean * w;
            inbred += *share * w;
        }
        if (const auto max = number(at(row, "inbreeding_max")))
            F_max = std::max(F_max.value_or(*max), *max);
        K_GEN += number(at(row, "known_generations_mean")).value_or(0.0) * w;
        if (const auto both = number(at(row, "both_parents_known_share"))) {
            with_parents += n;
            both_parents += *both * w;
        }
        const json& c = at(row, "contributions");
        if (c.is_array() && c.size() > contributions.size()) contributions.resize(c.size(), 0.0);
        for (std::size_t j = 0; j < contributions.size(); ++j)
            contributions[j] += contribution(row, j) * w;
    }

    // The group as a row of the summary's cohorts.
    json row() const {
        const auto per = [](double sum, long long n) {
            return n > 0 ? json(sum / static_cast<double>(n)) : json(nullptr);
        };
        json shares = json::array();
        for (const double sum : contributions)
            shares.push_back(sum / static_cast<double>(individuals));
        return {{"cohort", first},
                {"individuals", individuals},
                {"inbreeding_mean", per(F, with_F)},
                {"inbreeding_max", F_max ? json(*F_max) : json(nullptr)},
                {"inbred_share", per(inbred, with_F)},
                {"known_generations_mean", per(K_GEN, individuals)},
                {"both_parents_known_share", per(both_parents, with_parents)},
                {"contributions", shares}};
    }
};

// The rows that the tables and charts by cohort show: one a cohort or, with more than
// COHORT_GROUPS cohorts, one a group of cohorts of equal width.
struct CohortTable {
    std::vector<json> rows;          // as the summary's rows; a group's merged from its cohorts'
    std::vector<std::string> names;  // the cohort, or the range of the group: "1901-1903", "1904"
    std::vector<double> x;           // on a numeric axis: the cohort, or the middle of the range
    std::string grouping;            // a sentence saying how cohorts are grouped; empty: not
};

CohortTable cohort_table(const json& cohorts, const CohortRows& rows) {
    CohortTable t;
    const std::size_t n = rows.size();
    if (n <= COHORT_GROUPS) {
        for (std::size_t i = 0; i < n; ++i) {
            json r = rows.row(i);
            t.names.push_back(cohort(r));
            t.x.push_back(static_cast<double>(integer(at(r, "cohort"))));
            t.rows.push_back(std::move(r));
        }
        return t;
    }
    // Groups of `width` cohorts from the least, by offsets from it: no overflow whatever the keys.
    long long lo = std::numeric_limits<long long>::max();
    long long hi = std::numeric_limits<long long>::min();
    for (std::size_t i = 0; i < n; ++i) {
        const long long key = integer(at(rows.row(i), "cohort"));
        lo = std::min(lo, key);
        hi = std::max(hi, key);
    }
    using Offset = unsigned long long;
    const auto offset = [&](long long key) {
        return static_cast<Offset>(key) - static_cast<Offset>(lo);
    };
    const auto key_at = [&](Offset off) {
        return static_cast<long long>(static_cast<Offset>(lo) + off);
    };
    const Offset span = offset(hi), width = span / COHORT_GROUPS + 1;
    std::vector<CohortGroup> groups(static_cast<std::size_t>(span / width + 1));
    for (std::size_t g = 0; g < groups.size(); ++g) {
        const Offset first = g * width;
        groups[g].first = key_at(first);
        groups[g].last = key_at(first + std::min(width - 1, span - first));
    }
    for (std::size_t i = 0; i < n; ++i) {
        const json r = rows.row(i);
        groups[static_cast<std::size_t>(offset(integer(at(r, "cohort"))) / width)].add(r);
    }
    std::size_t shown = 0;
    for (const CohortGroup& g : groups) {
        if (g.cohorts == 0) continue;
        ++shown;
        t.rows.push_back(g.row());
        t.names.push_back(std::to_string(g.first) +
                          (g.last > g.first ? "-" + std::to_string(g.last) : ""));
        t.x.push_back((static_cast<double>(g.first) + static_cast<double>(g.last)) / 2);
    }
    const std::string units = text(cohorts, "by") == "generation" ? "generations" : "birth years";
    t.grouping = svg::grouped(static_cast<long long>(n)) + " " + units + " are shown in " +
                 svg::grouped(static_cast<long long>(shown)) + " groups of " +
                 svg::grouped(static_cast<long long>(width)) + " " + units +
                 ": a row gives the range of its group, the individuals summed, and the means and "
                 "shares weighted by the individuals of each of its " +
                 units + ".";
    return t;
}

// The head of a table's first column: "Birth year", or "Birth years" over groups of them.
std::string key_head(const std::string& by, const CohortTable& t) {
    return t.grouping.empty() ? by : by + "s";
}

// A caption, and how the cohorts are grouped when they are.
std::string caption(const std::string& text, const CohortTable& t) {
    return t.grouping.empty() ? text : text + " " + t.grouping;
}

// Why the run stopped, once, and where in a file when the stop names one.
std::string stop_box(const json& stop) {
    std::string out = "<div class=\"stop\"><p><strong>The run stopped:</strong> " +
                      escape(text(stop, "text")) + "</p>";
    if (std::string file = text(stop, "file"); !file.empty()) {
        std::string place = "File: " + file;
        if (at(stop, "line").is_number())
            place += ", line " + std::to_string(integer(at(stop, "line")));
        if (at(stop, "column").is_number())
            place += ", column " + std::to_string(integer(at(stop, "column")));
        out += "<p>" + escape(place) + "</p>";
    }
    return out + "</div>\n";
}

// The counts of the pedigree and the traced pedigree. A run stopped before tracing has read the
// trace file: the individuals to trace found in the pedigree stand where the marked would.
std::string figures(const json& s) {
    const json& traced = at(s, "traced");
    const json& stats = at(s, "statistics");
    if (traced.is_null() && stats.is_null()) return {};
    auto figure = [](const std::string& value, const std::string& label) {
        return "<div class=\"figure\"><div class=\"value\">" + escape(value) +
               "</div><div class=\"label\">" + escape(label) + "</div></div>\n";
    };
    const bool to_trace = traced.is_null() && at(stats, "to_trace").is_number();
    return "<div class=\"figures\">\n" +
           figure(count(at(stats, "individuals")), "individuals in the pedigree") +
           figure(count(at(traced, "individuals")), "individuals traced") +
           (to_trace ? figure(count(at(stats, "to_trace")), "individuals to trace")
                     : figure(count(at(traced, "marked")), "marked for tracing")) +
           figure(count(at(traced, "phgs")), "PHGs") + "</div>\n";
}

std::string headline(const json& s) {
    bool stopped = !at(s, "stop").is_null() || integer(at(s, "exit_status")) != 0;
    std::string out = "<header>\n<h1>Pedigree run report</h1>\n<p class=\"meta\">" +
                      escape(text(at(s, "program"), "name")) + " version " +
                      escape(text(at(s, "program"), "version")) + " &middot; run of " +
                      escape(text(s, "run_date")) + " &middot; <span class=\"status " +
                      (stopped ? "stopped\">Stopped" : "ok\">Normal end") + " (exit status " +
                      std::to_string(integer(at(s, "exit_status"))) + ")</span></p>\n</header>\n";
    if (const json& stop = at(s, "stop"); !stop.is_null()) out += stop_box(stop);
    out += figures(s);

    const json& marked_f = at(at(at(s, "coefficients"), "marked"), "inbreeding");
    const json& inbreeding = at(s, "inbreeding");
    std::string line;
    if (at(inbreeding, "computed").is_boolean() && at(inbreeding, "computed").get<bool>()) {
        line = "Inbreeding coefficients were computed.";
        if (auto mean = number(at(marked_f, "mean"))) {
            line += " Mean inbreeding of the individuals marked for tracing: " + percent(mean, 2) +
                    "\u00a0% (maximum " + percent(number(at(marked_f, "max")), 2) + "\u00a0%).";
        }
    } else {
        std::string reason = text(inbreeding, "reason");
        line = sentence("Inbreeding coefficients were not computed" +
                        (reason.empty() ? std::string() : ": " + reason));
    }
    return out + "<p>" + escape(line) + "</p>\n";
}

std::string files(const json& s) {
    Table in{"", {"Role", "Name", "Bytes", "Records"}, "ttnn", {}, {}};
    for (const json& f : items(at(s, "inputs"))) {
        std::string role = text(f, "role");
        role = role == "trace"               ? "individuals to trace"
               : role == "breed_proportions" ? "breed proportions"
                                             : role;
        in.rows.push_back(
            {role, text(f, "name"), count(at(f, "bytes")),
             at(f, "records").is_null() ? "not read to its end" : count(at(f, "records"))});
    }
    Table out{"", {"Role", "Name", "Records"}, "ttn", {}, {}};
    for (const json& f : items(at(s, "files_written"))) {
        const std::string role = text(f, "role");
        out.rows.push_back({role == "evaluation_pedigree" ? "evaluation pedigree" : role,
                            text(f, "name"), count(at(f, "records"))});
    }
    return section("files", "Files",
                   "<h3>Read</h3>\n" +
                       (in.rows.empty() ? note("No input file was resolved.") : table_html(in)) +
                       "<h3>Written</h3>\n" +
                       (out.rows.empty() ? note("No file was written.") : table_html(out)));
}

std::string findings(const json& s) {
    std::string body = "<h3>Error kinds</h3>\n";
    Table errors{"", {"Kind", "What", "Findings", "File"}, "ntnt", {}, {}};
    for (const json& e : items(at(s, "error_kinds"))) {
        errors.rows.push_back(
            {count(at(e, "kind")), text(e, "what"), count(at(e, "count")), text(e, "file")});
        errors.highlight.push_back(integer(at(e, "count")) > 0);
    }
    body += errors.rows.empty() ? note("The run stopped before checking for errors.")
                                : table_html(errors);

    body += "<h3>Warnings</h3>\n";
    const json& warnings = at(s, "warnings");
    const json& messages = items(at(warnings, "messages"));
    Table kinds{"", {"Kind of finding", "Count", "Shown"}, "tnn", {}, {}};
    for (const json& k : items(at(warnings, "kinds"))) {
        kinds.rows.push_back({text(k, "kind"), count(at(k, "count")), count(at(k, "shown"))});
    }
    if (messages.empty() && kinds.rows.empty()) body += note("No warnings.");
    if (!messages.empty()) {
        body += "<ul class=\"messages\">\n";
        for (const json& m : messages) body += "<li>" + escape(text(m, "message")) + "</li>\n";
        body += "</ul>\n";
    }
    if (!kinds.rows.empty()) body += table_html(kinds);

    const json& untraceable = items(at(s, "untraceable"));
    if (!untraceable.empty()) {
        body += "<h3>Why some individuals cannot be traced</h3>\n<ul class=\"messages\">\n";
        for (const json& u : untraceable) {
            body += "<li>" + escape(u.is_string() ? u.get<std::string>() : "") + "</li>\n";
        }
        body += "</ul>\n";
    }
    return section("findings", "Findings", body);
}

// Why there are no cohort rows to draw, or empty when there are.
std::string no_cohorts(const json& s, const CohortTable& t) {
    if (!t.rows.empty()) return {};
    if (!at(s, "stop").is_null())
        return "The run stopped before the traced pedigree was summed up.";
    return "The traced pedigree has no cohorts to show.";
}

// Why an inbreeding chart has no data: not computed (and why), or else `otherwise`.
std::string no_inbreeding(const json& s, const std::string& otherwise) {
    const json& computed = at(at(s, "inbreeding"), "computed");
    if (computed.is_boolean() && computed.get<bool>()) return otherwise;
    std::string reason = text(at(s, "inbreeding"), "reason");
    return sentence("Inbreeding coefficients were not computed" +
                    (reason.empty() ? std::string() : ": " + reason));
}

std::string inbreeding_chart(const json& s, const CohortTable& t) {
    auto [cohorts, by, title] = cohort_chart(s, "Inbreeding");
    if (std::string why = no_cohorts(s, t); !why.empty())
        return section("inbreeding", title, note(why));

    svg::Chart chart{
        "inbreeding", title, by, {"Mean inbreeding coefficient (%)", "Share inbred (%)"}, 2,
        " %",         {}};
    chart.right_limit = 100;  // a share in %
    chart.series.push_back({"Mean inbreeding coefficient (left axis)", BLUE, "", 'o', 0, {}});
    chart.series.push_back({"Share inbred, F > 0 (right axis)", VERMILLION, "7 4", 's', 1, {}});
    std::vector<double> x;
    Table table{"inbreeding",
                {key_head(by, t), "Individuals", "Mean F (%)", "Maximum F (%)", "Inbred (%)"},
                "knnnn",
                {},
                {}};
    for (std::size_t i = 0; i < t.rows.size(); ++i) {
        const json& r = t.rows[i];
        auto mean = number(at(r, "inbreeding_mean"));
        auto share = number(at(r, "inbred_share"));
        if (!mean || !share) continue;
        x.push_back(t.x[i]);
        chart.x_names.push_back(t.names[i]);
        chart.series[0].values.push_back(*mean * 100);
        chart.series[1].values.push_back(*share * 100);
        table.rows.push_back({t.names[i], count(at(r, "individuals")), percent(mean, 2),
                              percent(number(at(r, "inbreeding_max")), 2), percent(share, 1)});
    }
    if (x.empty()) {
        return section("inbreeding", title,
                       note(no_inbreeding(s, "No cohort has inbreeding coefficients.")));
    }
    return section("inbreeding", title,
                   chart_block(svg::line_chart(chart, x),
                               caption("Mean inbreeding coefficient F and share of individuals "
                                       "with F above 0, per cohort of the traced pedigree.",
                                       t),
                               table));
}

std::string generations_chart(const json& s, const CohortTable& t) {
    auto [cohorts, by, title] = cohort_chart(s, "Pedigree depth");
    if (std::string why = no_cohorts(s, t); !why.empty())
        return section("generations", title, note(why));
    svg::Chart chart{"generations", title, by, {"Known generations", ""}, 2, "", {}};
    chart.series.push_back({"Mean known generations", GREEN, "", 'd', 0, {}});
    std::vector<double> x;
    Table table{
        "generations",
        {key_head(by, t), "Individuals", "Mean known generations", "Both parents known (%)"},
        "knnn",
        {},
        {}};
    for (std::size_t i = 0; i < t.rows.size(); ++i) {
        const json& r = t.rows[i];
        double g = number(at(r, "known_generations_mean")).value_or(0.0);
        x.push_back(t.x[i]);
        chart.x_names.push_back(t.names[i]);
        chart.series[0].values.push_back(g);
        table.rows.push_back({t.names[i], count(at(r, "individuals")), fixed(g, 2),
                              percent(number(at(r, "both_parents_known_share")), 1)});
    }
    return section("generations", title,
                   chart_block(svg::line_chart(chart, x),
                               caption("Mean number of known generations per cohort of the "
                                       "traced pedigree.",
                                       t),
                               table));
}

// The base populations drawn: all of them, or the SHOWN_POPULATIONS largest over all rows
// (weighted by the rows' individuals) and the others summed.
struct Shown {
    const json& names;               // all base populations
    std::vector<std::size_t> order;  // the populations drawn, by index into `names`
    bool other = false;              // the others are summed
};

Shown shown_populations(const json& names, const std::vector<json>& rows) {
    std::vector<double> total(names.size(), 0.0);
    for (const json& r : rows)
        for (std::size_t j = 0; j < names.size(); ++j)
            if (const double c = contribution(r, j); std::isfinite(c))
                total[j] += static_cast<double>(integer(at(r, "individuals"))) * c;
    Shown shown{names, std::vector<std::size_t>(names.size()), names.size() > SHOWN_POPULATIONS};
    for (std::size_t j = 0; j < shown.order.size(); ++j) shown.order[j] = j;
    if (shown.other) {
        std::stable_sort(shown.order.begin(), shown.order.end(),
                         [&](std::size_t a, std::size_t b) { return total[a] > total[b]; });
        shown.order.resize(SHOWN_POPULATIONS);
    }
    return shown;
}

// The stacked bars of breed composition and the table of the same numbers.
struct Composition {
    svg::Chart chart;
    Table table;
    std::vector<std::string> categories;
    bool not_finite = false;  // a value that is not a finite number, not drawn
};

// A series (a legend item) and a table column for each population drawn, and for the others.
void add_populations(Composition& c, const Shown& shown) {
    for (std::size_t k = 0; k < shown.order.size(); ++k) {
        const json& n = shown.names[shown.order[k]];
        std::string name = n.is_string() ? n.get<std::string>() : n.dump();
        c.chart.series.push_back({"Population " + name, PALETTE[k], "", 'o', 0, {}});
        c.table.head.push_back(svg::shorten(name, 16));
        c.table.columns += 'n';
    }
    if (shown.other) {
        std::size_t others = shown.names.size() - shown.order.size();
        c.chart.series.push_back(
            {"Other " + std::to_string(others) + " populations", GREY, "", 'o', 0, {}});
        c.table.head.push_back("Other");
        c.table.columns += 'n';
    }
}

// The bar and the table row of a cohort (or group) named `name`: the contributions in % of the
// populations drawn and what the others give.
void add_cohort(Composition& c, const std::string& name, const json& row, const Shown& shown) {
    c.categories.push_back(name);
    std::vector<std::string> cells{name, count(at(row, "individuals"))};
    const auto add = [&](svg::Series& series, double v) {
        c.not_finite = c.not_finite || !std::isfinite(v);
        series.values.push_back(v * 100);
        cells.push_back(svg::value_text(v * 100, 1));
    };
    std::vector<bool> drawn(shown.names.size(), false);
    for (std::size_t k = 0; k < shown.order.size(); ++k) {
        drawn[shown.order[k]] = true;
        add(c.chart.series[k], contribution(row, shown.order[k]));
    }
    if (shown.other) {
        double others = 0;
        for (std::size_t j = 0; j < shown.names.size(); ++j)
            if (!drawn[j]) others += contribution(row, j);
        add(c.chart.series.back(), others);
    }
    c.table.rows.push_back(cells);
}

std::string composition_caption(const Composition& c, const Shown& shown, const CohortTable& t) {
    std::string caption =
        "Mean contribution (%) of each base population to the individuals of "
        "a cohort, stacked; the table gives the same in %.";
    if (shown.other) {
        std::size_t all = shown.names.size(), drawn = shown.order.size();
        caption += " The " + std::to_string(drawn) + " largest of " + std::to_string(all) +
                   " base populations are shown; the other " + std::to_string(all - drawn) +
                   " are summed.";
    }
    if (c.not_finite)
        caption +=
            " Contributions that are not finite numbers (from breed proportions far beyond 1) "
            "are not drawn; the table shows them as inf, -inf or not finite.";
    return caption + (t.grouping.empty() ? "" : " " + t.grouping);
}

std::string composition_chart(const json& s, const CohortTable& t) {
    auto [cohorts, by, title] = cohort_chart(s, "Breed composition");
    const json& names = items(at(cohorts, "base_populations"));
    if (names.empty()) {
        return section(
            "composition", title,
            note(cohorts.is_null() ? "No breed composition: the run stopped before it."
                                   : "No breed composition: base populations are traced with "
                                     "OPT1=2 only."));
    }
    if (std::string why = no_cohorts(s, t); !why.empty()) {
        return section("composition", title, note(why));
    }
    Shown shown = shown_populations(names, t.rows);
    Composition c{{"composition", title, by, {"Mean contribution (%)", ""}, 1, " %", {}},
                  {"composition", {key_head(by, t), "Individuals"}, "kn", {}, {}},
                  {},
                  false};
    add_populations(c, shown);
    for (std::size_t i = 0; i < t.rows.size(); ++i) add_cohort(c, t.names[i], t.rows[i], shown);
    return section("composition", title,
                   chart_block(svg::bar_chart(c.chart, c.categories, 100),
                               composition_caption(c, shown, t), c.table));
}

// An inbreeding class limit as a fraction: 0, 1/32, ..., 1.
std::string limit(double v) {
    if (v <= 0) return "0";
    if (v >= 1) return "1";
    double inverse = 1 / v;
    if (std::abs(inverse - std::round(inverse)) < 1e-9) return "1/" + fixed(std::round(inverse), 0);
    return fixed(v, 3);
}

std::string distribution_chart(const json& s) {
    std::string title = "Inbreeding of the individuals marked for tracing";
    const json& classes = at(at(at(s, "coefficients"), "marked"), "distribution");
    long long sum = 0;
    for (const json& c : items(classes)) sum += integer(at(c, "individuals"));
    if (sum == 0) {
        return section("distribution", title,
                       note(no_inbreeding(s, "No individual is marked for tracing.")));
    }
    svg::Chart chart{"distribution",
                     title,
                     "Inbreeding coefficient F (class)",
                     {"Individuals", ""},
                     0,
                     "",
                     {{"Individuals", BLUE, "", 'o', 0, {}}}};
    std::vector<std::string> categories;
    Table table{"distribution", {"Inbreeding class", "Individuals", "Share (%)"}, "knn", {}, {}};
    for (const json& c : classes) {
        auto above = number(at(c, "above"));
        double up_to = number(at(c, "up_to")).value_or(0.0);
        categories.push_back(above ? "(" + limit(*above) + ", " + limit(up_to) + "]"
                                   : "F = " + limit(up_to));
        long long n = integer(at(c, "individuals"));
        chart.series[0].values.push_back(static_cast<double>(n));
        table.rows.push_back({categories.back(), svg::grouped(n),
                              fixed(static_cast<double>(n) * 100 / static_cast<double>(sum), 1)});
    }
    return section("distribution", title,
                   chart_block(svg::bar_chart(chart, categories, 0),
                               "Individuals marked for tracing by class of inbreeding coefficient "
                               "F: exactly 0, then (above, up to].",
                               table));
}

std::string phases(const json& s) {
    Table t{"", {"Phase", "Seconds"}, "tn", {}, {}};
    double total = 0;
    for (const json& p : items(at(s, "phases"))) total += number(at(p, "seconds")).value_or(0.0);
    int decimals = total < 1 ? 4 : total < 100 ? 2 : 1;
    for (const json& p : items(at(s, "phases"))) {
        t.rows.push_back(
            {text(p, "name"), fixed(number(at(p, "seconds")).value_or(0.0), decimals)});
    }
    if (t.rows.empty()) return {};
    t.rows.push_back({"total", fixed(total, decimals)});
    return "<footer>\n<h3>Run phases</h3>\n" + table_html(t) + "</footer>\n";
}

std::string charts(const json& s, const CohortRows& rows) {
    if (!at(s, "stop").is_null() && at(s, "cohorts").is_null() && at(s, "coefficients").is_null()) {
        return section("charts", "Charts",
                       note("The run stopped before the traced pedigree was summed up: no "
                            "charts."));
    }
    const CohortTable t = cohort_table(at(s, "cohorts"), rows);
    return inbreeding_chart(s, t) + distribution_chart(s) + generations_chart(s, t) +
           composition_chart(s, t);
}

}  // namespace

std::string report_html(const json& summary) {
    return report_html(summary, DocumentRows(at(at(summary, "cohorts"), "rows")));
}

std::string report_html(const json& summary, const CohortRows& rows) {
    std::string title = "Pedigree run report, " + text(summary, "run_date");
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
           escape(title) + "</title>\n" + STYLE + "</head>\n<body>\n<main>\n" + headline(summary) +
           files(summary) + findings(summary) + charts(summary, rows) + phases(summary) +
           "</main>\n</body>\n</html>\n";
}

}  // namespace kinstrom
