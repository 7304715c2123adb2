// The run driver: one run is one pass through the fixed phase order, from the first page
// heading to "EOJ".
//
// Reads: standard input (directives), the environment, the input files.
// Writes: the listing, the error and output files.
// Returns the exit status: 0 at normal end, 16 after a fatal stop. Interrupted by SIGTERM or
// SIGINT while it watches them, the program ends by that signal.
#pragma once

#include <cstdint>
#include <cstdio>
#include <istream>
#include <string>

#include "evaluation/evaluation.hpp"
#include "table/table.hpp"

namespace kinstrom {

// Files asked for on the command line, written at the end of every run; empty: not written.
struct RunOptions {
    std::string summary;  // the run summary, JSON
    std::string report;   // the report, one HTML page
    // With a summary or report: SIGTERM and SIGINT are watched (the program's own run only:
    // the watch lives as long as the program).
    bool watch_signals = false;
    // --table and its options: the inputs read as tables.
    TableOptions table;
    // --evaluation-pedigree and its options.
    EvaluationOptions evaluation;
};

// Runs the program with the directives on `in`, the listing on `out` and the messages for the
// user on `err`.
int run(std::istream& in, std::FILE* out, std::FILE* err = stderr, const RunOptions& options = {});

}  // namespace kinstrom
