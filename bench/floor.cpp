// The floor for the reading phase of kinstrom: the least work a plain program does to read a
// pedigree file the way kinstrom does, in two full passes. Each pass converts every
// blank-separated number (blanks, tabs, carriage returns, line ends) with std::from_chars into
// a 64-bit integer. The numbers are summed, so the work cannot be left out, and every pass must
// give the same sum.
//
//   kinstrom_floor FILE [PASSES] [read|mmap]      (default: 2 passes, read)
//
// read: each pass reads the file from its start with read() into one reused 1 MiB buffer,
//       parsing each piece up to its last line end (faster here than mapping the file or
//       reading it whole into fresh memory, whose first touch is costly);
// mmap: the file is mapped once (as kinstrom does) and every pass parses the mapping.
//
// Prints, on standard output:
//   kinstrom_floor: FILE (read), 2 passes of B bytes, L lines and N numbers each, sum S
//   kinstrom_floor: pass 1 0.0123 s, pass 2 0.0120 s
//   kinstrom_floor: time 0.0243 s
// The time runs from opening the file to closing it after the last pass (process start and
// exit are left out, as they are from the phase times of kinstrom). Exit status 1 on a read
// error or a value that is not a 64-bit integer, 2 on wrong arguments.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct PassResult {
    uint64_t sum = 0;  // wraps around: only a check value
    int64_t lines = 0;
    int64_t numbers = 0;
};

bool is_blank(char c) {
    return c == ' ' || c == '\n' || c == '\t' || c == '\r';
}

// Converts every number of [p, end) and counts its line ends; false on a value that is not a
// 64-bit integer (the offending line is r.lines + 1).
bool parse(const char* p, const char* end, PassResult& r) {
    for (;;) {
        while (p < end && is_blank(*p)) {
            r.lines += *p == '\n';
            ++p;
        }
        if (p == end) return true;
        int64_t value = 0;
        const auto [next, ec] = std::from_chars(p, end, value);
        if (ec != std::errc{} || (next < end && !is_blank(*next))) return false;
        r.sum += static_cast<uint64_t>(value);
        ++r.numbers;
        p = next;
    }
}

enum class Outcome { ok, read_error, not_a_number };

// One pass over a mapping of the whole file.
Outcome parse_mapped(std::string_view text, PassResult& r) {
    return parse(text.data(), text.data() + text.size(), r) ? Outcome::ok : Outcome::not_a_number;
}

// One pass with read(): the file from its start in pieces of buf.size() bytes, each parsed up
// to its last line end, the rest carried over to the next piece.
Outcome parse_read(int fd, std::vector<char>& buf, PassResult& r) {
    if (::lseek(fd, 0, SEEK_SET) != 0) return Outcome::read_error;
    std::size_t carry = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buf.data() + carry, buf.size() - carry);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return Outcome::read_error;
        const std::size_t n = carry + static_cast<std::size_t>(got);
        std::size_t cut = n;  // at the end of the file: all that is left
        if (got > 0) {
            const std::size_t last = std::string_view(buf.data(), n).rfind('\n');
            if (last == std::string_view::npos) {  // no line end yet: read on
                if (n == buf.size()) buf.resize(2 * buf.size());
                carry = n;
                continue;
            }
            cut = last + 1;
        }
        if (!parse(buf.data(), buf.data() + cut, r)) return Outcome::not_a_number;
        if (got == 0) return Outcome::ok;
        carry = n - cut;
        std::memmove(buf.data(), buf.data() + cut, carry);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const char* const usage = " FILE [PASSES] [read|mmap]\n";
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: %s%s", argv[0], usage);
        return 2;
    }
    const char* name = argv[1];
    const int passes = argc >= 3 ? std::atoi(argv[2]) : 2;
    const std::string_view mode = argc >= 4 ? argv[3] : "read";
    if (passes < 1 || (mode != "mmap" && mode != "read")) {
        std::fprintf(stderr, "usage: %s%s", argv[0], usage);
        return 2;
    }

    const Clock::time_point start = Clock::now();
    const int fd = ::open(name, O_RDONLY);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        std::fprintf(stderr, "kinstrom_floor: cannot open %s: %s\n", name, std::strerror(errno));
        return 1;
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    std::string_view text;
    void* map = nullptr;
    std::vector<char> buf;
    if (mode == "mmap" && size > 0) {
        map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map == MAP_FAILED) {
            std::fprintf(stderr, "kinstrom_floor: cannot map %s: %s\n", name, std::strerror(errno));
            return 1;
        }
        ::madvise(map, size, MADV_SEQUENTIAL);
        text = std::string_view(static_cast<const char*>(map), size);
    } else if (mode == "read") {
        buf.resize(std::size_t{1} << 20);
    }

    std::vector<PassResult> results(static_cast<std::size_t>(passes));
    std::vector<double> pass_seconds;
    Clock::time_point t = start;
    for (PassResult& r : results) {
        const Outcome outcome = mode == "mmap" ? parse_mapped(text, r) : parse_read(fd, buf, r);
        if (outcome == Outcome::read_error) {
            std::fprintf(stderr, "kinstrom_floor: error reading %s: %s\n", name,
                         std::strerror(errno));
            return 1;
        }
        if (outcome == Outcome::not_a_number) {
            std::fprintf(stderr, "kinstrom_floor: %s, line %" PRId64 ": not a 64-bit integer\n",
                         name, r.lines + 1);
            return 1;
        }
        const Clock::time_point now = Clock::now();
        pass_seconds.push_back(std::chrono::duration<double>(now - t).count());
        t = now;
    }
    if (map != nullptr) ::munmap(map, size);
    ::close(fd);
    const double total = std::chrono::duration<double>(Clock::now() - start).count();

    for (const PassResult& r : results) {
        if (r.sum != results[0].sum || r.numbers != results[0].numbers) {
            std::fprintf(stderr, "kinstrom_floor: the passes over %s differ\n", name);
            return 1;
        }
    }
    const PassResult& r = results[0];
    std::printf("kinstrom_floor: %s (%.*s), %d passes of %zu bytes, %" PRId64 " lines and %" PRId64
                " numbers each, sum %" PRIu64 "\n",
                name, static_cast<int>(mode.size()), mode.data(), passes, size, r.lines, r.numbers,
                r.sum);
    std::printf("kinstrom_floor:");
    for (std::size_t i = 0; i < pass_seconds.size(); ++i) {
        std::printf("%s pass %zu %.4f s", i == 0 ? "" : ",", i + 1, pass_seconds[i]);
    }
    std::printf("\nkinstrom_floor: time %.4f s\n", total);
    return 0;
}
