// The run driver: one run is one pass through the fixed phase order, from the first page
// heading to "EOJ".
//
// Reads: standard input (directives), the environment, the input files.
// Writes: the listing, the error and output files.
// Returns the exit status: 0 at normal end, 16 after a fatal stop.
#pragma once

#include <cstdint>
#include <cstdio>
#include <istream>
#include <vector>

namespace kinstrom {

// P_HALVE: entry g holds 0.5 to the power g for g = 0 .. MAX_NIV. Entries past the last one
// stored are exactly 0 in double precision and are not stored.
class HalvingTable {
  public:
    explicit HalvingTable(int32_t max_niv);
    double operator[](int32_t g) const {
        return static_cast<std::size_t>(g) < values_.size() ? values_[static_cast<std::size_t>(g)]
                                                            : 0.0;
    }
    int32_t max_niv() const { return max_niv_; }

  private:
    std::vector<double> values_;
    int32_t max_niv_;
};

// Runs the program with the directives on `in` and the listing on `out`.
int run(std::istream& in, std::FILE* out);

}  // namespace kinstrom
