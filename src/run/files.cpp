#include "run/files.hpp"

#include <sys/stat.h>

#include "listing/numbers.hpp"

namespace kinstrom {

namespace {

bool exists(const std::string& name) {
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

InputFile open_input(Listing& listing, const std::string& name) {
    InputFile f(std::fopen(name.c_str(), "r"));
    if (!f) {
        listing.blank();
        listing.text("Error when reading file " + name);
        listing.blank();
        listing.text("Program terminates");
        throw FatalStop{};
    }
    return f;
}

}  // namespace

void check_input_files(Listing& listing, const FileNames& names) {
    for (const std::string* name : {&names.ped, &names.prob, &names.bprop}) {
        if (name->empty() || exists(*name)) continue;
        listing.blank();
        listing.text("File " + *name + " not found");
        listing.blank();
        listing.text("Program terminates");
        throw FatalStop{};
    }
}

void open_files(Listing& listing, const Directives& d, const FileNames& names, RunFiles& files) {
    files.ped = open_input(listing, names.ped);
    files.prob = open_input(listing, names.prob);
    // Without a count of base populations a named breed-proportion file is not opened; the
    // reader reports it as unreadable.
    if (!names.bprop.empty() && d.N_BPOP > 0) files.bprop = open_input(listing, names.bprop);

    const std::string& base = names.prob;
    for (int kind = 1; kind <= ERROR_KINDS; ++kind)
        files.errors.file(kind).open(listing, base + ".err" + int_text(kind), true);
    files.PED.open(listing, base + ".PED");
    files.PRUNE.open(listing, base + ".PRUNE");
    if (d.OPT1 == 2) {
        files.BCONTRIB.open(listing, base + ".BCONTRIB");
        files.HET.open(listing, base + ".HET");
    }
    if (d.OPT1 == 2 || d.OPT2 == 2) files.PHG_RENUM.open(listing, base + ".PHG_RENUM");
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
