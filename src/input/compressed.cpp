#include "input/compressed.hpp"

#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace kinstrom {

Unpacked::~Unpacked() {
    if (data_ != nullptr) ::munmap(data_, capacity_);
}

void Unpacked::limit(uint64_t bytes) {
    end_ = bytes >= SIZE_MAX - 1 ? SIZE_MAX : static_cast<std::size_t>(bytes) + 1;
}

void Unpacked::make_room(std::size_t n) {
    if (room() >= n || capacity_ >= end_) return;
    // Half again as much, in whole pages, up to the limit; the pages move, the bytes are not
    // copied.
    const std::size_t page = 4096;
    std::size_t capacity = std::min(std::max(size_ + n, capacity_ / 2 * 3), end_);
    if (capacity > SIZE_MAX - page) throw std::bad_alloc();
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
std::size_t first_room(std::size_t packed, uint64_t claimed) {
    const std::size_t believable = std::max(packed * 16, std::size_t{64} << 20);
    return claimed > 0 ? static_cast<std::size_t>(std::min<uint64_t>(claimed + 1, believable))
                       : packed * 4;
}

std::string at_byte(std::size_t offset) {
    return " at byte " + std::to_string(offset + 1) + " of the file";
}

// What to do about a text that the bound does not let in.
std::string bound_advice(const InputBound& bound) {
    return ": decompress it to a plain file first (a plain file is mapped, not held in memory), "
           "or " +
           bound.raise;
}

// The text would pass the bound; `declared`: what the data says of its size, if anything.
std::string past_bound(const InputBound& bound, const std::string& declared = {}) {
    return "the text expands past " + readable_size(bound.bytes) + ", " + bound.what + declared +
           bound_advice(bound);
}

bool gunzip(std::string_view packed, Unpacked& out, std::string& fault, const InputBound& bound) {
    // The last member's trailer holds its size modulo 2^32: exact for the usual single member
    // under 4 GiB, a first guess otherwise (and nothing to stop on: a damaged or cut-short
    // file has any bytes there).
    uint32_t isize = 0;
    if (packed.size() >= 18)
        for (std::size_t i = 0; i < 4; ++i)
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
        if (out.over()) {
            fault = past_bound(bound);
            break;
        }
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

// A zstd skippable frame begins here: magic numbers 0x184D2A50 to 0x184D2A5F, little-endian.
bool skippable(std::string_view bytes) {
    return bytes.size() >= 4 && (static_cast<unsigned char>(bytes[0]) & 0xf0) == 0x50 &&
           bytes.substr(1, 3) == "\x2a\x4d\x18";
}

// What the zstd frame headers say, read without decompressing: the sizes they declare and the
// dictionary a frame needs. The walk stops at data that is not a whole frame, which the
// decompressor then finds at fault.
struct ZstdFrames {
    uint64_t declared = 0;  // the sum of the sizes declared (2^64 - 1 when more)
    int sized = 0;          // frames that declare their size
    unsigned dictionary = 0;
};

ZstdFrames zstd_frames(std::string_view packed) {
    ZstdFrames frames;
    while (!packed.empty()) {
        const std::size_t length = ZSTD_findFrameCompressedSize(packed.data(), packed.size());
        if (ZSTD_isError(length)) break;
        // A skippable frame declares no text.
        const unsigned long long size = ZSTD_getFrameContentSize(packed.data(), length);
        if (size != ZSTD_CONTENTSIZE_UNKNOWN && size != ZSTD_CONTENTSIZE_ERROR &&
            !skippable(packed)) {
            ++frames.sized;
            if (__builtin_add_overflow(frames.declared, size, &frames.declared))
                frames.declared = NO_BOUND;
        }
        if (frames.dictionary == 0)
            frames.dictionary = ZSTD_getDictID_fromFrame(packed.data(), length);
        packed.remove_prefix(length);
    }
    return frames;
}

// The decompressor holds a window of the text besides the text: any window the format allows
// (files made for long-distance matching, up to 2 GiB) when the bound does, else up to the
// first power of two that holds the bound, but never less than the 128 MiB that files made
// without long-distance matching may need.
int window_log_for(uint64_t bound) {
    const int most = ZSTD_dParam_getBounds(ZSTD_d_windowLogMax).upperBound;
    int log = 27;
    while (log < most && (uint64_t{1} << log) < bound) ++log;
    return log;
}

std::string zstd_fault(std::size_t rc, int window_log, const InputBound& bound) {
    if (ZSTD_getErrorCode(rc) == ZSTD_error_frameParameter_windowTooLarge &&
        window_log < ZSTD_dParam_getBounds(ZSTD_d_windowLogMax).upperBound)
        return "the zstd data needs a window (zstd --long) past " +
               readable_size(uint64_t{1} << window_log) +
               ", the largest allowed for a text of at most " + readable_size(bound.bytes) + ", " +
               bound.what + bound_advice(bound);
    return std::string("the zstd data is corrupt (") + ZSTD_getErrorName(rc) +
           "): compress the file again or copy it whole";
}

bool unzstd(std::string_view packed, Unpacked& out, std::string& fault, const InputBound& bound) {
    const ZstdFrames frames = zstd_frames(packed);
    if (frames.dictionary != 0) {
        fault = "the zstd data needs a zstd dictionary (dictionary ID " +
                std::to_string(frames.dictionary) +
                ") to be decompressed: decompress it with its dictionary first (zstd -d -D "
                "DICTIONARY) and read the plain file";
        return false;
    }
    if (frames.declared > bound.bytes) {
        fault = past_bound(bound, " (its zstd frame header" +
                                      std::string(frames.sized > 1 ? "s declare " : " declares ") +
                                      readable_size(frames.declared) + ")");
        return false;
    }
    out.make_room(first_room(packed.size(), frames.declared));
    const std::unique_ptr<ZSTD_DCtx, std::size_t (*)(ZSTD_DCtx*)> dctx(ZSTD_createDCtx(),
                                                                       &ZSTD_freeDCtx);
    if (dctx == nullptr) {
        fault = "the zstd decompressor cannot start: not enough memory";
        return false;
    }
    const int window_log = window_log_for(bound.bytes);
    ZSTD_DCtx_setParameter(dctx.get(), ZSTD_d_windowLogMax, window_log);
    ZSTD_inBuffer in{packed.data(), packed.size(), 0};
    for (;;) {
        out.make_room(1);
        ZSTD_outBuffer buffer{out.end(), out.room(), 0};
        const std::size_t rc = ZSTD_decompressStream(dctx.get(), &buffer, &in);
        out.wrote(buffer.pos);
        if (out.over()) {
            fault = past_bound(bound);
            return false;
        }
        if (ZSTD_isError(rc)) {
            if (ZSTD_getErrorCode(rc) == ZSTD_error_memory_allocation) throw std::bad_alloc();
            fault = zstd_fault(rc, window_log, bound);
            return false;
        }
        if (in.pos < in.size || buffer.pos == buffer.size) continue;
        // All input taken and room left: either every frame is complete or the data ends early.
        if (rc == 0) return true;
        fault =
            "the zstd data ends early: the file is cut short (truncated); compress it again or "
            "copy it whole";
        return false;
    }
}

}  // namespace

Packing packing_of(std::string_view bytes) {
    if (bytes.size() >= 2 && bytes[0] == '\x1f' && bytes[1] == '\x8b') return Packing::gzip;
    if (bytes.substr(0, 4) == std::string_view("\x28\xb5\x2f\xfd", 4)) return Packing::zstd;
    if (skippable(bytes)) return Packing::zstd;
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

bool unpack(Packing packing, std::string_view packed, const InputBound& bound, Unpacked& out,
            std::string& fault) {
    out.limit(bound.bytes);
    try {
        if (packing == Packing::gzip) return gunzip(packed, out, fault, bound);
        if (packing == Packing::zstd) return unzstd(packed, out, fault, bound);
    } catch (const std::bad_alloc&) {
        fault = std::string("not enough memory to decompress the ") + packing_name(packing) +
                " data: decompress it to a plain file first (a plain file is mapped, not held in "
                "memory)";
        return false;
    }
    fault = "the file is not compressed";
    return false;
}

}  // namespace kinstrom
