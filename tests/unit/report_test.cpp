// The HTML run report drawn from a run summary: escaping, stopped runs, grouping of many base
// populations, the cohort axis, and the same bytes for the same summary; the element writer of
// the charts escaping what it writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/report.hpp"
#include "report/svg.hpp"

namespace {

using json = nlohmann::ordered_json;

// A finished run with 3 base populations and 2 birth-year cohorts.
json finished_run() {
    return json::parse(R"({
  "format": "kinstrom-summary", "format_version": 1,
  "program": {"name": "kinstrom", "version": "2"}, "run_date": "5-12-2026 - 06:03:57",
  "exit_status": 0, "stop": null, "phases": [{"name": "reading the input", "seconds": 0.5}],
  "warnings": {"messages": [], "kinds": []}, "directives": null,
  "inputs": [{"role": "pedigree", "name": "pedigree.txt", "bytes": 1000, "records": 20}],
  "files_written": [{"role": "PED", "name": "trace.txt.PED", "records": 12}],
  "statistics": null,
  "error_kinds": [{"kind": 2, "what": "individuals with repeated pedigree records", "count": 3,
                   "file": "trace.txt.err2"}],
  "traced": {"individuals": 12, "marked": 4, "phgs": 3},
  "inbreeding": {"computed": true, "reason": null},
  "coefficients": {"marked": {"individuals": 4, "inbreeding": null, "inbred": 1,
      "known_generations": null,
      "distribution": [{"above": null, "up_to": 0, "individuals": 3},
        {"above": 0, "up_to": 0.03125, "individuals": 1}, {"above": 0.03125, "up_to": 0.0625,
        "individuals": 0}, {"above": 0.0625, "up_to": 0.125, "individuals": 0}, {"above": 0.125,
        "up_to": 0.25, "individuals": 0}, {"above": 0.25, "up_to": 0.5, "individuals": 0},
        {"above": 0.5, "up_to": 1, "individuals": 0}]},
    "traced": {"individuals": 12, "inbreeding": null, "inbred": 1, "known_generations": null,
               "distribution": null}},
  "cohorts": {"by": "birth_year", "base_populations": ["1", "2", "3"], "rows": [
    {"cohort": 2001, "individuals": 5, "inbreeding_mean": 0, "inbreeding_max": 0,
     "inbred_share": 0, "known_generations_mean": 1, "both_parents_known_share": 0.5,
     "contributions": [0.5, 0.25, 0.25]},
    {"cohort": 2003, "individuals": 7, "inbreeding_mean": 0.01, "inbreeding_max": 0.0625,
     "inbred_share": 0.25, "known_generations_mean": 2.5, "both_parents_known_share": 1,
     "contributions": [0.125, 0.375, 0.5]}]},
  "untraceable": []
})");
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The tick labels of the right axis of the inbreeding chart (the share inbred), bottom up.
std::vector<std::string> share_axis_labels(const std::string& html) {
    const std::string label = "text-anchor=\"start\" font-size=\"11\" fill=\"#444\">";
    const auto chart = html.find("data-chart=\"inbreeding\"");
    const auto end = html.find("</svg>", chart);
    std::vector<std::string> labels;
    for (auto at = html.find(label, chart); at < end; at = html.find(label, at + 1)) {
        const auto from = at + label.size();
        labels.push_back(html.substr(from, html.find('<', from) - from));
    }
    return labels;
}

// Cohorts of repeated full-sib mating: mean F (and maximum) by generation, all inbred from the
// 3rd generation on.
void full_sib_cohorts(json& s) {
    s["cohorts"] = {
        {"by", "generation"}, {"base_populations", json::array()}, {"rows", json::array()}};
    const double F[] = {0, 0, 0.25, 0.375, 0.5, 0.59375};
    for (int g = 1; g <= 6; ++g) {
        const double f = F[g - 1];
        s["cohorts"]["rows"].push_back({{"cohort", g},
                                        {"individuals", 2},
                                        {"inbreeding_mean", f},
                                        {"inbreeding_max", f},
                                        {"inbred_share", f > 0 ? 1.0 : 0.0},
                                        {"known_generations_mean", g - 1},
                                        {"both_parents_known_share", g > 1 ? 1.0 : 0.0},
                                        {"contributions", json::array()}});
    }
}

// The marks drawn and the tables beside them are checked in a real browser (check_report.py);
// here: what the page says in words, and its bytes.
TEST(report_test, text_of_the_page) {
    json s = finished_run();
    s["inputs"][0]["name"] = "a<b>&\"c'.txt";
    std::string html = kinstrom::report_html(s);
    EXPECT_TRUE(has(html, "<td>a&lt;b&gt;&amp;&quot;c&#39;.txt</td>"));
    EXPECT_FALSE(has(html, "a<b>"));
    for (const char* kind : {"inbreeding", "generations", "composition", "distribution"})
        EXPECT_EQ(occurrences(html, std::string("data-chart=\"") + kind + "\""), 1u) << kind;
    EXPECT_TRUE(has(html, "<tr class=\"found\">"));  // error kind 2 has findings
    EXPECT_TRUE(has(html, ">Birth year</text>"));
    EXPECT_EQ(html, kinstrom::report_html(json::parse(s.dump())));
    EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_FALSE(has(html, "http"));  // nothing from elsewhere
    EXPECT_FALSE(has(html, "<script"));

    s["cohorts"]["by"] = "generation";
    html = kinstrom::report_html(s);
    EXPECT_TRUE(has(html, ">Generation</text>"));
    EXPECT_FALSE(has(html, "Birth year"));
}

TEST(report_test, element_writer_escapes) {
    kinstrom::svg::Writer w;
    w.open("g", {{"class", "a&b<c>d\"e'f"}, {"id", "g1"}});
    w.element("text", {{"x", "<'>"}}, "1 < 2 & 3");
    w.newline();
    w.leaf("rect", {{"fill", "&amp;"}});
    w.close("g");
    EXPECT_EQ(w.str(),
              "<g class=\"a&amp;b&lt;c&gt;d&quot;e&#39;f\" id=\"g1\">"
              "<text x=\"&lt;&#39;&gt;\">1 &lt; 2 &amp; 3</text>\n"
              "<rect fill=\"&amp;amp;\"/></g>");
}

TEST(report_test, missing_parts) {
    json s = finished_run();
    s["exit_status"] = 16;
    s["stop"] = {{"file", "p<1>.txt"},
                 {"line", 7},
                 {"column", nullptr},
                 {"text", "the birth date 20261399 is not a date"},
                 {"message", "kinstrom: p<1>.txt:7: error: the birth date 20261399 is not a date"}};
    for (const char* part : {"statistics", "traced", "coefficients", "cohorts"}) s[part] = nullptr;
    s["inbreeding"] = {{"computed", false}, {"reason", "the run stopped before it"}};
    std::string html = kinstrom::report_html(s);
    EXPECT_TRUE(has(html, "Stopped (exit status 16)"));
    EXPECT_TRUE(has(html,
                    "<div class=\"stop\"><p><strong>The run stopped:</strong> the birth date "
                    "20261399 is not a date</p><p>File: p&lt;1&gt;.txt, line 7</p></div>\n"));
    EXPECT_EQ(occurrences(html, "20261399"), 1u);  // the stop is told once
    EXPECT_TRUE(has(html, "Inbreeding coefficients were not computed: the run stopped before it."));
    EXPECT_FALSE(has(html, "<svg"));

    // Inbreeding not computed: no inbreeding charts, the other two still drawn.
    s = finished_run();
    s["inbreeding"] = {{"computed", false}, {"reason", "INBREED is NO"}};
    s["coefficients"]["marked"]["distribution"] = nullptr;
    for (json& row : s["cohorts"]["rows"])
        row["inbreeding_mean"] = row["inbreeding_max"] = row["inbred_share"] = nullptr;
    html = kinstrom::report_html(s);
    EXPECT_FALSE(has(html, "data-chart=\"inbreeding\""));
    EXPECT_FALSE(has(html, "data-chart=\"distribution\""));
    EXPECT_TRUE(has(html, "data-chart=\"generations\""));
    EXPECT_TRUE(has(html, "data-chart=\"composition\""));
}

TEST(report_test, many_base_populations) {
    // 500 populations, "<0>" the largest, then P499, P498, ...: the 7 largest and "Other".
    json s = finished_run();
    json names = json::array({"<0>"});
    std::vector<double> c(500, 0.0);
    c[0] = 0.5;
    for (int j = 1; j < 500; ++j) {
        names.push_back(std::string(1, 'P') += std::to_string(j));
        c[static_cast<std::size_t>(j)] = 0.5 * j / (499 * 500 / 2.0);
    }
    s["cohorts"]["base_populations"] = names;
    for (json& row : s["cohorts"]["rows"]) row["contributions"] = c;
    const std::string html = kinstrom::report_html(s);
    EXPECT_TRUE(has(html, "<th class=\"num\">&lt;0&gt;</th><th class=\"num\">P499</th>"));
    EXPECT_TRUE(has(html, "<th class=\"num\">P494</th><th class=\"num\">Other</th>"));
    EXPECT_FALSE(has(html, ">P493<"));
    EXPECT_TRUE(has(html,
                    "The 7 largest of 500 base populations are shown; the other 493 are "
                    "summed."));
    // Other, in %: what P1 .. P493 give, 50 % x (1 + ... + 493) / (1 + ... + 499).
    char other[48];
    std::snprintf(other, sizeof other, "<td class=\"num\">%.1f</td></tr>",
                  50.0 * (493 * 494 / 2.0) / (499 * 500 / 2.0));
    EXPECT_EQ(occurrences(html, other), 2u) << other;  // one row per cohort
}

// The share inbred never passes 100 %: on a deep pedigree (mean F up to 59 %, left axis 0 to 60
// in 3 steps) its axis has steps of its own up to 100 %, not the grid's 0, 50, 100, 150.
TEST(report_test, share_inbred_axis_ends_at_100) {
    json s = finished_run();
    full_sib_cohorts(s);
    const std::string html = kinstrom::report_html(s);
    EXPECT_EQ(share_axis_labels(html),
              (std::vector<std::string>{"0", "20", "40", "60", "80", "100"}));
    EXPECT_TRUE(has(html, "fill=\"#444\">100</text>"));

    // Where the grid lines serve both axes within 100 %, the share keeps them.
    EXPECT_EQ(share_axis_labels(kinstrom::report_html(finished_run())),
              (std::vector<std::string>{"0", "5", "10", "15", "20", "25"}));
}

// Whatever the mean F and the share, the share's axis ends at or above the largest share and at
// 100 % at most.
TEST(report_test, share_inbred_axis_covers_the_shares_within_100) {
    json s = finished_run();
    for (double f = 0.005; f < 1; f *= 1.37) {
        for (double share : {0.01, 0.3, 0.74, 0.76, 0.99, 1.0}) {
            s["cohorts"]["rows"][1]["inbreeding_mean"] = s["cohorts"]["rows"][1]["inbreeding_max"] =
                f;
            s["cohorts"]["rows"][1]["inbred_share"] = share;
            const std::vector<std::string> labels = share_axis_labels(kinstrom::report_html(s));
            ASSERT_FALSE(labels.empty());
            const double top = std::stod(labels.back());
            EXPECT_GE(top, share * 100) << "F " << f << ", share " << share;
            EXPECT_LE(top, 100) << "F " << f << ", share " << share;
        }
    }
}

// 101 generations, 0 to 100, are shown in 51 groups of 2, the last of generation 100 alone; a
// group sums its generations' individuals and weights their means by them.
TEST(report_test, many_cohorts_in_groups) {
    json s = finished_run();
    full_sib_cohorts(s);
    json& rows = s["cohorts"]["rows"] = json::array();
    for (int g = 0; g <= 100; ++g)
        rows.push_back({{"cohort", g},
                        {"individuals", 1 + g % 3},
                        {"inbreeding_mean", g % 2 == 1 ? 0.5 : 0.2},
                        {"inbreeding_max", 0.5},
                        {"inbred_share", 1.0},
                        {"known_generations_mean", g},
                        {"both_parents_known_share", 1.0},
                        {"contributions", json::array()}});
    const std::string html = kinstrom::report_html(s);
    EXPECT_TRUE(has(html, ". 101 generations are shown in 51 groups of 2 generations: "));
    EXPECT_EQ(occurrences(html, "<td class=\"key\">98-99</td>"), 2u);  // two tables
    // Generation 0 (1 individual, F 0.2) and 1 (2, F 0.5): (0.2 + 2 x 0.5) / 3 = 40 %.
    EXPECT_TRUE(has(html,
                    "<tr><td class=\"key\">0-1</td><td class=\"num\">3</td><td "
                    "class=\"num\">40.00</td>"));
    EXPECT_TRUE(has(html, "<tr><td class=\"key\">100</td><td class=\"num\">2</td>"));
}

// A run stopped after the statistics, before tracing (untraceable individuals marked for tracing):
// its stop told once, without a place where it has none, and the individuals to trace from the
// statistics where the traced pedigree's marked count is not known.
TEST(report_test, stopped_after_reading) {
    json s = finished_run();
    s["exit_status"] = 16;
    const std::string text =
        "1 of the individuals marked for tracing (2 individuals in all) cannot be traced back to "
        "PHGs within MAX_NIV=2 generations; they are listed in sel.txt.err6";
    s["stop"] = {{"file", nullptr},
                 {"line", nullptr},
                 {"column", nullptr},
                 {"text", text},
                 {"message", "kinstrom: error: " + text}};
    s["statistics"] = {{"individuals", 5}, {"to_trace", 2}};
    for (const char* part : {"traced", "coefficients", "cohorts"}) s[part] = nullptr;
    std::string html = kinstrom::report_html(s);
    EXPECT_TRUE(has(
        html, "<div class=\"stop\"><p><strong>The run stopped:</strong> " + text + "</p></div>\n"));
    EXPECT_EQ(occurrences(html, "cannot be traced back to PHGs within MAX_NIV=2"), 1u);
    EXPECT_TRUE(has(html,
                    "<div class=\"figure\"><div class=\"value\">2</div><div "
                    "class=\"label\">individuals to trace</div></div>\n"));
    EXPECT_TRUE(has(html,
                    "<div class=\"figure\"><div class=\"value\">\u2014</div><div "
                    "class=\"label\">individuals traced</div></div>\n"));
    EXPECT_FALSE(has(html, "marked for tracing</div>"));

    // A run stopped before the statistics: no count to show.
    s["statistics"] = nullptr;
    EXPECT_FALSE(has(kinstrom::report_html(s), "class=\"figures\""));

    // With the traced pedigree known, its marked count, even where the trace file held more.
    s = finished_run();
    s["statistics"] = {{"individuals", 20}, {"to_trace", 5}};
    html = kinstrom::report_html(s);
    EXPECT_TRUE(has(html,
                    "<div class=\"figure\"><div class=\"value\">4</div><div "
                    "class=\"label\">marked for tracing</div></div>\n"));
    EXPECT_FALSE(has(html, "individuals to trace</div>"));
}

}  // namespace
