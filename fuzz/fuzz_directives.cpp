// Fuzz target: the DIRECTIVES group as read from standard input, its derived settings and
// its echo with the checks that reject directives.
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>

#include "directives/directives.hpp"
#include "listing/listing.hpp"

namespace {
std::FILE* null_listing = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    null_listing = std::fopen("/dev/null", "w");
    return null_listing == nullptr ? 1 : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    kinstrom::Directives d;
    if (!kinstrom::read_directives(in, d)) return 0;
    kinstrom::Listing listing(null_listing, kinstrom::RunDate{});
    kinstrom::Settings settings;
    kinstrom::derive_birth_date_mode(d, listing.date(), settings);
    kinstrom::FileNames names;
    try {
        kinstrom::echo_directives(listing, d, settings, kinstrom::Environment{}, names);
    } catch (const kinstrom::FatalStop&) {
    }
    return 0;
}
