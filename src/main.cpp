// kinstrom: checks a total pedigree and extracts the pedigree of the individuals to trace.
// Directives are read from standard input, the listing goes to standard output, messages for
// the user go to standard error.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <new>
#include <string>

#include "diagnostics/diagnostics.hpp"
#include "listing/listing.hpp"
#include "run/driver.hpp"

namespace {

constexpr const char* HELP =
    "Usage: kinstrom [--summary FILE.json] [--report FILE.html]\n"
    "                [--table [--columns LIST] [--header|--no-header] [--unknown CODE]]\n"
    "                [--evaluation-pedigree FILE [--groups] [--generations N]]\n"
    "                < directives > listing\n"
    "Reads the DIRECTIVES group from standard input, prints the listing on standard\n"
    "output and writes its files beside the trace file. Exit status: 0 at normal end,\n"
    "16 after a fatal stop. Input files may be compressed with gzip or zstd.\n"
    "See man kinstrom, or README.md in the source.\n"
    "\n"
    "  --summary FILE   also write a summary of the run as JSON to FILE, at the end of\n"
    "                   every run, a stopped one included (its schema: summary.schema.json\n"
    "                   in share/kinstrom where installed, doc/ in the source)\n"
    "  --report FILE    also write a report of the run to FILE: one HTML page with charts\n"
    "                   of inbreeding and pedigree completeness by birth year\n"
    "  --table          read the pedigree, trace and breed-proportion files as tables,\n"
    "                   as spreadsheets and statistics programs write them: one record to\n"
    "                   a line, values separated by blanks, commas or semicolons, quoted\n"
    "                   or not, a header line of column names or none; IDs are texts\n"
    "                   (case and leading zeros count); a parent of 0 or below is a PHG\n"
    "                   code, NA . * or empty an unknown parent; the sort variable may\n"
    "                   be absent, NA or a date yyyy-mm-dd\n"
    "  --columns LIST   with --table: the ID, sire, dam and (optional) sort columns by\n"
    "                   header name or position: --columns ID,Sire,Dam,Born or\n"
    "                   --columns 1,3,2 (default: the columns named sire/father and\n"
    "                   dam/mother, else the first columns in order)\n"
    "  --header, --no-header\n"
    "                   with --table: whether the first line is a header (default: it\n"
    "                   is when all its values are names that are no IDs of the file)\n"
    "  --unknown CODE   with --table: the PHG code of an unknown parent (default 0)\n"
    "  --evaluation-pedigree FILE\n"
    "                   also write the traced pedigree to FILE for evaluation programs,\n"
    "                   one individual to a line: code, sire code, dam code, sort\n"
    "                   variable, known generations, [inbreeding], listed (1/0), ID;\n"
    "                   coded 1..n by generation, sort variable and place in the file,\n"
    "                   parents before offspring; unknown parents 0; replaced whole at\n"
    "                   the end of a run that ends normally\n"
    "  --groups         with --evaluation-pedigree: a PHG parent is coded n+1..n+g (a\n"
    "                   genetic group, in ascending order of PHG code), not 0\n"
    "  --generations N  with --evaluation-pedigree: only the listed individuals and their\n"
    "                   ancestors up to N generations back (0: the listed ones only)\n"
    "  --help, --version\n"
    "Other arguments are ignored with a warning.\n"
    "\n"
    "A plain summary or report file is replaced whole (through a link, the file it leads\n"
    "to); a pipe or device is written in place (--summary /dev/stderr,\n"
    "--summary >(jq .statistics)); standard output, standard input and the run's files\n"
    "are refused.\n"
    "Stopped by SIGTERM or SIGINT, a run writes both saying so and ends by that signal\n"
    "(status 143 or 130).\n"
    "\n"
    "Standard error tells why a run stopped (\"kinstrom: FILE:LINE:COLUMN: error: ...\")\n"
    "and what it skipped or read in an unexpected way (\"kinstrom: warning: ...\"), one\n"
    "line per message; findings that can come many times show their first 5 and a count.\n";

bool flushed(std::FILE* f) {
    return std::fflush(f) == 0 && std::ferror(f) == 0;
}

// Exit statuses: a normal end, and a stop before or during the run.
constexpr int NORMAL_END = 0;
constexpr int STOP = kinstrom::STOP_CODE;

// Takes "--NAME VALUE" or "--NAME=VALUE" at argv[i] into `value`; false when argv[i] is not that
// option. `error` tells what is wrong with it: no value, a value that looks like an option, the
// option given before. `what` names the value ("a file name"), `example` shows the option in use.
bool value_option(const char* name, int argc, char** argv, int& i, std::string& value,
                  std::string& error, const char* what = "a file name",
                  const char* example = "FILE") {
    const std::size_t n = std::strlen(name);
    if (std::strncmp(argv[i], name, n) != 0 || (argv[i][n] != '=' && argv[i][n] != '\0'))
        return false;
    const std::string option = name;
    const bool joined = argv[i][n] == '=';
    const char* given = joined ? argv[i] + n + 1 : i + 1 < argc ? argv[++i] : "";
    const std::string use = "kinstrom " + option + " " + example + " < directives";
    if (!value.empty()) {
        error = option + " is given twice: give it once";
    } else if (*given == '\0') {
        error = option + " needs " + what + ": " + use;
    } else if (!joined && given[0] == '-' && given[1] == '-') {
        error = option + " needs " + what + ", not the option '" + given + "': " + use +
                (std::strcmp(what, "a file name") == 0
                     ? std::string(" (write ./") + given + " for a file of that name)"
                     : "");
    }
    if (value.empty()) value = given;
    return true;
}

// The table options once every argument is read; false with `error` set when they do not go
// together.
bool table_options(const std::string& columns, const std::string& unknown, bool header,
                   bool no_header, kinstrom::TableOptions& table, std::string& error) {
    const char* without = !columns.empty()   ? "--columns"
                          : !unknown.empty() ? "--unknown"
                          : header           ? "--header"
                          : no_header        ? "--no-header"
                                             : nullptr;
    if (!table.on && without != nullptr) {
        error = std::string(without) + " goes with --table: kinstrom --table " + without +
                " ... < directives";
        return false;
    }
    if (header && no_header) {
        error = "--header and --no-header are both given: give one";
        return false;
    }
    if (header || no_header) table.header = header;
    if (!columns.empty() && !kinstrom::parse_columns(columns, table.columns, error)) return false;
    if (no_header)
        for (const std::string& c : table.columns)
            if (c.find_first_not_of("0123456789") != std::string::npos) {
                error = "--columns names the column \"" + c +
                        "\", but --no-header says the first line is no header: give positions "
                        "(--columns 1,2,3)";
                return false;
            }
    if (!unknown.empty()) {
        const std::size_t digits = unknown[0] == '-' ? 1 : 0;
        char* end = nullptr;
        errno = 0;
        const long long code = std::strtoll(unknown.c_str(), &end, 10);
        if (unknown.size() == digits ||
            unknown.find_first_not_of("0123456789", digits) != std::string::npos || errno != 0 ||
            code > 0) {
            error =
                "--unknown needs a PHG code, an integer of 0 or below (e.g. --unknown -1), "
                "not '" +
                unknown + "'";
            return false;
        }
        table.unknown = code;
    }
    return true;
}

// --generations and --groups once every argument is read; false with `error` set when they do
// not go with the evaluation pedigree or the number is not one.
bool evaluation_options(const std::string& generations, bool groups,
                        kinstrom::EvaluationOptions& evaluation, std::string& error) {
    const char* without = !generations.empty() ? "--generations" : groups ? "--groups" : nullptr;
    if (evaluation.file.empty() && without != nullptr) {
        error = std::string(without) +
                " goes with --evaluation-pedigree: kinstrom --evaluation-pedigree FILE " + without +
                " ... < directives";
        return false;
    }
    evaluation.groups = groups;
    if (generations.empty()) return true;
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(generations.c_str(), &end, 10);
    if (generations.find_first_not_of("0123456789") != std::string::npos || errno != 0 ||
        n > 2147483647L) {
        error =
            "--generations needs a number of generations, a whole number of 0 or more (0: the "
            "listed individuals only; 3: with parents, grandparents and great-grandparents), "
            "not '" +
            generations + "'";
        return false;
    }
    evaluation.generations = static_cast<int32_t>(n);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(HELP, stdout);
            return flushed(stdout) ? NORMAL_END : STOP;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("Kinstrom ver. " KINSTROM_VERSION "\n", stdout);
            return flushed(stdout) ? NORMAL_END : STOP;
        }
    }
    kinstrom::RunOptions options;
    options.watch_signals = true;
    std::string columns, unknown, generations;
    bool header = false, no_header = false, groups = false;
    for (int i = 1; i < argc; ++i) {
        std::string error;
        if (value_option("--summary", argc, argv, i, options.summary, error) ||
            value_option("--report", argc, argv, i, options.report, error) ||
            value_option("--columns", argc, argv, i, columns, error, "a list of columns",
                         "ID,SIRE,DAM[,SORT]") ||
            value_option("--unknown", argc, argv, i, unknown, error, "a PHG code", "CODE") ||
            value_option("--evaluation-pedigree", argc, argv, i, options.evaluation.file, error) ||
            value_option("--generations", argc, argv, i, generations, error,
                         "a number of generations", "N")) {
            if (error.empty()) continue;
            kinstrom::write_line(stderr, "kinstrom: error: " + error);
            return STOP;
        }
        bool* flag = std::strcmp(argv[i], "--table") == 0       ? &options.table.on
                     : std::strcmp(argv[i], "--header") == 0    ? &header
                     : std::strcmp(argv[i], "--no-header") == 0 ? &no_header
                     : std::strcmp(argv[i], "--groups") == 0    ? &groups
                                                                : nullptr;
        if (flag != nullptr) {
            *flag = true;
            continue;
        }
        kinstrom::write_line(stderr, std::string("kinstrom: warning: argument '") + argv[i] +
                                         "' ignored: the directives are read from standard "
                                         "input (kinstrom < directives); kinstrom --help tells "
                                         "more");
    }
    if (std::string error;
        !table_options(columns, unknown, header, no_header, options.table, error) ||
        !evaluation_options(generations, groups, options.evaluation, error)) {
        kinstrom::write_line(stderr, "kinstrom: error: " + error);
        return STOP;
    }
    if (::isatty(STDIN_FILENO) == 1)
        std::fputs(
            "kinstrom: note: reading the &DIRECTIVES group from standard input; end it "
            "with '/' (or run kinstrom < directives; kinstrom --help tells more)\n",
            stderr);
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    std::ios::sync_with_stdio(false);
    try {
        return kinstrom::run(std::cin, stdout, stderr, options);
    } catch (const std::bad_alloc&) {
        std::fputs(
            "kinstrom: error: not enough memory to go on; run on a machine with more "
            "memory\n",
            stderr);
    } catch (const std::exception& e) {
        kinstrom::write_line(
            stderr,
            std::string("kinstrom: error: the run stopped on an unexpected fault: ") + e.what());
    }
    return STOP;
}
