// kinstrom: checks a total pedigree and extracts the pedigree of the individuals to trace.
// Directives are read from standard input, the listing goes to standard output, messages for
// the user go to standard error.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "run/driver.hpp"

namespace {

constexpr const char* HELP =
    "Usage: kinstrom [--summary FILE.json] [--report FILE.html] < directives > listing\n"
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
    "  --help, --version\n"
    "Other arguments are ignored with a warning.\n"
    "\n"
    "Standard error tells why a run stopped (\"kinstrom: FILE:LINE:COLUMN: error: ...\")\n"
    "and what it skipped or read in an unexpected way (\"kinstrom: warning: ...\"), one\n"
    "line per message; findings that can come many times show their first 5 and a count.\n";

bool flushed(std::FILE* f) {
    return std::fflush(f) == 0 && std::ferror(f) == 0;
}

// Takes "--NAME FILE" or "--NAME=FILE" at argv[i] into `value`; false when argv[i] is not
// that option.
bool file_option(const char* name, int argc, char** argv, int& i, std::string& value,
                 bool& missing) {
    const std::size_t n = std::strlen(name);
    if (std::strncmp(argv[i], name, n) != 0) return false;
    if (argv[i][n] == '=') {
        value = argv[i] + n + 1;
    } else if (argv[i][n] != '\0') {
        return false;
    } else if (i + 1 < argc) {
        value = argv[++i];
    }
    missing = value.empty();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(HELP, stdout);
            return flushed(stdout) ? 0 : 16;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("Kinstrom ver. 2\n", stdout);
            return flushed(stdout) ? 0 : 16;
        }
    }
    kinstrom::RunOptions options;
    for (int i = 1; i < argc; ++i) {
        bool missing = false;
        const char* option = std::strncmp(argv[i], "--summary", 9) == 0 ? "--summary" : "--report";
        if (file_option("--summary", argc, argv, i, options.summary, missing) ||
            file_option("--report", argc, argv, i, options.report, missing)) {
            if (missing) {
                std::fprintf(stderr,
                             "kinstrom: error: %s needs a file name: kinstrom %s FILE < "
                             "directives\n",
                             option, option);
                return 16;
            }
            continue;
        }
        std::fprintf(stderr,
                     "kinstrom: warning: argument '%s' ignored: the directives are read from "
                     "standard input (kinstrom < directives); kinstrom --help tells more\n",
                     argv[i]);
    }
    if (!options.summary.empty() && options.summary == options.report) {
        std::fprintf(stderr,
                     "kinstrom: error: --summary and --report name the same file '%s': give "
                     "each its own name\n",
                     options.summary.c_str());
        return 16;
    }
    if (::isatty(STDIN_FILENO) == 1)
        std::fputs(
            "kinstrom: note: reading the &DIRECTIVES group from standard input; end it "
            "with '/' (or run kinstrom < directives; kinstrom --help tells more)\n",
            stderr);
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    std::ios::sync_with_stdio(false);
    return kinstrom::run(std::cin, stdout, stderr, options);
}
