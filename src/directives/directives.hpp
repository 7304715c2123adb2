// The DIRECTIVES group: sixteen keys read from standard input, their defaults, the settings
// derived from them, and the echo and validation printed at start-up.
//
// Reads: standard input (up to the closing "/"). Writes: the listing.
// Fatal stops: the group cannot be read (1), an illegal OPT1 (3), rejected directives (4).
#pragma once

#include <array>
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "listing/listing.hpp"

namespace kinstrom {

// Widths of the text directives.
inline constexpr std::size_t FILE_NAME_WIDTH = 240;
inline constexpr std::size_t DOB_CHECK_WIDTH = 20;
inline constexpr std::size_t INBREED_WIDTH = 4;

// The directive values, named as the keys. Text values are held blank-padded to their widths.
struct Directives {
    int32_t MAX_NIV = 25;
    int32_t MAX_A = 10000000;
    int32_t MAX_PHG = 500;
    std::string PED_FILE;
    std::string PROB_FILE;
    std::string BPROP_FILE;
    int32_t N_BPOP = 0;
    int32_t OPT1 = 0;
    int32_t OPT2 = 0;
    int32_t GPRUNE = 0;
    std::string DOB_CHECK;
    int32_t MIN_ACC_BD = 1;
    int32_t MAX_ACC_BD = 2147483647;
    int32_t MIN_D_SBD = 1;
    int32_t MIN_D_DBD = 1;
    std::string INBREED;

    Directives();
};

// One directive in force: an integer or a text (without its trailing blanks).
struct DirectiveValue {
    std::string key;
    bool is_text = false;
    int64_t number = 0;
    std::string text;
};

// Every directive, in the order of the key table (the order of the echo).
std::vector<DirectiveValue> directive_values(const Directives& d);

// Cuts or blank-pads a text value to `width` characters.
std::string fixed_width(std::string_view value, std::size_t width);

// Why the group could not be read: where, the key concerned and a sentence for the breeder
// saying what is wrong and what to do.
struct DirectiveProblem {
    int32_t line = 0;  // line number within standard input, from 1; 0 when not known
    std::string key;   // the key as written, may be empty
    std::string text;  // a complete sentence for a breeder: what is wrong and what to do
    std::vector<std::string> file_names;  // PED_FILE, PROB_FILE, BPROP_FILE as read so far
};

// Reads the DIRECTIVES group from `in` into `d` (keys absent from the group keep their
// values); false on a read failure: no group, an unknown key, a value that does not fit its
// key's type, or the end of input before the closing "/". On a failure `d` is unchanged and
// `problem`, when given, tells what went wrong and the file names read up to there (line 0 when no
// group was found and no line starts with "&").
bool read_directives(std::istream& in, Directives& d, DirectiveProblem* problem = nullptr);

// Sentences on values that are accepted but probably not meant: INBREED that starts with Y or
// y (after leading blanks) but is not exactly YES, so no inbreeding is computed.
std::vector<std::string> directive_warnings(const Directives& d);

// Settings derived from the directives.
struct Settings {
    bool dob_check = false;      // the sort variable is a birth date yyyymmdd
    bool use_bprop = false;      // a breed-proportion file is named
    bool inbreed = false;        // INBREED is "YES"
    bool contributions = false;  // OPT1 = 2: breed contributions and heterozygosity
    bool renumbered = false;     // OPT2 = 2: .PED and .PRUNE with renumbered IDs

    // .PHG_RENUM, the PHGs' codes in the renumbered files, goes with either option.
    bool phg_renumbering() const { return contributions || renumbered; }
    std::array<int32_t, 2> ANE_MIN_DIFF{};  // minimum age in days of sire (0) and dam (1)
};

// Frees DOB_CHECK of its leading blanks, derives the birth-date flag, MAX_ACC_BD and
// ANE_MIN_DIFF.
void derive_birth_date_mode(Directives& d, const RunDate& date, Settings& s);

// The environment variables that steer the path prefix of input names.
struct Environment {
    std::string PBS_O_WORKDIR;  // freed of leading blanks; empty when unset
    std::string SASROOT;
    unsigned threads = 0;         // KINSTROM_THREADS (1 to 64); 0 when unset or not such a number
    std::string threads_ignored;  // KINSTROM_THREADS when set to something else

    static Environment read();
};

// Input names as resolved and the base of every output name.
struct FileNames {
    std::string ped;
    std::string prob;
    std::string bprop;  // empty when no breed-proportion file is used
};

// Resolves an input name (already freed of leading blanks) against the batch working directory.
std::string resolve_name(std::string_view name, const Environment& env);

// Prints the echo of the directives, validates them and resolves the input names; completes
// OPT1, OPT2, GPRUNE and MIN_ACC_BD and sets the flags of `s` that follow from them. Throws
// FatalStop on an illegal OPT1 or rejected directives, its cause the reason as a sentence (the
// reasons joined by "; " when several directives are rejected).
void echo_directives(Listing& listing, Directives& d, Settings& s, const Environment& env,
                     FileNames& names);

}  // namespace kinstrom
