// The listing's sections: their page bookkeeping.
#include <gtest/gtest.h>

#include "capture.hpp"

#include "sections/closing.hpp"

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

}  // namespace
}  // namespace kinstrom
