// The run's files: existence checks of the input files, and the opening of input, error and
// output files under names formed from the trace file's resolved name.
//
// Reads: the file system. Fatal stops: a missing input file (5), an input file that cannot be
// opened, an output file that is also an input file, an output file that cannot be created.
#pragma once

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "directives/directives.hpp"
#include "listing/outfile.hpp"
#include "pedigree/errors.hpp"

namespace kinstrom {

struct CloseFile {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using InputFile = std::unique_ptr<std::FILE, CloseFile>;

struct RunFiles {
    InputFile ped;    // total pedigree file
    InputFile prob;   // trace file
    InputFile bprop;  // breed-proportion file, when one is read
    ErrorFiles errors;
    OutFile PED;
    OutFile PRUNE;
    OutFile BCONTRIB;
    OutFile HET;
    OutFile PHG_RENUM;
};

// Stops the run with "File <name> not found" for the first input file that does not exist (a
// directory counts as missing): the pedigree file, the trace file, the breed-proportion file.
void check_input_files(Listing& listing, const FileNames& names);

// The names of the eight error files and of the output files the directives ask for, formed from
// `base`, the trace file's resolved name.
std::vector<std::string> output_names(const Settings& s, const std::string& base);

// Opens the input files, the eight error files and the output files, in that order. A named
// breed-proportion file is opened only with a positive count of base populations. Before any
// output file is opened, an output name that leads to one of the input files (same device and
// inode) stops the run with "File <name> is both input and output".
void open_files(Listing& listing, const Directives& d, const Settings& s, const FileNames& names,
                RunFiles& files);

// Closes every output file still open, checking each; the end of a run.
void close_files(RunFiles& files);

}  // namespace kinstrom
