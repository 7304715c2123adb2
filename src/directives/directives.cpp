#include "directives/directives.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <limits>
#include <utility>

namespace kinstrom {

namespace {

constexpr int32_t INT32_TOP = std::numeric_limits<int32_t>::max();

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}
bool is_separator(char c) {
    return is_blank(c) || c == ',';
}
bool is_key_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}
char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equal_nocase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

// Where a key's value goes.
struct Key {
    std::string_view name;
    int32_t Directives::*integer;
    std::string Directives::*text;
    std::size_t width;
};

constexpr Key KEYS[] = {
    {"MAX_NIV", &Directives::MAX_NIV, nullptr, 0},
    {"MAX_A", &Directives::MAX_A, nullptr, 0},
    {"MAX_PHG", &Directives::MAX_PHG, nullptr, 0},
    {"PED_FILE", nullptr, &Directives::PED_FILE, FILE_NAME_WIDTH},
    {"PROB_FILE", nullptr, &Directives::PROB_FILE, FILE_NAME_WIDTH},
    {"BPROP_FILE", nullptr, &Directives::BPROP_FILE, FILE_NAME_WIDTH},
    {"N_BPOP", &Directives::N_BPOP, nullptr, 0},
    {"OPT1", &Directives::OPT1, nullptr, 0},
    {"OPT2", &Directives::OPT2, nullptr, 0},
    {"GPRUNE", &Directives::GPRUNE, nullptr, 0},
    {"DOB_CHECK", nullptr, &Directives::DOB_CHECK, DOB_CHECK_WIDTH},
    {"MIN_ACC_BD", &Directives::MIN_ACC_BD, nullptr, 0},
    {"MAX_ACC_BD", &Directives::MAX_ACC_BD, nullptr, 0},
    {"MIN_D_SBD", &Directives::MIN_D_SBD, nullptr, 0},
    {"MIN_D_DBD", &Directives::MIN_D_DBD, nullptr, 0},
    {"INBREED", nullptr, &Directives::INBREED, INBREED_WIDTH},
};

const Key* find_key(std::string_view name) {
    for (const Key& key : KEYS)
        if (equal_nocase(key.name, name)) return &key;
    return nullptr;
}

// The fewest single-character insertions, deletions and changes that turn one key into the
// other, without regard to case.
std::size_t edit_distance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            const std::size_t change = diagonal + (upper(a[i - 1]) != upper(b[j - 1]) ? 1 : 0);
            row[j] = std::min({change, above + 1, row[j - 1] + 1});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// "A", "A or B", "A, B or C".
std::string one_of(const std::vector<std::string_view>& names, std::string_view last_joint) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += i + 1 == names.size() ? last_joint : std::string_view(", ");
        out += names[i];
    }
    return out;
}

// The unknown key and the closest known keys, or all known keys when none is close.
std::string unknown_key_text(std::string_view written) {
    const std::size_t close = std::clamp<std::size_t>(written.size() / 3, 1, 3);
    std::size_t best = close + 1;
    std::vector<std::string_view> nearest, all;
    for (const Key& key : KEYS) {
        all.push_back(key.name);
        const std::size_t distance = edit_distance(written, key.name);
        if (distance < best) nearest.clear(), best = distance;
        if (distance == best) nearest.push_back(key.name);
    }
    const std::string head = "unknown key " + std::string(written);
    if (!nearest.empty()) return head + "; did you mean " + one_of(nearest, " or ") + "?";
    return head + "; the known keys are " + one_of(all, " and ");
}

// Reads the group line by line; `pos` indexes the current line, `line_no` counts the lines read.
class GroupReader {
  public:
    explicit GroupReader(std::istream& in) : in_(in) {}

    bool read(Directives& d) {
        if (!find_opening()) {
            const std::string none = "no &DIRECTIVES group found on standard input";
            if (near_line_ == 0)
                return fail(0, "",
                            none +
                                "; the directives are read from standard input, e.g. "
                                "kinstrom < directives");
            return fail(near_line_, "",
                        none + "; line " + std::to_string(near_line_) + " starts with " + near_ +
                            ", which does not open it: write &DIRECTIVES followed by a "
                            "blank, a comma or /");
        }
        const int32_t opening = line_no_;
        for (;;) {
            if (!skip_separators())
                return fail(line_no_, "",
                            "the &DIRECTIVES group opened on line " + std::to_string(opening) +
                                " is not closed by / before the end of input; end the group "
                                "with /");
            const char c = line_[pos_];
            if (c == '/') return true;
            if (!is_key_char(c))
                return fail(line_no_, "",
                            "found " + found() +
                                " where a key or the closing / was expected; write KEY=value "
                                "assignments separated by commas and end the group with /");
            const std::size_t start = pos_;
            while (pos_ < line_.size() && is_key_char(line_[pos_])) ++pos_;
            const std::string written = line_.substr(start, pos_ - start);
            const Key* key = find_key(written);
            if (key == nullptr) return fail(line_no_, written, unknown_key_text(written));
            skip_blanks();
            if (at_end() || line_[pos_] != '=')
                return fail(line_no_, written,
                            "expected = after " + written + ", found " +
                                (at_end() ? std::string("the end of the line") : found()) +
                                "; write " + std::string(key->name) + "=value");
            ++pos_;
            skip_blanks();
            if (at_end() || is_separator(line_[pos_]) || (line_[pos_] == '/' && !text_after(*key)))
                return fail(line_no_, written,
                            "no value after " + written + "=; write " +
                                (key->integer != nullptr ? "a whole number"
                                                         : "a text quoted with ' or \"") +
                                " right after the =, on the same line");
            const bool ok = key->integer != nullptr ? read_integer(written, d.*(key->integer))
                                                    : read_text(*key, written, d.*(key->text));
            if (!ok) return false;
            if (!at_end() && !is_separator(line_[pos_]) && line_[pos_] != '/')
                return fail(line_no_, written,
                            "found " + found() + " right after the value of " + written +
                                "; separate the assignments by commas or blanks");
        }
    }

    const DirectiveProblem& problem() const { return problem_; }

  private:
    bool next_line() {
        if (!std::getline(in_, line_)) return false;
        ++line_no_;
        pos_ = 0;
        return true;
    }
    bool at_end() const { return pos_ >= line_.size(); }
    void skip_blanks() {
        while (!at_end() && is_blank(line_[pos_])) ++pos_;
    }

    // A text key whose value starts with '/' and goes on: an unquoted path, not the closing.
    bool text_after(const Key& key) const {
        return key.text != nullptr && pos_ + 1 < line_.size() && !is_separator(line_[pos_ + 1]);
    }

    // Records the problem; false.
    bool fail(int32_t line, std::string key, std::string text) {
        problem_ = {line, std::move(key), std::move(text), {}};
        return false;
    }

    // The characters from pos_ up to a separator, or up to '/' too when `slash_ends`.
    std::string_view token(bool slash_ends) const {
        std::size_t end = pos_;
        while (end < line_.size() && !is_separator(line_[end]) &&
               !(slash_ends && line_[end] == '/'))
            ++end;
        return std::string_view(line_).substr(pos_, end - pos_);
    }
    // What stands at pos_, quoted and cut for a message.
    std::string found() const {
        constexpr std::size_t SHOWN = 30;
        const std::string_view t = token(false);
        return '"' + std::string(t.substr(0, SHOWN)) + (t.size() > SHOWN ? "...\"" : "\"");
    }

    // Skips lines up to the one that opens the group; leaves pos_ after the group name.
    bool find_opening() {
        constexpr std::string_view NAME = "DIRECTIVES";
        while (next_line()) {
            skip_blanks();
            if (at_end() || line_[pos_] != '&') continue;
            const std::size_t amp = pos_;
            const std::size_t name = pos_ + 1;
            if (line_.size() - name >= NAME.size() &&
                equal_nocase(std::string_view(line_).substr(name, NAME.size()), NAME)) {
                pos_ = name + NAME.size();
                if (at_end() || is_separator(line_[pos_]) || line_[pos_] == '/') return true;
            }
            if (near_line_ == 0) {  // the first line that looks like an opening, for the problem
                pos_ = amp;
                near_line_ = line_no_;
                near_ = found();
            }
        }
        return false;
    }

    // Moves to the next character that is not a separator, across line ends.
    bool skip_separators() {
        for (;;) {
            while (!at_end() && is_separator(line_[pos_])) ++pos_;
            if (!at_end()) return true;
            if (!next_line()) return false;
        }
    }

    // A decimal integer with an optional sign, up to a separator or '/'.
    bool read_integer(const std::string& written, int32_t& out) {
        const std::string_view value = token(true);
        const std::string_view digits = value.substr(value[0] == '+' || value[0] == '-' ? 1 : 0);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
            return fail(line_no_, written,
                        written + " takes a whole number, found " + std::string(value) +
                            "; write a whole number without quotes, decimals or exponent");
        const char* first = value.data() + (value[0] == '+' ? 1 : 0);
        int32_t number = 0;
        if (std::from_chars(first, value.data() + value.size(), number).ec != std::errc())
            return fail(line_no_, written,
                        written + "=" + std::string(value) +
                            " is outside the range -2147483648 to 2147483647; give a value "
                            "within it");
        pos_ += value.size();
        out = number;
        return true;
    }

    bool read_text(const Key& key, const std::string& written, std::string& out) {
        const char quote = line_[pos_];
        if (quote != '\'' && quote != '"') {
            std::string_view value = token(false);
            if (value.size() > 1 && value.back() == '/') value.remove_suffix(1);
            return fail(line_no_, written,
                        written + "=" + std::string(value) +
                            " is not quoted; texts are quoted with ' or \", e.g. " +
                            std::string(key.name) + "='" + std::string(value) + "'");
        }
        const int32_t opening = line_no_;
        ++pos_;
        std::string value;
        for (;;) {
            if (at_end()) {
                if (next_line()) continue;  // a quoted value continues on the next line
                return fail(opening, written,
                            "the text of " + written + " opened with " + quote +
                                " never ends; close it with " + quote + " (a doubled " + quote +
                                " stands for the quote itself)");
            }
            const char c = line_[pos_++];
            if (c != quote) {
                value += c;
            } else if (!at_end() && line_[pos_] == quote) {
                value += quote;
                ++pos_;
            } else {
                break;
            }
        }
        out = fixed_width(value, key.width);
        return true;
    }

    std::istream& in_;
    std::string line_;
    std::size_t pos_ = 0;
    int32_t line_no_ = 0;
    int32_t near_line_ = 0;  // the first line starting with '&' that does not open the group
    std::string near_;       // how that line starts
    DirectiveProblem problem_;
};

// Formatted line: text directly followed by an integer right-justified in 10 columns.
void text_and_number(Listing& listing, std::string_view text, int32_t n) {
    listing.row(Row().text(text).integer(n, 10));
    listing.count();
}

// Formatted line holding text only.
void formatted(Listing& listing, std::string_view text) {
    listing.row(Row().text(text));
    listing.count();
}

// Free-format lines.
void free_text(Listing& listing, std::string_view text) {
    listing.text(text);
    listing.count();
}
void free_blank(Listing& listing) {
    free_text(listing, " ");
}
void free_label(Listing& listing, std::string_view label, int32_t n) {
    listing.label_number(label, n);
    listing.count();
}

// The name freed of leading blanks and resolved; empty when blank.
std::string resolved(std::string_view name, const Environment& env) {
    const std::string_view trimmed = trim_trailing(trim_leading(name));
    return trimmed.empty() ? std::string() : resolve_name(trimmed, env);
}

}  // namespace

Directives::Directives()
    : PED_FILE(fixed_width("TOTAL_PEDIGREE", FILE_NAME_WIDTH)),
      PROB_FILE(fixed_width("PROB", FILE_NAME_WIDTH)),
      BPROP_FILE(fixed_width("", FILE_NAME_WIDTH)),
      DOB_CHECK(fixed_width("No", DOB_CHECK_WIDTH)),
      INBREED(fixed_width("NO", INBREED_WIDTH)) {}

std::string fixed_width(std::string_view value, std::size_t width) {
    std::string out(value.substr(0, width));
    out.resize(width, ' ');
    return out;
}

bool read_directives(std::istream& in, Directives& d, DirectiveProblem* problem) {
    Directives read = d;
    GroupReader reader(in);
    if (!reader.read(read)) {
        if (problem != nullptr) {
            *problem = reader.problem();
            problem->file_names = {read.PED_FILE, read.PROB_FILE, read.BPROP_FILE};
        }
        return false;
    }
    d = read;
    return true;
}

std::vector<std::string> directive_warnings(const Directives& d) {
    std::vector<std::string> warnings;
    const std::string_view inbreed = trim_leading(d.INBREED);
    if (!inbreed.empty() && upper(inbreed[0]) == 'Y' && d.INBREED != "YES ") {
        const std::string given = std::string(trim_trailing(d.INBREED));
        warnings.push_back("INBREED='" + given +
                           "' is not 'YES': no inbreeding coefficients will be computed; write "
                           "INBREED='YES' to compute them");
    }
    return warnings;
}

void derive_birth_date_mode(Directives& d, const RunDate& date, Settings& s) {
    d.DOB_CHECK = fixed_width(trim_leading(d.DOB_CHECK), DOB_CHECK_WIDTH);
    s.dob_check = d.DOB_CHECK[0] == 'Y' || d.DOB_CHECK[0] == 'y';
    if (!s.dob_check) {
        d.MAX_ACC_BD = INT32_TOP;
    } else if (d.MAX_ACC_BD == INT32_TOP) {
        d.MAX_ACC_BD = date.year * 10000 + date.month * 100 + date.day;
    }
    s.ANE_MIN_DIFF = {d.MIN_D_SBD, d.MIN_D_DBD};
}

Environment Environment::read() {
    Environment env;
    const auto get = [](const char* name) {
        const char* value = std::getenv(name);
        return value == nullptr ? std::string() : std::string(trim_leading(value));
    };
    env.PBS_O_WORKDIR = get("PBS_O_WORKDIR");
    env.SASROOT = get("SASROOT");
    if (const char* t = std::getenv("KINSTROM_THREADS"); t != nullptr && *t != '\0') {
        char* end = nullptr;
        errno = 0;
        const long n = std::strtol(t, &end, 10);
        if (end != t && *end == '\0' && errno == 0 && n >= 1 && n <= 64)
            env.threads = static_cast<unsigned>(n);
        else
            env.threads_ignored = t;
    }
    return env;
}

std::string resolve_name(std::string_view name, const Environment& env) {
    const std::string_view workdir = trim_trailing(env.PBS_O_WORKDIR);
    const bool prefix = !workdir.empty() && trim_trailing(env.SASROOT).empty() &&
                        (name.empty() || name.front() != '/');
    std::string out;
    if (prefix) {
        out.append(workdir);
        out += '/';
    }
    out.append(trim_trailing(name));
    return out;
}

namespace {

// The names of the pedigree and trace files; a missing one adds to `reasons`.
void echo_file_names(Listing& listing, const Directives& d, const Environment& env,
                     FileNames& names, std::vector<std::string>& reasons) {
    names.ped = resolved(d.PED_FILE, env);
    if (names.ped.empty()) {
        formatted(listing, "No total pedigree file specified........ ");
        reasons.push_back(
            "no pedigree file is named (PED_FILE is blank): name it, e.g. PED_FILE='ped.txt'");
    } else {
        formatted(listing, "Name of pedigree file .................. " + names.ped);
    }

    names.prob = resolved(d.PROB_FILE, env);
    if (names.prob.empty()) {
        formatted(listing, "No file with individuals to trace        ");
        reasons.push_back(
            "no file of individuals to trace is named (PROB_FILE is blank): name it, e.g. "
            "PROB_FILE='sel.txt'");
    } else {
        formatted(listing, "Name of file with individuals to trace . " + names.prob);
    }
    free_blank(listing);
}

// OPT1 (an illegal value stops the run at once), OPT2, GPRUNE and INBREED; rejected values add
// to `reasons`.
void echo_options(Listing& listing, Directives& d, Settings& s, std::vector<std::string>& reasons) {
    if (d.OPT1 > 0) {
        text_and_number(listing, "Option 1 specified.......................", d.OPT1);
    } else {
        d.OPT1 = 1;
    }
    if (d.OPT1 == 1) {
        formatted(listing, "(Trace only)");
    } else if (d.OPT1 == 2) {
        formatted(listing, "(Trace + breed proportions + heterozygosity)");
    } else {
        fatal_stop(listing,
                   {"but only 1 or 2 is legal options         ",
                    "1 -> trace only                          ",
                    "2 -> trace + breed proportions + heterozygosity"},
                   StopEnd::program_terminates,
                   {{},
                    0,
                    0,
                    "OPT1=" + std::to_string(d.OPT1) +
                        " is not allowed: use 1 (trace only) or 2 (trace, breed proportions and "
                        "heterozygosity)"});
    }
    free_blank(listing);

    if (d.OPT2 > 0) {
        text_and_number(listing, "Option 2 specified.......................", d.OPT2);
    } else {
        d.OPT2 = 1;
    }
    if (d.OPT2 == 1) {
        formatted(listing, "(Using original ID's)");
    } else if (d.OPT2 == 2) {
        formatted(listing, "(Using renumbered ID's)");
    } else {
        formatted(listing, "but only 1 or 2 is legal options         ");
        formatted(listing, "1 -> Using original ID's                  ");
        formatted(listing, "2 -> Using renumbered ID's                ");
        reasons.push_back("OPT2=" + std::to_string(d.OPT2) +
                          " is not allowed: use 1 (output files with original IDs) or 2 (with "
                          "renumbered IDs)");
    }

    if (d.GPRUNE == 0) {
        // One generation beyond the deepest traced; at the top of the range every
        // generation is kept anyway.
        d.GPRUNE = d.MAX_NIV == INT32_TOP ? INT32_TOP : d.MAX_NIV + 1;
    } else if (d.GPRUNE <= d.MAX_NIV) {
        free_blank(listing);
        text_and_number(listing, "Pruning to max. generation back from data", d.GPRUNE);
    } else {
        free_blank(listing);
        text_and_number(listing, "Pruning to max. generation back from data: ", d.GPRUNE);
        text_and_number(listing, "But max. no. of generation to look back is:", d.MAX_NIV);
        reasons.push_back("GPRUNE=" + std::to_string(d.GPRUNE) +
                          " is above MAX_NIV=" + std::to_string(d.MAX_NIV) +
                          ": set GPRUNE at most MAX_NIV or raise MAX_NIV");
    }

    s.inbreed = d.INBREED == "YES ";
    if (s.inbreed) {
        free_blank(listing);
        formatted(listing, "Computation of inbreeding coefficent");
    }
}

void echo_breed_proportions(Listing& listing, const Directives& d, const Environment& env,
                            Settings& s, FileNames& names) {
    names.bprop = resolved(d.BPROP_FILE, env);
    s.use_bprop = !names.bprop.empty();
    if (s.use_bprop) {
        free_blank(listing);
        formatted(listing, "Name of file with proportions in PHG's .." + names.bprop);
        if (d.N_BPOP == 0) {
            free_blank(listing);
            formatted(listing, "A file with base population (breed) proportions in PHG's");
            formatted(listing, "is specified, but no. of base poppulation is not specified.");
        } else {
            text_and_number(listing, "No. of base populations .................", d.N_BPOP);
        }
    }
}

void echo_sort_variable(Listing& listing, Directives& d, const Settings& s) {
    free_blank(listing);
    free_text(listing, "The sort variable (column no, 4) in the total pedigree file");
    if (s.dob_check) {
        free_text(listing, "is assumed to be day of birth is yyyymmdd format");
        free_blank(listing);
        free_label(listing, "Smallest accepted day of birth:           ", d.MIN_ACC_BD);
        free_text(listing, "(Values smaller is assumed unknown and not used for)");
        free_text(listing, " checking age differences between progeny and parent)");
        free_blank(listing);
        free_label(listing, "Largest accepted day of birth:            ", d.MAX_ACC_BD);
        free_text(listing, "(Animals with day of birth larger is written to an error file)");
        free_blank(listing);
        free_text(listing, "Minimum number of days between day of birth and: ");
        free_label(listing, "   Sire (ane no. 1) day of birth:  ", d.MIN_D_SBD);
        free_label(listing, "   Dam (ane no. 2) day of birth :  ", d.MIN_D_DBD);
        free_blank(listing);
        free_blank(listing);
    } else {
        free_text(listing, "is assumed to be an integer number with a value");
        free_text(listing, "larger then the sort variable of any of its parents");
        free_blank(listing);
        free_text(listing, "A sort variable value <= 0 is assumed to be unknown");
        free_text(listing, "and is not used in checking sort variables");
        free_blank(listing);
        d.MIN_ACC_BD = 1;
    }
}

}  // namespace

void echo_directives(Listing& listing, Directives& d, Settings& s, const Environment& env,
                     FileNames& names) {
    std::vector<std::string> reasons;
    echo_file_names(listing, d, env, names, reasons);
    echo_options(listing, d, s, reasons);
    if (!reasons.empty()) {
        StopCause cause;
        for (const std::string& reason : reasons)
            cause.text += (cause.text.empty() ? "" : "; ") + reason;
        fatal_stop(listing, {" ", "Error(s) found in the directive file"},
                   StopEnd::program_terminates, std::move(cause));
    }

    s.contributions = d.OPT1 == 2;
    s.renumbered = d.OPT2 == 2;
    echo_breed_proportions(listing, d, env, s, names);
    echo_sort_variable(listing, d, s);
}

std::vector<DirectiveValue> directive_values(const Directives& d) {
    std::vector<DirectiveValue> values;
    for (const Key& key : KEYS) {
        const std::string name(key.name);
        if (key.text != nullptr) {
            values.push_back({name, true, 0, std::string(trim_trailing(d.*key.text))});
        } else {
            values.push_back({name, false, d.*key.integer, {}});
        }
    }
    return values;
}

}  // namespace kinstrom
