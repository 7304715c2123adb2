#include "input/bound.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <tuple>

namespace kinstrom {

namespace {

// The limit a control group's file holds: a number, or "max" (none).
std::optional<uint64_t> limit_in(const std::string& file) {
    std::ifstream in(file);
    std::string word;
    if (!(in >> word)) return std::nullopt;
    uint64_t value = 0;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (ec != std::errc() || end != word.data() + word.size()) return std::nullopt;
    return value;
}

bool has_item(std::string_view list, std::string_view item) {
    while (!list.empty()) {
        const std::size_t comma = std::min(list.find(','), list.size());
        if (list.substr(0, comma) == item) return true;
        list.remove_prefix(std::min(comma + 1, list.size()));
    }
    return false;
}

}  // namespace

MachineMemory MachineMemory::read() {
    MachineMemory m;
    const long pages = ::sysconf(_SC_PHYS_PAGES), page = ::sysconf(_SC_PAGESIZE);
    if (pages > 0 && page > 0) m.physical = static_cast<uint64_t>(pages) * uint64_t(page);
    std::ifstream self("/proc/self/cgroup");
    const std::string groups{std::istreambuf_iterator<char>(self), {}};
    m.cgroup = cgroup_memory_limit(groups, "/sys/fs/cgroup");
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && page > 0) {
        uint64_t used = 0;  // pages of address space in use
        std::ifstream("/proc/self/statm") >> used;
        used *= static_cast<uint64_t>(page);
        m.address_space = limit.rlim_cur > used ? limit.rlim_cur - used : 0;
    }
    return m;
}

InputBound input_bound(const MachineMemory& machine, const char* variable, std::string& warning) {
    warning.clear();
    // Half what the process may use leaves room for the rest of the run.
    const bool group = machine.cgroup < machine.physical;
    const uint64_t memory = std::min(machine.physical, machine.cgroup);
    InputBound own{
        memory == NO_BOUND ? NO_BOUND : memory / 2,
        group ? "half the memory limit of the process's control group" : "half the physical memory",
        "allow more with KINSTROM_MAX_INPUT"};
    const char* const AS_WHAT = "the address space left to the process (ulimit -v)";
    const char* const AS_RAISE = "raise the address-space limit (ulimit -v)";
    if (machine.address_space < own.bytes) own = {machine.address_space, AS_WHAT, AS_RAISE};
    if (variable == nullptr || *variable == '\0') return own;
    const std::optional<uint64_t> size = parse_size(variable);
    if (!size) {
        warning = "KINSTROM_MAX_INPUT=" + quoted_bytes(variable) +
                  " is not a size: give a whole number of bytes above 0, or of KiB, MiB, GiB "
                  "or TiB with K, M, G or T after it; " +
                  (own.bytes == NO_BOUND ? std::string("compressed input is not bounded")
                                         : "the machine's bound is used instead, " +
                                               readable_size(own.bytes) + " (" + own.what + ")");
        return own;
    }
    // What the variable cannot raise the bound past.
    InputBound set{*size, "the bound set by KINSTROM_MAX_INPUT", "raise KINSTROM_MAX_INPUT"};
    for (const auto& [limit, what, raise] :
         {std::tuple{machine.physical, "the physical memory",
                     "run it on a machine with more memory"},
          std::tuple{machine.cgroup, "the memory limit of the process's control group",
                     "run it with a higher memory limit"},
          std::tuple{machine.address_space, AS_WHAT, AS_RAISE}})
        if (limit < set.bytes) set = {limit, what, raise};
    return set;
}

InputBound input_bound_from_environment(Diagnostics& diagnostics) {
    std::string warning;
    InputBound bound =
        input_bound(MachineMemory::read(), std::getenv("KINSTROM_MAX_INPUT"), warning);
    if (!warning.empty()) diagnostics.warning(warning);
    return bound;
}

std::optional<uint64_t> parse_size(std::string_view text) {
    uint64_t value = 0;
    const char* const end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || p == text.data() || end - p > 1 || value == 0) return std::nullopt;
    int shift = 0;
    if (p < end) {
        const std::size_t unit = std::string_view("KMGTkmgt").find(*p);
        if (unit == std::string_view::npos) return std::nullopt;
        shift = 10 * static_cast<int>(unit % 4 + 1);
    }
    if (value > (NO_BOUND >> shift)) return std::nullopt;
    return value << shift;
}

uint64_t cgroup_memory_limit(std::string_view self, const std::string& root) {
    uint64_t lowest = NO_BOUND;
    // Lines "ID:CONTROLLERS:PATH"; version 2 is "0::PATH".
    while (!self.empty()) {
        const std::string_view line = self.substr(0, self.find('\n'));
        self.remove_prefix(std::min(line.size() + 1, self.size()));
        const std::size_t a = line.find(':');
        const std::size_t b = a == std::string_view::npos ? a : line.find(':', a + 1);
        if (b == std::string_view::npos) continue;
        const std::string_view controllers = line.substr(a + 1, b - a - 1);
        std::string dir, file;
        if (line.substr(0, a) == "0" && controllers.empty()) {
            dir = root;
            file = "/memory.max";
        } else if (has_item(controllers, "memory")) {
            dir = root + "/memory";
            file = "/memory.limit_in_bytes";
        } else {
            continue;
        }
        // From the process's group up to the root of the hierarchy as mounted here. In a
        // container the group's path may be missing under the mount, whose root then is the
        // container's group: it is read as the root.
        std::string path(line.substr(b + 1));
        for (;;) {
            while (!path.empty() && path.back() == '/') path.pop_back();
            if (const std::optional<uint64_t> limit = limit_in(dir + path + file))
                lowest = std::min(lowest, *limit);
            if (path.empty()) break;
            const std::size_t slash = path.rfind('/');
            path.erase(slash == std::string::npos ? 0 : slash);
        }
    }
    return lowest;
}

std::string readable_size(uint64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    static constexpr const char* UNITS[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    int k = 0;
    while (k < 5 && (bytes >> (10 * (k + 2))) != 0) ++k;
    const int shift = 10 * (k + 1);
    const uint64_t whole = bytes >> shift;
    const uint64_t tenths = ((bytes - (whole << shift)) * 10) >> shift;
    std::string out = std::to_string(whole);
    if (tenths > 0 && whole < 100) out.append(1, '.').append(1, static_cast<char>('0' + tenths));
    return out.append(1, ' ').append(UNITS[k]);
}

}  // namespace kinstrom
