// The HTML run report drawn from a run summary: escaping, stopped runs, grouping of many base
// populations, the cohort axis, and the same bytes for the same summary.
#include <gtest/gtest.h>

#include <string>

#include "report/report.hpp"

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
          {"above": 0, "up_to": 0.03125, "individuals": 1},
          {"above": 0.03125, "up_to": 0.0625, "individuals": 0},
          {"above": 0.0625, "up_to": 0.125, "individuals": 0},
          {"above": 0.125, "up_to": 0.25, "individuals": 0},
          {"above": 0.25, "up_to": 0.5, "individuals": 0},
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

TEST(report_test, charts_and_escaping) {
    json s = finished_run();
    s["inputs"][0]["name"] = "a<b>&\"c'.txt";
    std::string html = kinstrom::report_html(s);
    EXPECT_NE(html.find("<td>a&lt;b&gt;&amp;&quot;c&#39;.txt</td>"), std::string::npos);
    EXPECT_EQ(html.find("a<b>"), std::string::npos);

    for (const char* kind : {"inbreeding", "generations", "composition", "distribution"}) {
        EXPECT_EQ(occurrences(html, std::string("data-chart=\"") + kind + "\""), 1u) << kind;
        EXPECT_EQ(occurrences(html, std::string("data-table=\"") + kind + "\""), 1u) << kind;
    }
    // Two points per cohort for inbreeding, 3 segments per stacked bar, 7 distribution bars.
    EXPECT_EQ(occurrences(html, "class=\"mark\""), 2 * 2 + 2 + 3 * 2 + 7u);
    EXPECT_NE(
        html.find(
            "<td class=\"key\">(0, 1/32]</td><td class=\"num\">1</td><td class=\"num\">25.0</td>"),
        std::string::npos);
    EXPECT_NE(html.find("<tr class=\"found\">"), std::string::npos);  // error kind 2 has findings
    EXPECT_NE(html.find(">Birth year</text>"), std::string::npos);
    EXPECT_EQ(html.find(">Generation</text>"), std::string::npos);

    s["cohorts"]["by"] = "generation";
    html = kinstrom::report_html(s);
    EXPECT_NE(html.find(">Generation</text>"), std::string::npos);
    EXPECT_EQ(html.find("Birth year"), std::string::npos);
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
    EXPECT_NE(html.find("Stopped (exit status 16)"), std::string::npos);
    EXPECT_NE(html.find("kinstrom: p&lt;1&gt;.txt:7: error: the birth date 20261399 is not a date"),
              std::string::npos);
    EXPECT_NE(html.find("Inbreeding coefficients were not computed: the run stopped before it."),
              std::string::npos);
    EXPECT_EQ(html.find("<svg"), std::string::npos);

    // Inbreeding not computed: no inbreeding charts, the other two still drawn.
    s = finished_run();
    s["inbreeding"] = {{"computed", false}, {"reason", "INBREED is NO"}};
    s["coefficients"]["marked"]["distribution"] = nullptr;
    for (json& row : s["cohorts"]["rows"]) {
        row["inbreeding_mean"] = row["inbreeding_max"] = row["inbred_share"] = nullptr;
    }
    html = kinstrom::report_html(s);
    EXPECT_EQ(html.find("data-chart=\"inbreeding\""), std::string::npos);
    EXPECT_EQ(html.find("data-chart=\"distribution\""), std::string::npos);
    EXPECT_NE(html.find("data-chart=\"generations\""), std::string::npos);
    EXPECT_NE(html.find("data-chart=\"composition\""), std::string::npos);
    EXPECT_EQ(occurrences(html, "Inbreeding coefficients were not computed: INBREED is NO."), 3u);
}

TEST(report_test, many_base_populations) {
    // 500 populations: population j contributes in proportion to j + 1 (499 the largest), and
    // population "<0>" gets an extra 0.9 so that it comes first.
    json s = finished_run();
    json names = json::array();
    names.push_back("<0>");
    for (int j = 1; j < 500; ++j) names.push_back(std::string(1, 'P') += std::to_string(j));
    std::vector<double> c(500);
    double total = 0;
    for (int j = 0; j < 500; ++j) total += c[static_cast<std::size_t>(j)] = j + 1;
    for (double& v : c) v = v / total * 0.1;
    c[0] += 0.9;
    s["cohorts"]["base_populations"] = names;
    for (json& row : s["cohorts"]["rows"]) row["contributions"] = c;
    std::string html = kinstrom::report_html(s);

    EXPECT_NE(html.find("<th class=\"num\">&lt;0&gt;</th><th class=\"num\">P499</th>"
                        "<th class=\"num\">P498</th>"),
              std::string::npos);
    EXPECT_NE(html.find("<th class=\"num\">P494</th><th class=\"num\">Other</th>"),
              std::string::npos);
    EXPECT_EQ(html.find(">P493<"), std::string::npos);
    EXPECT_NE(html.find("Other 493 populations"), std::string::npos);
    EXPECT_NE(html.find("The 7 largest of 500 base populations are shown; the other 493 are "
                        "summed."),
              std::string::npos);
    // Other: 1 less the 7 shown, in %: 100 - (90 + 10 * (1 + 500 + 499 + ... + 495) / 125250).
    double shown = 0.9 + 0.1 * (1 + 500 + 499 + 498 + 497 + 496 + 495) / total;
    char other[32];
    std::snprintf(other, sizeof other, "<td class=\"num\">%.1f</td></tr>", (1 - shown) * 100);
    EXPECT_EQ(occurrences(html, other), 2u) << other;
    EXPECT_EQ(occurrences(html, "data-series=\"7\""), 2u);  // "other", one segment per cohort
    EXPECT_EQ(html.find("data-series=\"8\""), std::string::npos);
}

TEST(report_test, same_summary_same_bytes) {
    json s = finished_run();
    std::string first = kinstrom::report_html(s);
    EXPECT_EQ(first, kinstrom::report_html(json::parse(s.dump())));
    EXPECT_EQ(first.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_EQ(first.find("http"), std::string::npos);  // nothing from elsewhere
    EXPECT_EQ(first.find("<script"), std::string::npos);
}

}  // namespace
