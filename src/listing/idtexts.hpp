// Original IDs that are texts. A pedigree read as a table (--table) has text IDs; they are
// numbered 1..n in byte order, the run works on those numbers, and every output that shows an
// individual's original ID shows its text. IDs looked up by the trace file that are not in the
// pedigree follow as n+1, n+2, ... in order of appearance.
//
// Empty in the classic format: there the original IDs are the integers themselves.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace kinstrom {

class IdTexts {
  public:
    bool empty() const { return ends_.empty(); }
    int64_t size() const { return static_cast<int64_t>(ends_.size()); }
    // Bytes of all texts together.
    std::size_t bytes() const { return bytes_.size(); }
    // Bytes of the longest text.
    std::size_t longest() const { return longest_; }

    void reserve(std::size_t n, std::size_t bytes) {
        ends_.reserve(n);
        bytes_.reserve(bytes);
    }
    // Appends the text of ID size() + 1.
    void add(std::string_view t) {
        bytes_.append(t);
        ends_.push_back(bytes_.size());
        longest_ = std::max(longest_, t.size());
    }

    // Room for n texts at once, `length(k)` bytes for the text of ID k + 1, each then copied
    // in by `fill` (from any thread, each once), after the texts added so far.
    template <class Length>
    void lay_out(std::size_t n, Length length) {
        std::size_t end = bytes_.size();
        const std::size_t first = ends_.size();
        ends_.resize(first + n);
        for (std::size_t k = 0; k < n; ++k) {
            const std::size_t l = length(k);
            end += l;
            ends_[first + k] = end;
            longest_ = std::max(longest_, l);
        }
        bytes_.resize(end);
    }
    void fill(int64_t v, std::string_view t) {
        const auto k = static_cast<std::size_t>(v - 1);
        std::memcpy(bytes_.data() + (k == 0 ? 0 : ends_[k - 1]), t.data(), t.size());
    }

    // The text of ID v, 1 <= v <= size().
    std::string_view text(int64_t v) const {
        const auto k = static_cast<std::size_t>(v - 1);
        const std::size_t begin = k == 0 ? 0 : ends_[k - 1];
        return std::string_view(bytes_).substr(begin, ends_[k] - begin);
    }

    // An original ID as the outputs show it: the text of a text ID, the integer otherwise
    // (PHG codes, and every ID in the classic format).
    std::string show(int64_t v) const {
        if (!empty() && v >= 1 && v <= size()) return std::string(text(v));
        return std::to_string(v);
    }

    // The columns of a field that holds original IDs: `classic` in the classic format,
    // widened with texts to hold the longest one with `gap` blanks before it.
    int width(int classic, int gap) const {
        if (empty()) return classic;
        return std::max(classic, static_cast<int>(longest_) + gap);
    }

  private:
    std::string bytes_;
    std::vector<std::size_t> ends_;  // end of each text in bytes_
    std::size_t longest_ = 0;
};

}  // namespace kinstrom
