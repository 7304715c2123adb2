// Fuzz target: a whole run on small input files. The first byte chooses one of eight directive
// groups and whether an evaluation pedigree is written (with genetic groups, cut at 0 to 3
// generations); the rest holds the pedigree file, the trace file and the breed-proportion file,
// separated by '|' (a byte no valid file holds). The run works in a folder of its own, made
// once and removed at exit; its listing goes to /dev/null, its summary and report beside its
// files. Fatal stops end a run with status 16, as they end the program.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>

#include <nlohmann/json.hpp>

#include "run/driver.hpp"

namespace {

constexpr const char* DIRECTIVES[] = {
    "&DIRECTIVES PED_FILE='ped', PROB_FILE='sel' /",
    "&DIRECTIVES PED_FILE='ped', PROB_FILE='sel', BPROP_FILE='bp', N_BPOP=2, OPT1=2, OPT2=2, "
    "INBREED='YES' /",
    "&DIRECTIVES PED_FILE='ped', PROB_FILE='sel', DOB_CHECK='Y', MAX_NIV=3, GPRUNE=1, OPT2=1 /",
    "&DIRECTIVES PED_FILE='ped', PROB_FILE='sel', BPROP_FILE='bp', N_BPOP=1, MAX_A=5, "
    "MAX_PHG=2 /",
    "&DIRECTIVES PED_FILE='ped', PROB_FILE='sel', OPT1=2, INBREED='YES', MAX_NIV=1000000, "
    "GPRUNE=-1 /",
    "&DIRECTIVES PED_FILE='ped', PROB_FILE='sel', MIN_ACC_BD=19000101, DOB_CHECK='Y', "
    "MIN_D_SBD=300, OPT2=2 /",
    "&DIRECTIVES PED_FILE='ped', PROB_FILE='sel', BPROP_FILE='bp', N_BPOP=3, OPT1=1 /",
    "&DIRECTIVES PED_FILE='ped', PROB_FILE='sel', MAX_NIV=0, GPRUNE=2147483647, OPT1=2 /",
};

std::FILE* null_listing = nullptr;

bool write_file(const char* name, std::string_view text) {
    std::FILE* f = std::fopen(name, "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static char folder[] = "/tmp/kinstrom-fuzz-XXXXXX";
    if (::mkdtemp(folder) == nullptr || ::chdir(folder) != 0) return 1;
    // The folder goes when the fuzzer exits.
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    });
    ::setenv("KINSTROM_PROGRESS", "0", 1);
    ::setenv("KINSTROM_THREADS", "1", 1);
    ::unsetenv("PBS_O_WORKDIR");
    ::unsetenv("SASROOT");
    null_listing = std::fopen("/dev/null", "w");
    return null_listing == nullptr ? 1 : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const char* const directives = DIRECTIVES[data[0] % 8];
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string_view files[3];
    for (int i = 0; i < 2; ++i) {
        const std::size_t bar = rest.find('|');
        files[i] = rest.substr(0, bar);
        rest = bar == std::string_view::npos ? std::string_view() : rest.substr(bar + 1);
    }
    files[2] = rest;
    if (!write_file("ped", files[0]) || !write_file("sel", files[1]) || !write_file("bp", files[2]))
        std::abort();
    std::istringstream in(directives);
    kinstrom::RunOptions options{"summary.json", "report.html", false, {}, {}};
    const int kind = data[0] / 8 % 4;  // none, whole, with groups, cut
    std::remove("eval");
    if (kind > 0) options.evaluation = {"eval", kind >= 2, kind == 3 ? data[0] / 32 % 4 : -1};
    const int status = kinstrom::run(in, null_listing, stderr, options);
    if (status != 0 && status != 16) std::abort();
    // Every run leaves a summary that reads back with its status.
    std::ifstream summary("summary.json");
    const auto doc = nlohmann::json::parse(summary, nullptr, false);
    if (doc.is_discarded() || doc.value("exit_status", -1) != status) std::abort();
    // An evaluation pedigree is there after a normal end only: n lines coded 1..n, each parent
    // 0, an earlier line or a group code.
    std::ifstream evaluation("eval");
    if (kind == 0 || status != 0) {
        if (evaluation) std::abort();
        return 0;
    }
    const auto n = doc["evaluation_pedigree"]["individuals"].get<int64_t>();
    const auto g = doc["evaluation_pedigree"]["groups"].get<int64_t>();
    int64_t lines = 0;
    for (std::string line; std::getline(evaluation, line);) {
        std::istringstream values(line);
        int64_t code = 0, sire = -1, dam = -1;
        values >> code >> sire >> dam;
        ++lines;
        for (const int64_t p : {sire, dam})
            if (code != lines || p < 0 || p > n + g || (p >= code && p <= n)) std::abort();
    }
    if (lines != n) std::abort();
    return 0;
}
