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
    "Usage: kinstrom < directives > listing\n"
    "Reads the DIRECTIVES group from standard input, prints the listing on standard\n"
    "output and writes its files beside the trace file. Exit status: 0 at normal end,\n"
    "16 after a fatal stop. Other arguments are ignored. See README.md.\n"
    "\n"
    "Standard error tells why a run stopped (\"kinstrom: FILE:LINE:COLUMN: error: ...\")\n"
    "and what it skipped or read in an unexpected way (\"kinstrom: warning: ...\"), one\n"
    "line per message; findings that can come many times show their first 5 and a count.\n";

bool flushed(std::FILE* f) {
    return std::fflush(f) == 0 && std::ferror(f) == 0;
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
    for (int i = 1; i < argc; ++i)
        std::fprintf(stderr,
                     "kinstrom: warning: argument '%s' ignored: the directives are read from "
                     "standard input (kinstrom < directives); kinstrom --help tells more\n",
                     argv[i]);
    if (::isatty(STDIN_FILENO) == 1)
        std::fputs(
            "kinstrom: note: reading the &DIRECTIVES group from standard input; end it "
            "with '/' (or run kinstrom < directives; kinstrom --help tells more)\n",
            stderr);
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    std::ios::sync_with_stdio(false);
    return kinstrom::run(std::cin, stdout, stderr);
}
