// The listing's sections: their page bookkeeping, and the error reports with text IDs.
#include <gtest/gtest.h>

#include "capture.hpp"

#include "sections/closing.hpp"
#include "sections/error_reports.hpp"

namespace kinstrom {
namespace {

// The description of the output files starts a new page when more than 53 lines are used.
TEST(PageHeading, OutputDescriptionAfterLine53) {
    for (const int32_t used : {53, 54}) {
        CapturedListing out;
        out.listing.count(used);
        describe_output_files(out.listing, OutputOptions{}, "sel.txt", OutputResults{});
        EXPECT_EQ(out.text().rfind("1Kinstrom ver. 2", 0) == 0, used == 54) << used;
    }
}

// The ERROR/WARNINGS heading starts a new page when more than 30 lines are used.
TEST(PageHeading, ErrorHeadingAfterLine30) {
    for (const int32_t used : {30, 31}) {
        Scratch s;
        ErrorFiles errors;
        for (int kind = 1; kind <= ERROR_KINDS; ++kind)
            errors.file(kind).open(s.listing, s.path("sel.err" + std::to_string(kind)), true);
        errors.not_in_pedigree(1, 1001);  // one individual to trace not in the pedigree
        errors.ERROR[5] = 1;
        s.listing.count(used);
        report_input_errors(s.listing, {}, Pedigree{}, errors);
        const std::string text = s.text();
        EXPECT_EQ(text.rfind("1Kinstrom ver. 2", 0) == 0, used == 31) << used;
        EXPECT_NE(text.find("ERROR/WARNINGS"), std::string::npos) << used;
    }
}

// With text IDs an error file holds the texts (PHG codes stay integers) in fields widened to
// the longest text, and its report shows them in widened columns with the titles moved along.
TEST(ErrorReports, TextIdsRoundTrip) {
    Scratch s;
    IdTexts ids;
    const std::string longest = "HERD_0001_ANIMAL_000042";  // 23 characters
    ids.add(longest);
    ids.add("B7");
    ErrorFiles errors;
    errors.ids = &ids;
    for (int kind = 1; kind <= ERROR_KINDS; ++kind)
        errors.file(kind).open(s.listing, s.path("sel.err" + std::to_string(kind)), true);
    errors.inconsistent(3, 1, 2, -1);  // individual 1, sire 2, dam the PHG -1
    errors.ERROR[4] = 1;
    report_input_errors(s.listing, {}, Pedigree{}, errors);
    // Files: a blank and the obs. number's 12 columns, then IDs in 22 columns widened to the
    // longest text and two blanks; the listing: 20 columns widened to it and one blank.
    const auto right = [](const std::string& t, std::size_t width) {
        return std::string(width - t.size(), ' ') + t;
    };
    EXPECT_EQ(s.contents("sel.err4"),
              right("3", 1 + 12) + right(longest, 25) + right("B7", 25) + right("-1", 25) + "\n");
    const std::string text = s.text();
    EXPECT_NE(text.find("\n " + right("3", 8) + right(longest, 24) + right("B7", 24) +
                        right("-1", 24) + "\n"),
              std::string::npos);
    EXPECT_NE(text.find("\n Obs. no." + right("ID", 19) + right("Sire ID", 24) +
                        right("Dam ID", 24) + "\n"),
              std::string::npos);
    const std::string dashes(23, '-');
    EXPECT_NE(text.find("\n -------- " + dashes + " " + dashes + " " + dashes + "\n"),
              std::string::npos);
}

}  // namespace
}  // namespace kinstrom
