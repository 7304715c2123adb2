#include "pedigree/reader.hpp"

#include <sys/mman.h>
#include <sys/stat.h>

#include <charconv>
#include <cstring>

namespace kinstrom {

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

}  // namespace kinstrom
