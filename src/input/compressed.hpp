// Compressed input files: gzip (one or more members) and zstd (one or more frames, skippable
// frames passed over, windows up to the format's 2 GiB), recognised by their first bytes
// whatever the file's name, and decompressed whole before reading, so that they read as the
// plain file would. The text never grows past its bound (input/bound.hpp): zstd frames that
// declare more are refused before any is decompressed, any other data as soon as its text
// passes the bound, and under a bound below 1 GiB a zstd window past 128 MiB.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "input/bound.hpp"

namespace kinstrom {

enum class Packing { none, gzip, zstd };

// How `bytes` (a file's beginning or whole) is compressed; zstd data may begin with a skippable
// frame.
Packing packing_of(std::string_view bytes);
const char* packing_name(Packing packing);

// The decompressed text, in memory of its own that grows without being copied.
class Unpacked {
  public:
    Unpacked() = default;
    Unpacked(const Unpacked&) = delete;
    Unpacked& operator=(const Unpacked&) = delete;
    ~Unpacked();

    std::string_view text() const { return {data_, size_}; }

    // The text may hold `bytes` at most: the room stops one byte past them, and a text that
    // fills it, that byte included, is over().
    void limit(uint64_t bytes);
    bool over() const { return size_ == end_; }

    // Room for at least `n` more bytes after the text, or as many as the limit leaves; throws
    // std::bad_alloc.
    void make_room(std::size_t n);
    char* end() { return data_ + size_; }
    std::size_t room() const { return std::min(capacity_, end_) - size_; }
    void wrote(std::size_t n) { size_ += n; }

  private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    std::size_t end_ = SIZE_MAX;  // the limit and one byte (SIZE_MAX: none)
};

// Decompresses every member or frame of `packed` into `out`, its text at most `bound.bytes`.
// False, with `fault` a sentence for the user, when the data is corrupt, cut short, followed by
// bytes that are not compressed data, needs a zstd dictionary, expands past the bound, or when
// memory runs out.
bool unpack(Packing packing, std::string_view packed, const InputBound& bound, Unpacked& out,
            std::string& fault);

}  // namespace kinstrom
