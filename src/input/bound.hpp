// How far a compressed input file may expand. A compressed file is decompressed whole into
// memory, and a small one may expand without end: its text is bounded by what the machine can
// hold, or by KINSTROM_MAX_INPUT.
//
// The bound, when KINSTROM_MAX_INPUT is not set: half the memory the process may use (the
// physical memory, or its control group's memory limit when that is lower), or the address
// space left under its limit (RLIMIT_AS) when that is lower still. KINSTROM_MAX_INPUT sets the
// bound in bytes (K, M, G or T after the number: KiB, MiB, GiB, TiB), but never past the
// physical memory, the control group's limit or the address space left.
//
// Reads: the value of KINSTROM_MAX_INPUT handed in, /proc/self/cgroup, the control groups'
// memory.max (version 2) or memory.limit_in_bytes (version 1) under /sys/fs/cgroup, from the
// process's own group up to the root, and /proc/self/statm. No stop: a malformed
// KINSTROM_MAX_INPUT is a warning, and the machine's bound is used.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "diagnostics/diagnostics.hpp"

namespace kinstrom {

inline constexpr uint64_t NO_BOUND = UINT64_MAX;

struct InputBound {
    uint64_t bytes = NO_BOUND;
    std::string what;   // what sets it, after "past 1 GiB, ": "half the physical memory"
    std::string raise;  // how to allow more, after "or ": "raise KINSTROM_MAX_INPUT"
};

// What the machine lets the process hold, in bytes; NO_BOUND where nothing limits it.
struct MachineMemory {
    uint64_t physical = NO_BOUND;
    uint64_t cgroup = NO_BOUND;         // the lowest memory limit of the process's groups
    uint64_t address_space = NO_BOUND;  // left under RLIMIT_AS
    static MachineMemory read();
};

// The bound on this machine, with `variable` the value of KINSTROM_MAX_INPUT (null when not
// set, and an empty value counts as not set). A malformed value is ignored and `warning` says
// so; otherwise `warning` is left empty.
InputBound input_bound(const MachineMemory& machine, const char* variable, std::string& warning);

// The run's bound, from the machine and the environment; the warning goes to `diagnostics`.
InputBound input_bound_from_environment(Diagnostics& diagnostics);

// A size as KINSTROM_MAX_INPUT gives it: decimal digits, then nothing or one of K, M, G, T (or
// k, m, g, t) for 2^10, 2^20, 2^30, 2^40. Nothing when 0, too large for 64 bits, or malformed.
std::optional<uint64_t> parse_size(std::string_view text);

// The lowest memory limit of the control groups the process is in and of the groups above
// them (NO_BOUND when none has one). `self`: the text of /proc/self/cgroup; `root`: where the
// hierarchies are mounted (version 2 at `root`, the version 1 memory controller at
// `root`/memory).
uint64_t cgroup_memory_limit(std::string_view self, const std::string& root);

// A size for people, in binary units rounded down: "512 bytes", "64 MiB", "11.7 GiB".
std::string readable_size(uint64_t bytes);

}  // namespace kinstrom
