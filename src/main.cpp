// kinstrom: checks a total pedigree and extracts the pedigree of the individuals to trace.
// Directives are read from standard input, the listing goes to standard output.
#include <cstdio>
#include <cstring>
#include <iostream>

#include "run/driver.hpp"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(
                "Usage: kinstrom < directives\n"
                "Reads the DIRECTIVES group from standard input, prints the listing on standard\n"
                "output and writes its files beside the trace file. Exit status: 0 at normal end,\n"
                "16 after a fatal stop. Other arguments are ignored. See README.md.\n",
                stdout);
            return std::fflush(stdout) == 0 ? 0 : 16;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("Kinstrom ver. 2\n", stdout);
            return std::fflush(stdout) == 0 ? 0 : 16;
        }
    }
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    std::ios::sync_with_stdio(false);
    return kinstrom::run(std::cin, stdout);
}
