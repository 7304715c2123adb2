#include "run/directives.hpp"

#include <charconv>
#include <cstdlib>
#include <limits>

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

// Reads the group line by line; `pos` indexes the current line.
class GroupReader {
  public:
    explicit GroupReader(std::istream& in) : in_(in) {}

    bool read(Directives& d) {
        if (!find_opening()) return false;
        for (;;) {
            if (!skip_separators()) return false;  // end of input inside the group
            const char c = line_[pos_];
            if (c == '/') return true;
            if (!is_key_char(c)) return false;
            const std::size_t start = pos_;
            while (pos_ < line_.size() && is_key_char(line_[pos_])) ++pos_;
            const Key* key = find_key(std::string_view(line_).substr(start, pos_ - start));
            if (key == nullptr) return false;
            skip_blanks();
            if (at_end() || line_[pos_] != '=') return false;
            ++pos_;
            skip_blanks();
            if (at_end() || is_separator(line_[pos_]) || line_[pos_] == '/') return false;
            const bool ok = key->integer != nullptr ? read_integer(d.*(key->integer))
                                                    : read_text(d.*(key->text), key->width);
            if (!ok) return false;
            if (!at_end() && !is_separator(line_[pos_]) && line_[pos_] != '/') return false;
        }
    }

  private:
    bool next_line() {
        if (!std::getline(in_, line_)) return false;
        pos_ = 0;
        return true;
    }
    bool at_end() const { return pos_ >= line_.size(); }
    void skip_blanks() {
        while (!at_end() && is_blank(line_[pos_])) ++pos_;
    }

    // Skips lines up to the one that opens the group; leaves pos_ after the group name.
    bool find_opening() {
        constexpr std::string_view NAME = "DIRECTIVES";
        while (next_line()) {
            skip_blanks();
            if (at_end() || line_[pos_] != '&') continue;
            const std::size_t name = pos_ + 1;
            if (line_.size() - name < NAME.size() ||
                !equal_nocase(std::string_view(line_).substr(name, NAME.size()), NAME))
                continue;
            pos_ = name + NAME.size();
            if (at_end() || is_separator(line_[pos_]) || line_[pos_] == '/') return true;
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

    bool read_integer(int32_t& out) {
        std::size_t p = pos_;
        if (line_[p] == '+') ++p;  // from_chars takes "-" but not "+"
        const char* first = line_.data() + p;
        const char* last = line_.data() + line_.size();
        int32_t value = 0;
        const auto [end, ec] = std::from_chars(first, last, value);
        if (ec != std::errc() || end == first) return false;
        if (line_[pos_] == '+' && *first == '-') return false;
        pos_ = static_cast<std::size_t>(end - line_.data());
        out = value;
        return true;
    }

    bool read_text(std::string& out, std::size_t width) {
        const char quote = line_[pos_];
        if (quote != '\'' && quote != '"') return false;
        ++pos_;
        std::string value;
        for (;;) {
            if (at_end()) {
                if (!next_line()) return false;  // a quoted value continues on the next line
                continue;
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
        out = fixed_width(value, width);
        return true;
    }

    std::istream& in_;
    std::string line_;
    std::size_t pos_ = 0;
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

bool read_directives(std::istream& in, Directives& d) {
    Directives read = d;
    if (!GroupReader(in).read(read)) return false;
    d = read;
    return true;
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
    if (const char* t = std::getenv("KINSTROM_THREADS")) {
        char* end = nullptr;
        const long n = std::strtol(t, &end, 10);
        if (end != t && *end == '\0' && n >= 1 && n <= 64) env.threads = static_cast<unsigned>(n);
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

// The names of the pedigree and trace files; counts a missing one.
void echo_file_names(Listing& listing, const Directives& d, const Environment& env,
                     FileNames& names, int32_t& errors) {
    names.ped = resolved(d.PED_FILE, env);
    if (names.ped.empty()) {
        formatted(listing, "No total pedigree file specified........ ");
        ++errors;
    } else {
        formatted(listing, "Name of pedigree file .................. " + names.ped);
    }

    names.prob = resolved(d.PROB_FILE, env);
    if (names.prob.empty()) {
        formatted(listing, "No file with individuals to trace        ");
        ++errors;
    } else {
        formatted(listing, "Name of file with individuals to trace . " + names.prob);
    }
    free_blank(listing);
}

// OPT1 (an illegal value stops the run at once), OPT2, GPRUNE and INBREED; counts rejected
// values.
void echo_options(Listing& listing, Directives& d, Settings& s, int32_t& errors) {
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
                   StopEnd::program_terminates);
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
        ++errors;
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
        ++errors;
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
    int32_t errors = 0;
    echo_file_names(listing, d, env, names, errors);
    echo_options(listing, d, s, errors);
    if (errors > 0)
        fatal_stop(listing, {" ", "Error(s) found in the directive file"},
                   StopEnd::program_terminates);

    echo_breed_proportions(listing, d, env, s, names);
    echo_sort_variable(listing, d, s);
}

}  // namespace kinstrom
