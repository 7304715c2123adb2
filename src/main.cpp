// kinstrom: checks a total pedigree and extracts the pedigree of the individuals to trace.
// Directives are read from standard input, the listing goes to standard output, messages for
// the user go to standard error.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <new>
#include <string>

#include "listing/listing.hpp"
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

// Takes "--NAME FILE" or "--NAME=FILE" at argv[i] into `value`; false when argv[i] is not that
// option. `error` tells what is wrong with it: no name, a name that looks like an option, the
// option given before.
bool file_option(const char* name, int argc, char** argv, int& i, std::string& value,
                 std::string& error) {
    const std::size_t n = std::strlen(name);
    if (std::strncmp(argv[i], name, n) != 0 || (argv[i][n] != '=' && argv[i][n] != '\0'))
        return false;
    const std::string option = name;
    const bool joined = argv[i][n] == '=';
    const char* given = joined ? argv[i] + n + 1 : i + 1 < argc ? argv[++i] : "";
    if (!value.empty()) {
        error = option + " is given twice: give it once";
    } else if (*given == '\0') {
        error = option + " needs a file name: kinstrom " + option + " FILE < directives";
    } else if (!joined && given[0] == '-' && given[1] == '-') {
        error = option + " needs a file name, not the option '" + given + "': kinstrom " + option +
                " FILE < directives (write ./" + given + " for a file of that name)";
    }
    if (value.empty()) value = given;
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
    for (int i = 1; i < argc; ++i) {
        std::string error;
        if (file_option("--summary", argc, argv, i, options.summary, error) ||
            file_option("--report", argc, argv, i, options.report, error)) {
            if (error.empty()) continue;
            std::fprintf(stderr, "kinstrom: error: %s\n", error.c_str());
            return STOP;
        }
        std::fprintf(stderr,
                     "kinstrom: warning: argument '%s' ignored: the directives are read from "
                     "standard input (kinstrom < directives); kinstrom --help tells more\n",
                     argv[i]);
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
        std::fprintf(stderr, "kinstrom: error: the run stopped on an unexpected fault: %s\n",
                     e.what());
    }
    return STOP;
}
