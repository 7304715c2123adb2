// The distinct text IDs of a pedigree table, with their hash index (for the table reader, not a
// header for other rooms).
#pragma once

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

namespace kinstrom {

// The longest ID: a field of the outputs widens to the longest text of a run, and must fit in
// the 120 columns of a file.
inline constexpr std::size_t MAX_ID_BYTES = 100;

// A hash of a short text, eight bytes at a time.
inline uint64_t text_hash(std::string_view t) {
    uint64_t h = 0x9e3779b97f4a7c15ULL ^ t.size();
    const char* p = t.data();
    std::size_t n = t.size();
    for (; n >= 8; n -= 8, p += 8) {
        uint64_t w = 0;
        std::memcpy(&w, p, 8);
        h = (h ^ w) * 0xbf58476d1ce4e5b9ULL;
        h ^= h >> 29;
    }
    uint64_t w = 0;
    std::memcpy(&w, p, n);
    h ^= w;
    // Every bit of the result depends on every bit of h.
    h = (h ^ (h >> 30)) * 0xbf58476d1ce4e5b9ULL;
    h = (h ^ (h >> 27)) * 0x94d049bb133111ebULL;
    return h ^ (h >> 31);
}

// Whether the n bytes at a and b are the same.
inline bool same_bytes(const char* a, const char* b, std::size_t n) {
    for (; n >= 8; n -= 8, a += 8, b += 8) {
        uint64_t x = 0, y = 0;
        std::memcpy(&x, a, 8);
        std::memcpy(&y, b, 8);
        if (x != y) return false;
    }
    for (; n > 0; --n)
        if (*a++ != *b++) return false;
    return true;
}

// The distinct texts met (of at most MAX_ID_BYTES), in order of first appearance, with a hash
// index. A slot holds what a lookup compares: part of the hash, the length and where the bytes
// are, so that a lookup reads the slot and the bytes only.
class TextIndex {
  public:
    // The index of `t` among the texts, entered when new.
    uint32_t enter(std::string_view t) { return enter(t, text_hash(t)); }
    // The same with the text's hash known.
    uint32_t enter(std::string_view t, uint64_t h) {
        if (4 * (texts_.size() + 1) > 3 * slots_.size()) grow();
        const uint32_t tag = tag_of(h, t.size());
        for (std::size_t s = h & mask_;; s = (s + 1) & mask_) {
            Slot& slot = slots_[s];
            if (slot.index == 0) {
                texts_.push_back(pack(t));
                slot = {tag, static_cast<uint32_t>(texts_.size()), t.data()};
                return slot.index - 1;
            }
            if (slot.tag == tag && same_bytes(slot.data, t.data(), t.size())) return slot.index - 1;
        }
    }
    // The index of `t`, or -1.
    int64_t find(std::string_view t) const {
        if (slots_.empty() || t.size() > MAX_ID_BYTES) return -1;
        const uint64_t h = text_hash(t);
        const uint32_t tag = tag_of(h, t.size());
        for (std::size_t s = h & mask_;; s = (s + 1) & mask_) {
            const Slot& slot = slots_[s];
            if (slot.index == 0) return -1;
            if (slot.tag == tag && same_bytes(slot.data, t.data(), t.size())) return slot.index - 1;
        }
    }
    // Room for about n texts ahead of time: the index then need not grow, which would read
    // every text again.
    void reserve(std::size_t n) {
        texts_.reserve(n);
        std::size_t size = 1024;
        while (3 * size < 4 * n) size *= 2;
        if (size > slots_.size()) resize(size);
    }
    // Asks for the slot where the search for a text of hash h starts.
    void prefetch(uint64_t h) const {
        if (!slots_.empty()) __builtin_prefetch(&slots_[h & mask_]);
    }
    // Asks for the bytes of the text in that slot, once the slot is there.
    void prefetch_text(uint64_t h) const {
        if (slots_.empty()) return;
        const Slot& slot = slots_[h & mask_];
        if (slot.index != 0) __builtin_prefetch(slot.data);
    }
    std::size_t size() const { return texts_.size(); }
    std::string_view text(std::size_t k) const {
        return {reinterpret_cast<const char*>(texts_[k] >> 8),
                static_cast<std::size_t>(texts_[k] & 0xff)};
    }

  private:
    struct Slot {
        uint32_t tag;    // the length in the low 8 bits, the hash's high bits above
        uint32_t index;  // 1 + the text's index; 0: an empty slot
        const char* data;
    };
    // Slots in memory mapped for them: all 0 (empty) from the start, without being written,
    // each page made on first use.
    class Slots {
      public:
        Slots() = default;
        explicit Slots(std::size_t n) : n_(n) {
            void* p = ::mmap(nullptr, n * sizeof(Slot), PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (p == MAP_FAILED) throw std::bad_alloc();
            ::madvise(p, n * sizeof(Slot), MADV_HUGEPAGE);  // a hint
            slots_ = static_cast<Slot*>(p);
        }
        Slots(const Slots&) = delete;
        Slots& operator=(const Slots&) = delete;
        Slots& operator=(Slots&& o) noexcept {
            std::swap(slots_, o.slots_);
            std::swap(n_, o.n_);
            return *this;
        }
        ~Slots() {
            if (slots_ != nullptr) ::munmap(slots_, n_ * sizeof(Slot));
        }
        Slot& operator[](std::size_t k) { return slots_[k]; }
        const Slot& operator[](std::size_t k) const { return slots_[k]; }
        std::size_t size() const { return n_; }
        bool empty() const { return n_ == 0; }
        Slot* begin() { return slots_; }
        Slot* end() { return slots_ + n_; }

      private:
        Slot* slots_ = nullptr;
        std::size_t n_ = 0;
    };
    static uint32_t tag_of(uint64_t h, std::size_t length) {
        return static_cast<uint32_t>(h >> 32 << 8) | static_cast<uint32_t>(length & 0xff);
    }
    void grow() { resize(std::max<std::size_t>(1024, 2 * slots_.size())); }
    void resize(std::size_t size) {
        Slots slots(size);
        mask_ = size - 1;
        for (const Slot& old : slots_) {
            if (old.index == 0) continue;
            std::size_t s = text_hash(text(old.index - 1)) & mask_;
            while (slots[s].index != 0) s = (s + 1) & mask_;
            slots[s] = old;
        }
        slots_ = std::move(slots);
    }
    Slots slots_;
    std::size_t mask_ = 0;
    // Each text as where it starts (shifted up 8 bits: addresses take 48) and its length.
    static uint64_t pack(std::string_view t) {
        return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(t.data())) << 8 | t.size();
    }
    std::vector<uint64_t> texts_;
};

}  // namespace kinstrom
