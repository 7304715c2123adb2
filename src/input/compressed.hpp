// Compressed input files: gzip (one or more members) and zstd (one or more frames), recognised
// by their first bytes whatever the file's name, and decompressed whole before reading, so that
// they read as the plain file would.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kinstrom {

enum class Packing { none, gzip, zstd };

// How `bytes` (a file's beginning or whole) is compressed.
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

    // Room for at least `n` more bytes after the text; throws std::bad_alloc.
    void make_room(std::size_t n);
    char* end() { return data_ + size_; }
    std::size_t room() const { return capacity_ - size_; }
    void wrote(std::size_t n) { size_ += n; }

  private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Decompresses every member or frame of `packed`. False, with `fault` a sentence for the user,
// when the data is corrupt, cut short, followed by bytes that are not compressed data, or when
// memory runs out.
bool unpack(Packing packing, std::string_view packed, Unpacked& out, std::string& fault);

}  // namespace kinstrom
