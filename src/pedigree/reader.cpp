#include "pedigree/reader.hpp"

#include <sys/mman.h>
#include <sys/stat.h>

#include <charconv>
#include <cstring>

namespace kinstrom {

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

[[noreturn]] void read_failure(Listing& listing, const std::string& name) {
    listing.blank();
    listing.text("Error when reading file " + name);
    listing.blank();
    listing.text("Program terminates");
    throw FatalStop{};
}

}  // namespace

InputText::~InputText() {
    if (map_ != nullptr) ::munmap(map_, map_size_);
}

void InputText::load(Listing& listing, std::FILE* file, const std::string& name) {
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
            return;
        }
    }
    // Not a regular file, or not mappable: read it whole.
    char buffer[1 << 16];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) copy_.append(buffer, n);
    if (std::ferror(file)) read_failure(listing, name);
    text_ = copy_;
}

bool RecordReader::start() {
    for (;;) {
        while (p_ < end_ && is_blank(*p_)) ++p_;
        if (p_ == end_) return false;
        if (*p_ != '\n') break;
        ++p_;
    }
    first_ = true;
    return true;
}

void RecordReader::finish() {
    const void* nl = std::memchr(p_, '\n', static_cast<std::size_t>(end_ - p_));
    p_ = nl == nullptr ? end_ : static_cast<const char*>(nl) + 1;
}

// Moves to the first character of the next value.
bool RecordReader::next_value() {
    if (first_) {
        first_ = false;
        return *p_ != ',';
    }
    bool comma = false;
    for (;;) {
        while (p_ < end_ && is_blank(*p_)) ++p_;
        if (p_ == end_) return false;
        if (*p_ == '\n') {
            ++p_;
        } else if (*p_ == ',') {
            if (comma) return false;
            comma = true;
            ++p_;
        } else {
            return true;
        }
    }
}

bool RecordReader::ends_value(const char* q) const {
    return q == end_ || is_blank(*q) || *q == ',' || *q == '\n';
}

bool RecordReader::int64(int64_t& v) {
    if (!next_value()) return false;
    const char* s = p_;
    if (*s == '+') {
        ++s;
        if (s == end_ || *s == '-') return false;
    }
    int64_t value = 0;
    const auto [q, ec] = std::from_chars(s, end_, value);
    if (ec != std::errc() || !ends_value(q)) return false;
    p_ = q;
    v = value;
    return true;
}

bool RecordReader::int32(int32_t& v) {
    int64_t value = 0;
    if (!int64(value) || value < INT32_MIN || value > INT32_MAX) return false;
    v = static_cast<int32_t>(value);
    return true;
}

bool RecordReader::real(double& v) {
    if (!next_value()) return false;
    const char* q = p_;
    while (!ends_value(q)) ++q;
    char token[128];
    const auto length = static_cast<std::size_t>(q - p_);
    if (length >= sizeof token) return false;
    std::size_t n = 0;
    for (const char* s = p_; s < q; ++s) {
        if (n == 0 && *s == '+') continue;
        token[n++] = (*s == 'd' || *s == 'D') ? 'e' : *s;
    }
    // Digits or a point must lead: no "inf" or "nan".
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

}  // namespace kinstrom
