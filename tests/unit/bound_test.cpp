// The bound of a decompressed input: KINSTROM_MAX_INPUT read at its limits, the machine's
// memory and the variable against each other, control-group limits found in a tree of files.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "input/bound.hpp"

namespace kinstrom {
namespace {

constexpr uint64_t GiB = uint64_t{1} << 30;

TEST(InputBound, SizeOfTheVariable) {
    const std::pair<const char*, std::optional<uint64_t>> rows[] = {
        {"1", 1},
        {"4096", 4096},
        {"2K", 2048},
        {"3m", 3 << 20},
        {"5G", 5 * GiB},
        {"1t", uint64_t{1} << 40},
        {"18446744073709551615", UINT64_MAX},
        {"16777215T", uint64_t{16777215} << 40},
        {"16777216T", std::nullopt},
        {"18446744073709551616", std::nullopt},
        {"0", std::nullopt},
        {"0K", std::nullopt},
        {"-5", std::nullopt},
        {"+5", std::nullopt},
        {" 5", std::nullopt},
        {"5 ", std::nullopt},
        {"5KB", std::nullopt},
        {"1.5G", std::nullopt},
        {"K", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, bytes] : rows) EXPECT_EQ(parse_size(text), bytes) << text;
}

TEST(InputBound, MachineAndVariable) {
    MachineMemory m{24 * GiB, NO_BOUND, NO_BOUND};
    std::string warning = "stale";
    const auto bound = [&](const char* variable) {
        const InputBound b = input_bound(m, variable, warning);
        return readable_size(b.bytes) + ", " + b.what + "; or " + b.raise;
    };
    EXPECT_EQ(bound(nullptr),
              "12 GiB, half the physical memory; or allow more with KINSTROM_MAX_INPUT");
    EXPECT_EQ(warning, "");
    EXPECT_EQ(bound(""), bound(nullptr));
    EXPECT_EQ(bound("2G"),
              "2 GiB, the bound set by KINSTROM_MAX_INPUT; or raise KINSTROM_MAX_INPUT");
    EXPECT_EQ(bound("100G"),
              "24 GiB, the physical memory; or run it on a machine with more memory");
    m.cgroup = 8 * GiB;
    EXPECT_EQ(bound(nullptr),
              "4 GiB, half the memory limit of the process's control group; or allow more with "
              "KINSTROM_MAX_INPUT");
    EXPECT_EQ(bound("10G"),
              "8 GiB, the memory limit of the process's control group; or run it with a higher "
              "memory limit");
    m.address_space = GiB;
    const std::string as =
        "1 GiB, the address space left to the process (ulimit -v); or raise "
        "the address-space limit (ulimit -v)";
    EXPECT_EQ(bound(nullptr), as);
    EXPECT_EQ(bound("3G"), as);
    EXPECT_EQ(warning, "");
    // A malformed value: the machine's bound, and one warning with the value escaped.
    EXPECT_EQ(bound("12Q\x1b"), as);
    EXPECT_EQ(warning,
              "KINSTROM_MAX_INPUT=\"12Q\\x1b\" is not a size: give a whole number of bytes above "
              "0, or of KiB, MiB, GiB or TiB with K, M, G or T after it; the machine's bound is "
              "used instead, 1 GiB (the address space left to the process (ulimit -v))");
    m = {};
    EXPECT_EQ(input_bound(m, "0", warning).bytes, NO_BOUND);
    EXPECT_EQ(warning.substr(warning.rfind(';')), "; compressed input is not bounded");
}

TEST(InputBound, ControlGroupLimits) {
    std::string name = std::filesystem::temp_directory_path() / "kinstrom_cgroup_XXXXXX";
    ASSERT_NE(::mkdtemp(name.data()), nullptr);
    const std::filesystem::path root = name;
    const auto limit = [&](const std::string& dir, const std::string& file, const char* value) {
        std::filesystem::create_directories(root / dir);
        std::ofstream(root / dir / file) << value << "\n";
    };
    limit("a", "memory.max", "max");
    limit("a/b", "memory.max", "3000");
    limit("memory/p", "memory.limit_in_bytes", "9223372036854771712");
    limit("memory/p/q", "memory.limit_in_bytes", "2000");
    const auto lowest = [&](const char* self) { return cgroup_memory_limit(self, name); };
    EXPECT_EQ(lowest("0::/a/b\n"), 3000u);
    EXPECT_EQ(lowest("0::/a\n"), NO_BOUND);
    EXPECT_EQ(lowest("4:memory:/p/q\n3:cpu,cpuacct:/\n0::/\n"), 2000u);
    EXPECT_EQ(lowest("4:cpuset,memory:/p\n"), 9223372036854771712u);
    EXPECT_EQ(lowest("1:cpu:/a/b\nbroken\n"), NO_BOUND);
    // A group whose path is not under the mount (another namespace): the mount's root holds.
    EXPECT_EQ(lowest("0::/elsewhere/c\n"), NO_BOUND);
    limit("", "memory.max", "5000");
    EXPECT_EQ(lowest("0::/elsewhere/c"), 5000u);
    EXPECT_EQ(lowest("0::/a/b"), 3000u);
    std::filesystem::remove_all(root);
}

TEST(InputBound, ReadableSizes) {
    const std::pair<uint64_t, const char*> rows[] = {
        {0, "0 bytes"},
        {1, "1 byte"},
        {1023, "1023 bytes"},
        {1024, "1 KiB"},
        {1535, "1.4 KiB"},
        {1000000, "976 KiB"},
        {12589015040, "11.7 GiB"},
        {UINT64_MAX, "15.9 EiB"},
    };
    for (const auto& [bytes, text] : rows) EXPECT_EQ(readable_size(bytes), text) << bytes;
}

}  // namespace
}  // namespace kinstrom
