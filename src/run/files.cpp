#include "run/files.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "listing/numbers.hpp"

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

// Device and inode of a file, to tell whether two names lead to the same file.
struct FileId {
    dev_t device;
    ino_t inode;
    bool operator==(const FileId&) const = default;
};

std::optional<FileId> file_id(int fd) {
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
}

std::optional<FileId> file_id(const std::string& name) {
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0) return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
}

// Opening an output file writes over it: one that is also an input file (whatever names lead
// to them) stops the run before any output file is opened.
struct Output {
    OutFile* file;
    std::string name;
    bool read_back;  // an error file, read back for its report
};

void check_outputs_apart(Listing& listing, const FileNames& names, const RunFiles& files,
                         const std::vector<Output>& outputs) {
    std::vector<FileId> inputs;
    for (std::FILE* f : {files.ped.get(), files.prob.get(), files.bprop.get()})
        if (f != nullptr)
            if (const auto id = file_id(::fileno(f))) inputs.push_back(*id);
    // A breed-proportion file named but not opened is an input all the same.
    if (!names.bprop.empty() && files.bprop == nullptr)
        if (const auto id = file_id(names.bprop)) inputs.push_back(*id);
    for (const Output& output : outputs) {
        const auto id = file_id(output.name);
        if (!id || std::find(inputs.begin(), inputs.end(), *id) == inputs.end()) continue;
        fatal_stop(listing, {" ", "File " + output.name + " is both input and output"},
                   StopEnd::program_terminates,
                   {output.name, 0, 0,
                    "this output file is also an input file of the run: writing it would destroy "
                    "the input; rename the trace file or the input file"});
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

void open_files(Listing& listing, const Directives& d, const FileNames& names, RunFiles& files) {
    files.ped = open_input(listing, names.ped);
    files.prob = open_input(listing, names.prob);
    // Without a count of base populations a named breed-proportion file is not opened; the
    // reader reports it as unreadable.
    if (!names.bprop.empty() && d.N_BPOP > 0) files.bprop = open_input(listing, names.bprop);

    const std::string& base = names.prob;
    std::vector<Output> outputs;
    for (int kind = 1; kind <= ERROR_KINDS; ++kind)
        outputs.push_back({&files.errors.file(kind), base + ".err" + int_text(kind), true});
    outputs.push_back({&files.PED, base + ".PED", false});
    outputs.push_back({&files.PRUNE, base + ".PRUNE", false});
    if (d.OPT1 == 2) {
        outputs.push_back({&files.BCONTRIB, base + ".BCONTRIB", false});
        outputs.push_back({&files.HET, base + ".HET", false});
    }
    if (d.OPT1 == 2 || d.OPT2 == 2)
        outputs.push_back({&files.PHG_RENUM, base + ".PHG_RENUM", false});
    check_outputs_apart(listing, names, files, outputs);
    for (const Output& output : outputs) output.file->open(listing, output.name, output.read_back);
}

bool same_file_as_any(const std::string& name, const std::vector<std::string>& others, int fd) {
    const auto id = file_id(name);
    if (!id) return false;
    if (file_id(fd) == id) return true;
    return std::any_of(others.begin(), others.end(),
                       [&](const std::string& other) { return file_id(other) == id; });
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
