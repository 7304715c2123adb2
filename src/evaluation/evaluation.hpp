// The evaluation pedigree: the traced pedigree as genetic-evaluation programs read it. One line
// per individual, the individuals coded 1..n parents first, unknown parents 0 or, with genetic
// groups, the codes n+1..n+g of their PHGs.
//
// Code order: generation number (the longest line back to the PHGs; 0 for an individual whose
// parents are PHGs), then sort variable, then position; every parent's code is therefore below
// its offspring's, whatever the order of the pedigree file.
//
// Reads XLIST (TRACED, MARKED, parents, SORT), PHG_LIST, F, and the known generations and
// traced order of the genetics phase; changes nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "genetics/genetics.hpp"
#include "pedigree/pedigree.hpp"

namespace kinstrom {

struct EvaluationOptions {
    std::string file;          // empty: no evaluation pedigree
    bool groups = false;       // PHG parents get group codes n+1..n+g instead of 0
    int32_t generations = -1;  // -1: every traced individual; N: the listed ones and their
                               // ancestors up to N generations back along the shortest line
};

struct EvaluationCodes {
    std::vector<int32_t> order;       // positions of the individuals written, in code order
    std::vector<int32_t> code;        // code by XLIST position, 0 for one not written
    std::vector<int32_t> group;       // group code by PHG_LIST position, 0 for none
    std::vector<int64_t> group_phgs;  // PHG code of group code n+1, n+2, ...
    int32_t individuals() const { return static_cast<int32_t>(order.size()); }
};

// What the run tells of its evaluation pedigree (the run summary).
struct EvaluationResult {
    EvaluationOptions options;
    std::vector<std::string> columns;  // once the file is laid out
    int32_t individuals = -1;          // n, -1 until the individuals are coded
    std::vector<int64_t> group_phgs;   // PHG code of group code n+1, n+2, ...
    bool written = false;              // the file is there, whole
};

EvaluationCodes evaluation_codes(const Pedigree& pedigree, const TracedOrder& traced,
                                 const EvaluationOptions& options);

// The names of the columns, in their order; the inbreeding coefficient only when computed.
std::vector<std::string> evaluation_columns(bool inbreeding);

// What standard error notes of a file laid out: "evaluation pedigree of 13 individuals (codes 1
// to 13) and 4 genetic groups (codes 14 to 17); columns: code sire_code ...".
std::string evaluation_description(const EvaluationResult& result);

// Lays out the lines in code order and hands them to `write` in pieces of about 4 MiB; false
// as soon as `write` is. With `overlap`, a second thread writes each piece while the next is
// laid out.
bool write_evaluation_pedigree(const Pedigree& pedigree, const EvaluationCodes& codes,
                               const std::vector<float>& K_GEN, bool inbreeding, bool overlap,
                               const std::function<bool(std::string_view)>& write);

}  // namespace kinstrom
