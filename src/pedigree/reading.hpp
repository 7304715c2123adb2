// The reading phase: the breed-proportion file (two passes), the creation of the tables, the
// total pedigree file (two passes; the second links parents and checks every record), and the
// trace file.
//
// Writes: the tables and counts of Pedigree; records of error kinds 1, 2, 3, 4, 5 and 8 and
// their counters; PHG_ERRLIST (kind 7).
// Fatal stops: invalid input (ill_input, naming the file and record), a full table, an ID that
// cannot be stored, a table that cannot be allocated.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "diagnostics/diagnostics.hpp"
#include "input/bound.hpp"
#include "listing/listing.hpp"
#include "pedigree/errors.hpp"
#include "pedigree/pedigree.hpp"
#include "pedigree/store.hpp"

namespace kinstrom {

// DUMMY_PHG: the PHG given as both parents to inserted parents.
inline constexpr int64_t DUMMY_PHG = -9223372036854775807LL;
// SORT of a value below MIN_ACC_BD, and of an inserted parent.
inline constexpr int32_t SORT_UNKNOWN = -9999999;
inline constexpr int32_t SORT_INSERTED = -99999990;

// What to do about unknown parents coded 0 when PHGs have breed proportions.
inline constexpr const char* UNKNOWN_PARENTS_ADVICE =
    "give the pedigree's unknown parents negative PHG codes (e.g. one for each breed and birth "
    "year; with --table, --unknown CODE gives one to missing-value parents) and list those "
    "codes with their proportions in the breed-proportion file";

// What reading takes from the directives, and how far a compressed input may expand.
struct ReadOptions {
    int32_t MAX_A = 0;
    int32_t MAX_PHG = 0;
    int32_t N_BPOP = 0;
    int32_t MIN_ACC_BD = 1;
    int32_t MAX_ACC_BD = 0;
    std::array<int32_t, 2> ANE_MIN_DIFF{};  // sire, dam
    bool dob_check = false;
    bool use_bprop = false;  // a breed-proportion file is named
    InputBound input_bound;
};

// An input file: its name as resolved and its open stream (null for a named breed-proportion
// file that is not opened).
struct InputSource {
    std::string name;
    std::FILE* file = nullptr;
};

struct InputSources {
    InputSource ped;
    InputSource prob;
    InputSource bprop;
};

// The inputs read as tables, for the reading phase: the pedigree's records as numbers (text
// IDs numbered, parents of 0 and below PHG codes), the trace and breed-proportion files
// rewritten as free-format records line for line (a header line left empty), so that every
// line number stays that of the table.
struct TableRecords {
    int64_t ids = 0;  // the IDs are numbered 1..ids
    TableVector<int64_t> id, sire, dam;
    TableVector<int32_t> sort;
    std::string trace;
    std::string bprop;
};

// Warnings (records over a line end, breed proportions that do not sum to 1, nothing to trace,
// ...) go to `diagnostics`.
// With `table`, the records are taken from it instead of the files (its columns are used up).
void read_input(Listing& listing, const ReadOptions& options, const InputSources& inputs,
                ErrorFiles& errors, Pedigree& pedigree, Diagnostics& diagnostics,
                TableRecords* table = nullptr);

}  // namespace kinstrom
