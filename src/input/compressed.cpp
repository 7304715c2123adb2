#include "input/compressed.hpp"

#include <zlib.h>
#include <zstd.h>

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace kinstrom {

Unpacked::~Unpacked() {
    if (data_ != nullptr) ::munmap(data_, capacity_);
}

void Unpacked::make_room(std::size_t n) {
    if (room() >= n) return;
    // Half again as much, in whole pages; the pages move, the bytes are not copied.
    const std::size_t page = 4096;
    std::size_t capacity = std::max(size_ + n, capacity_ / 2 * 3);
    capacity = (capacity + page - 1) / page * page;
    void* p = data_ == nullptr ? ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE,
                                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                               : ::mremap(data_, capacity_, capacity, MREMAP_MAYMOVE);
    if (p == MAP_FAILED) throw std::bad_alloc();
    data_ = static_cast<char*>(p);
    capacity_ = capacity;
}

namespace {

// zlib counts its buffers in 32 bits: hand them over a gibibyte at a time.
constexpr std::size_t ZLIB_STEP = std::size_t{1} << 30;

uInt step(std::size_t n) {
    return static_cast<uInt>(std::min(n, ZLIB_STEP));
}

// The first size to make room for: what the data says of itself when that is believable (a
// damaged or hostile header may claim any size), else a guess; the room grows as needed.
std::size_t first_room(std::size_t packed, std::size_t claimed) {
    const std::size_t believable = std::max(packed * 16, std::size_t{64} << 20);
    return claimed > 0 ? std::min(claimed + 1, believable) : packed * 4;
}

std::string at_byte(std::size_t offset) {
    return " at byte " + std::to_string(offset + 1) + " of the file";
}

bool gunzip(std::string_view packed, Unpacked& out, std::string& fault) {
    // The last member's trailer holds its size modulo 2^32: exact for the usual single member
    // under 4 GiB, a first guess otherwise.
    uint32_t isize = 0;
    if (packed.size() >= 18)
        for (int i = 0; i < 4; ++i)
            isize |= uint32_t{static_cast<unsigned char>(packed[packed.size() - 4 + i])} << (8 * i);
    out.make_room(first_room(packed.size(), isize));
    z_stream zs{};
    if (inflateInit2(&zs, 16 + MAX_WBITS) != Z_OK) {
        fault = "the gzip decompressor cannot start: not enough memory";
        return false;
    }
    const auto* begin = reinterpret_cast<const Bytef*>(packed.data());
    std::size_t pos = 0;  // bytes of `packed` handed to inflate so far
    bool ok = false;
    for (;;) {
        if (zs.avail_in == 0 && pos < packed.size()) {
            zs.next_in = const_cast<Bytef*>(begin + pos);
            zs.avail_in = step(packed.size() - pos);
            pos += zs.avail_in;
        }
        out.make_room(1);
        zs.next_out = reinterpret_cast<Bytef*>(out.end());
        zs.avail_out = step(out.room());
        const uInt room = zs.avail_out, input = zs.avail_in;
        const int rc = inflate(&zs, Z_NO_FLUSH);
        out.wrote(room - zs.avail_out);
        const bool stuck = room == zs.avail_out && input == zs.avail_in;
        const std::size_t at = pos - zs.avail_in;  // the first byte not yet taken
        if (rc == Z_STREAM_END) {
            if (at == packed.size()) {
                ok = true;
                break;
            }
            // Another member must follow.
            if (packing_of(packed.substr(at)) != Packing::gzip) {
                fault = "bytes that are not gzip data follow the compressed data" + at_byte(at) +
                        ": the file is damaged";
                break;
            }
            inflateReset(&zs);
        } else if (rc == Z_BUF_ERROR && zs.avail_in == 0 && pos == packed.size()) {
            fault =
                "the gzip data ends early: the file is cut short (truncated); compress it "
                "again or copy it whole";
            break;
        } else if ((rc != Z_OK && rc != Z_BUF_ERROR) || (stuck && zs.avail_out > 0)) {
            fault = std::string("the gzip data is corrupt (") +
                    (zs.msg != nullptr ? zs.msg : "inflate error " + std::to_string(rc)) +
                    ", found" + at_byte(at) + "): compress the file again or copy it whole";
            break;
        }
    }
    inflateEnd(&zs);
    return ok;
}

bool unzstd(std::string_view packed, Unpacked& out, std::string& fault) {
    // The first frame's size, when its header gives it: the whole text for the usual one frame.
    const unsigned long long known = ZSTD_getFrameContentSize(packed.data(), packed.size());
    const bool sized = known != ZSTD_CONTENTSIZE_UNKNOWN && known != ZSTD_CONTENTSIZE_ERROR;
    out.make_room(first_room(packed.size(), sized ? static_cast<std::size_t>(known) : 0));
    ZSTD_DCtx* dctx = ZSTD_createDCtx();
    if (dctx == nullptr) {
        fault = "the zstd decompressor cannot start: not enough memory";
        return false;
    }
    ZSTD_inBuffer in{packed.data(), packed.size(), 0};
    bool ok = false;
    for (;;) {
        out.make_room(1);
        ZSTD_outBuffer buffer{out.end(), out.room(), 0};
        const std::size_t rc = ZSTD_decompressStream(dctx, &buffer, &in);
        out.wrote(buffer.pos);
        if (ZSTD_isError(rc)) {
            fault = std::string("the zstd data is corrupt (") + ZSTD_getErrorName(rc) +
                    "): compress the file again or copy it whole";
            break;
        }
        if (in.pos < in.size || buffer.pos == buffer.size) continue;
        // All input taken and room left: either every frame is complete or the data ends early.
        if (rc == 0) {
            ok = true;
        } else {
            fault =
                "the zstd data ends early: the file is cut short (truncated); compress it "
                "again or copy it whole";
        }
        break;
    }
    ZSTD_freeDCtx(dctx);
    return ok;
}

}  // namespace

Packing packing_of(std::string_view bytes) {
    if (bytes.size() >= 2 && bytes[0] == '\x1f' && bytes[1] == '\x8b') return Packing::gzip;
    if (bytes.substr(0, 4) == std::string_view("\x28\xb5\x2f\xfd", 4)) return Packing::zstd;
    return Packing::none;
}

const char* packing_name(Packing packing) {
    switch (packing) {
        case Packing::gzip:
            return "gzip";
        case Packing::zstd:
            return "zstd";
        case Packing::none:
            break;
    }
    return "plain";
}

bool unpack(Packing packing, std::string_view packed, Unpacked& out, std::string& fault) {
    try {
        if (packing == Packing::gzip) return gunzip(packed, out, fault);
        if (packing == Packing::zstd) return unzstd(packed, out, fault);
    } catch (const std::bad_alloc&) {
        fault =
            std::string("not enough memory to decompress the ") + packing_name(packing) + " data";
        return false;
    }
    fault = "the file is not compressed";
    return false;
}

}  // namespace kinstrom
