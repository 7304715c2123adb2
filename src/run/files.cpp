#include "run/files.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "listing/numbers.hpp"
#include "wholefile/wholefile.hpp"

namespace kinstrom {

namespace {

bool exists(const std::string& name) {
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

InputFile open_input(Listing& listing, const std::string& name) {
    InputFile f(std::fopen(name.c_str(), "r"));
    if (!f) read_failure(listing, name);
    return f;
}

struct Output {
    OutFile* file;
    std::string name;
    bool read_back;  // an error file, read back for its report
};

// The error files and the output files the directives ask for, named from `base`; with `files`,
// each with the file it is opened as.
std::vector<Output> planned_outputs(const Settings& s, const std::string& base, RunFiles* files) {
    const auto file = [&](OutFile RunFiles::*member) {
        return files != nullptr ? &(files->*member) : nullptr;
    };
    std::vector<Output> outputs;
    for (int kind = 1; kind <= ERROR_KINDS; ++kind)
        outputs.push_back({files != nullptr ? &files->errors.file(kind) : nullptr,
                           base + ".err" + int_text(kind), true});
    outputs.push_back({file(&RunFiles::PED), base + ".PED", false});
    outputs.push_back({file(&RunFiles::PRUNE), base + ".PRUNE", false});
    if (s.contributions) {
        outputs.push_back({file(&RunFiles::BCONTRIB), base + ".BCONTRIB", false});
        outputs.push_back({file(&RunFiles::HET), base + ".HET", false});
    }
    if (s.phg_renumbering())
        outputs.push_back({file(&RunFiles::PHG_RENUM), base + ".PHG_RENUM", false});
    return outputs;
}

// Opening an output file writes over it: one that is also an input file, standard input or
// the listing's file (whatever names lead to them) stops the run before any output file is
// opened.
void check_outputs_apart(Listing& listing, const FileNames& names, const RunFiles& files,
                         const std::vector<Output>& outputs) {
    std::vector<FileId> inputs;
    for (std::FILE* f : {files.ped.get(), files.prob.get(), files.bprop.get()})
        if (f != nullptr)
            if (const auto id = file_id(::fileno(f))) inputs.push_back(*id);
    // A breed-proportion file named but not opened is an input all the same.
    if (!names.bprop.empty() && files.bprop == nullptr)
        if (const auto id = file_id(names.bprop)) inputs.push_back(*id);
    const auto plain_file = [](int fd) {
        struct stat st {};
        return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? file_id(fd) : std::nullopt;
    };
    const std::optional<FileId> directives = plain_file(STDIN_FILENO),
                                listing_file = plain_file(listing.descriptor());
    for (const Output& output : outputs) {
        const auto id = file_id(output.name);
        if (!id) continue;
        std::string text;
        if (std::find(inputs.begin(), inputs.end(), *id) != inputs.end()) {
            text =
                "this output file is also an input file of the run: writing it would destroy "
                "the input; rename the trace file or the input file";
        } else if (id == directives) {
            text =
                "this output file is also standard input, the directive file: writing it "
                "would destroy the directives; rename the trace file or the directive file";
        } else if (id == listing_file) {
            text =
                "this output file is also the listing's file (standard output): writing it "
                "would destroy the listing; send the listing elsewhere or rename the trace "
                "file";
        } else {
            continue;
        }
        fatal_stop(listing, {" ", "File " + output.name + " is both input and output"},
                   StopEnd::program_terminates, {output.name, 0, 0, text});
    }
}

}  // namespace

void check_input_files(Listing& listing, const FileNames& names) {
    for (const std::string* name : {&names.ped, &names.prob, &names.bprop}) {
        if (name->empty() || exists(*name)) continue;
        struct stat st {};
        const bool folder = ::stat(name->c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        fatal_stop(listing, {" ", "File " + *name + " not found"}, StopEnd::program_terminates,
                   {*name, 0, 0,
                    folder ? "this is a folder, not a file: name the file in the directives"
                           : "no such file: check the name in the directives (relative names are "
                             "taken from the folder the run starts in, or from PBS_O_WORKDIR)"});
    }
}

std::vector<std::string> output_names(const Settings& s, const std::string& base) {
    std::vector<std::string> names;
    for (const Output& output : planned_outputs(s, base, nullptr)) names.push_back(output.name);
    return names;
}

void open_files(Listing& listing, const Directives& d, const Settings& s, const FileNames& names,
                RunFiles& files) {
    files.ped = open_input(listing, names.ped);
    files.prob = open_input(listing, names.prob);
    // Without a count of base populations a named breed-proportion file is not opened; the
    // reader reports it as unreadable.
    if (!names.bprop.empty() && d.N_BPOP > 0) files.bprop = open_input(listing, names.bprop);

    const std::vector<Output> outputs = planned_outputs(s, names.prob, &files);
    check_outputs_apart(listing, names, files, outputs);
    for (const Output& output : outputs) output.file->open(listing, output.name, output.read_back);
}

void close_files(RunFiles& files) {
    for (OutFile& f : files.errors.files) f.close();
    files.PED.close();
    files.PRUNE.close();
    files.BCONTRIB.close();
    files.HET.close();
    files.PHG_RENUM.close();
}

}  // namespace kinstrom
