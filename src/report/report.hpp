// The run report for a person: one self-contained HTML page (inline CSS and SVG, no script,
// nothing loaded from elsewhere, laid out for A4 print) drawn from the run summary, the document
// described by doc/summary.schema.json.
//
// Reads: the summary only; every document the schema allows is drawn (a stopped run's null parts,
// inbreeding not computed, no cohorts, many base populations). Writes: nothing; the caller writes
// the page. Raises no fatal stop. The same summary gives the same bytes.
//
// Charts (each an <svg class="chart" data-chart="KIND">, with a table of the same numbers right
// under it, <table data-table="KIND">): inbreeding, generations, composition and distribution;
// a chart without data is replaced by a sentence saying why.
//
// Sized to be read: with more than COHORT_GROUPS cohorts (birth years or generations), the
// tables and charts by cohort show groups of cohorts of equal width instead, each row giving its
// range ("1901-1903"), its individuals summed and its means and shares weighted by the
// individuals of its cohorts; the captions say so.
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>

namespace kinstrom {

inline constexpr std::size_t COHORT_GROUPS = 100;

// The rows of a summary's "cohorts", one at a time, each the JSON value the summary holds: a
// long table (a birth year for each of 200,000 animals) need not stand in memory as JSON values.
class CohortRows {
  public:
    virtual ~CohortRows() = default;
    virtual std::size_t size() const = 0;
    virtual nlohmann::ordered_json row(std::size_t i) const = 0;
};

// The report of a summary with its cohort rows in it.
std::string report_html(const nlohmann::ordered_json& summary);
// The same with the cohort rows apart: `rows` are the rows of the summary's "cohorts", whatever
// the document holds there.
std::string report_html(const nlohmann::ordered_json& summary, const CohortRows& rows);

}  // namespace kinstrom
