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
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace kinstrom {

std::string report_html(const nlohmann::ordered_json& summary);

}  // namespace kinstrom
