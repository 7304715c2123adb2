#include "input/reader.hpp"

#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <utility>

#include "diagnostics/diagnostics.hpp"

namespace kinstrom {

namespace {

// The file's first bytes when they mark a compressed file that is not read as it is.
const char* compression(std::string_view text) {
    const auto starts = [&](std::string_view magic) {
        return text.substr(0, magic.size()) == magic;
    };
    if (starts("BZh")) return "bzip2";
    if (starts(std::string_view("\xfd"
                                "7zXZ\0",
                                6)))
        return "xz";
    if (starts("PK\x03\x04")) return "zip";
    return nullptr;
}

// How a text is compressed, when it is: "gzip", "zstd", or one of the formats not read.
const char* compressed_as(std::string_view text) {
    const Packing packing = packing_of(text);
    return packing != Packing::none ? packing_name(packing) : compression(text);
}

}  // namespace

InputText::~InputText() {
    if (map_ != nullptr) ::munmap(map_, map_size_);
}

void InputText::load(Listing& listing, std::FILE* file, const std::string& name,
                     const InputBound& bound) {
    const int fd = ::fileno(file);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const auto size = static_cast<std::size_t>(st.st_size);
        if (size == 0) {
            text_ = {};
            return;
        }
        void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        if (map != MAP_FAILED) {
            ::madvise(map, size, MADV_SEQUENTIAL);
            map_ = map;
            map_size_ = size;
            text_ = std::string_view(static_cast<const char*>(map), size);
            unpack_if_compressed(listing, name, bound);
            return;
        }
    }
    // Not a regular file, or not mappable: read it whole.
    char buffer[1 << 16];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) copy_.append(buffer, n);
    if (std::ferror(file)) read_failure(listing, name);
    text_ = copy_;
    unpack_if_compressed(listing, name, bound);
}

void InputText::unpack_if_compressed(Listing& listing, const std::string& name,
                                     const InputBound& bound) {
    const Packing packing = packing_of(text_);
    if (packing == Packing::none) return;
    const std::string cannot =
        "cannot read the file, compressed with " + std::string(packing_name(packing)) + ": ";
    std::string fault;
    if (!unpack(packing, text_, bound, unpacked_, fault))
        read_failure(listing, name, cannot + fault);
    // Compressed twice: told, not decompressed once more.
    if (const char* inner = compressed_as(unpacked_.text())) {
        const bool read = packing_of(unpacked_.text()) != Packing::none;
        const char* article = inner[0] == 'x' ? "an " : "a ";
        read_failure(listing, name,
                     cannot + "its text is compressed once more, with " + inner + " (" + article +
                         inner + " file inside a " + packing_name(packing) +
                         " file): decompress it " +
                         (read ? "once, and the file it gives is read as it is"
                               : "twice, and read the plain file"));
    }
    // Only the decompressed text is kept.
    if (map_ != nullptr) ::munmap(std::exchange(map_, nullptr), map_size_);
    std::string().swap(copy_);
    text_ = unpacked_.text();
}

bool RecordReader::real(double& v) {
    if (!next_value()) return false;
    const char* q = p_;
    while (!ends_value(q)) ++q;
    char token[128];
    const auto length = static_cast<std::size_t>(q - p_);
    if (length >= sizeof token) return false;
    // At most one sign: a leading '+' is dropped, and a second sign makes the value invalid.
    const char* s = p_;
    if (*s == '+' && ++s < q && (*s == '-' || *s == '+')) return false;
    std::size_t n = 0;
    for (; s < q; ++s) token[n++] = (*s == 'd' || *s == 'D') ? 'e' : *s;
    // Digits or a point must lead (after a '-'): no second sign, no "inf" or "nan".
    const std::size_t lead = (n > 0 && token[0] == '-') ? 1 : 0;
    if (n <= lead || !((token[lead] >= '0' && token[lead] <= '9') || token[lead] == '.'))
        return false;
    double value = 0;
    const auto [end, ec] = std::from_chars(token, token + n, value);
    if (ec != std::errc() || end != token + n) return false;
    p_ = q;
    v = value;
    return true;
}

LineColumn line_column(std::string_view text, std::size_t offset) {
    offset = std::min(offset, text.size());
    int64_t line = 1;
    std::size_t line_start = 0;
    for (const char *p = text.data(), *end = text.data() + offset;
         (p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p))));
         ++p) {
        ++line;
        line_start = static_cast<std::size_t>(p - text.data()) + 1;
    }
    return {line, static_cast<int64_t>(offset - line_start) + 1};
}

namespace {

std::string expected_value(InputKind kind, int32_t value, int32_t n_bpop) {
    switch (kind) {
        case InputKind::pedigree: {
            static constexpr const char* FIELDS[] = {
                "the individual's ID, an integer", "the sire's ID, an integer",
                "the dam's ID, an integer", "the sort variable (birth date), an integer"};
            return value >= 1 && value <= 4 ? FIELDS[value - 1] : "nothing more";
        }
        case InputKind::trace:
            return "the ID of an individual to trace, an integer";
        case InputKind::breeds:
            if (value <= 1) return "a PHG code, an integer below 0";
            return "breed proportion " + std::to_string(value - 1) + " of " +
                   std::to_string(n_bpop) + ", a real number";
    }
    return {};
}

bool has_letter(std::string_view s) {
    return std::any_of(s.begin(), s.end(),
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); });
}

bool is_id(InputKind kind, int32_t value) {
    return (kind == InputKind::pedigree && value <= 3) || kind == InputKind::trace ||
           (kind == InputKind::breeds && value == 1);
}

// The likely cause of an unreadable value `token` (empty at the end of the file).
std::string likely_cause(std::string_view text, std::string_view token, std::size_t at,
                         std::string_view line, InputKind kind, int32_t value, int32_t nobs,
                         bool null_value) {
    if (const char* packed = compression(text))
        return std::string("the file looks compressed (") + packed +
               "): decompress it first (gzip and zstd files are read as they are)";
    if (text.substr(0, 3) == "\xef\xbb\xbf" && at < 3)
        return "the file begins with a byte-order mark: save it as plain text without one";
    if (null_value) return "an empty value between two commas";
    for (const char sep : {';', '|'})
        if (line.find(sep) != std::string_view::npos)
            return std::string("values seem to be separated by '") + sep +
                   "': separate them by blanks or by one comma, or read the file as a table "
                   "(kinstrom --table)";
    int words = 0;  // blank-separated parts of the line holding letters
    for (std::size_t i = 0; i < line.size();) {
        const std::size_t end = std::min(line.find_first_of(" \t\r,", i), line.size());
        words += has_letter(line.substr(i, end - i)) ? 1 : 0;
        i = end + 1;
    }
    if (nobs == 1 && value == 1 && words >= 2)
        return "the first line looks like a header line: remove it, or read the file as a table "
               "(kinstrom --table)";
    for (const std::string_view word : {"NA", "na", "N/A", ".", "-", "NULL", "null", "NaN"})
        if (token == word)
            return "a missing value written " + std::string(word) +
                   (kind == InputKind::pedigree && (value == 2 || value == 3)
                        ? ": write an unknown parent as a PHG code (0 or below)"
                        : ": every value must be given");
    if (is_id(kind, value) && has_letter(token))
        return "IDs are integers here: read the file as a table (kinstrom --table) to keep text "
               "IDs as they are";
    const bool digits =
        !token.empty() && std::all_of(token.begin() + (token[0] == '-' || token[0] == '+'),
                                      token.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits)
        return kind == InputKind::pedigree && value == 4
                   ? "the number is too large: the sort variable is a 32-bit integer"
                   : "the number is too large: IDs are 64-bit integers";
    return {};
}

}  // namespace

StopCause invalid_input_cause(std::string_view text, const RecordReader& r, InputKind kind,
                              int32_t nobs, int32_t n_bpop, const std::string& file,
                              const std::string& refused, bool first_value) {
    // A refused first value (an ID of 0) is told at the record's start, whatever was read after.
    const std::size_t at = first_value ? r.record_offset() : r.value_offset();
    const bool at_end =
        at >= text.size() || text.find_first_not_of(" \t\r\n,", at) == std::string_view::npos;
    // At the end of the file the place is just after the record's last value.
    const std::size_t shown = at_end ? std::min(text.find_last_not_of(" \t\r\n") + 1, at) : at;
    const LineColumn lc = line_column(text, shown);
    const std::string_view rest = text.substr(at);
    const std::size_t token_end = rest.find_first_of(" \t\r\n,");
    const std::string_view token = rest.substr(0, token_end);
    const std::string_view line = rest.substr(0, rest.find('\n'));
    const int32_t value = first_value ? 1 : r.value_number();
    std::string t = "record " + std::to_string(nobs) + ": ";
    if (!refused.empty()) {
        t += quoted_bytes(token) + " " + refused;
    } else if (at_end) {
        t += "the file ends where " + expected_value(kind, value, n_bpop) + " was expected";
    } else {
        t += "found " + quoted_bytes(token.empty() ? rest.substr(0, 1) : token) + " where " +
             expected_value(kind, value, n_bpop) + " was expected";
        const std::string cause = likely_cause(text, token, at, line, kind, value, nobs,
                                               token.empty() && rest.substr(0, 1) == ",");
        if (!cause.empty()) t += "; " + cause;
    }
    return {file, lc.line, lc.column, t};
}

}  // namespace kinstrom
