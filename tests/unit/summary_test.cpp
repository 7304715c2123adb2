// The summary's JSON text written piece by piece, its cohort rows given apart one at a time,
// against the whole document dumped at once: the same bytes.
#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>

#include "summary/summary.hpp"

namespace {

using json = nlohmann::ordered_json;

class Rows final : public kinstrom::CohortRows {
  public:
    explicit Rows(json rows) : rows_(std::move(rows)) {}
    std::size_t size() const override { return rows_.size(); }
    json row(std::size_t i) const override { return rows_[i]; }

  private:
    json rows_;
};

// The document without the cohorts' rows, and the rows apart.
kinstrom::Summary apart(const json& whole) {
    kinstrom::Summary s{whole, nullptr};
    if (whole["cohorts"].is_object()) {
        s.document["cohorts"].erase("rows");
        s.rows = std::make_shared<Rows>(whole["cohorts"]["rows"]);
    }
    return s;
}

TEST(summary_test, text_in_pieces_is_the_document_dumped) {
    json whole = json::parse(R"({
  "format": "kinstrom-summary", "exit_status": 0, "stop": null, "phases": [],
  "warnings": {"messages": [], "kinds": [{"kind": "a \"b\"\t", "count": 7, "shown": 5}]},
  "inputs": [{"role": "pedigree", "name": "", "bytes": null}], "statistics": {},
  "cohorts": {"by": "birth_year", "without_cohort": 2, "base_populations": ["1", "-2"],
    "rows": [{"cohort": 1901, "individuals": 3, "inbreeding_mean": 0.1, "inbred_share": 1e-05,
              "contributions": [0.25, 0.75]},
             {"cohort": 1903, "individuals": 1, "inbreeding_mean": null,
              "inbred_share": 0.3333333333333333, "contributions": [1.0, 0.0]}]},
  "untraceable": ["loop"]
})");
    whole["inputs"][0]["name"] = "M\xfcller.txt";  // not UTF-8: U+FFFD in both
    whole["cohorts"]["rows"][1]["contributions"][0] = std::numeric_limits<double>::infinity();
    const auto dumped = [](const json& doc) {
        return doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
    };
    EXPECT_EQ(kinstrom::summary_text(apart(whole)), dumped(whole));
    whole["cohorts"]["rows"] = json::array();
    EXPECT_EQ(kinstrom::summary_text(apart(whole)), dumped(whole));
    whole["cohorts"] = nullptr;
    EXPECT_EQ(kinstrom::summary_text(apart(whole)), dumped(whole));

    // A write that fails ends the text there.
    int writes = 0;
    EXPECT_FALSE(
        kinstrom::write_summary_text(apart(whole), [&](std::string_view) { return ++writes < 3; }));
    EXPECT_EQ(writes, 3);
}

}  // namespace
