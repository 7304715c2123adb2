// The listing's sections: their page bookkeeping.
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

}  // namespace
}  // namespace kinstrom
