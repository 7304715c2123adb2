#include "evaluation/evaluation.hpp"

#include <algorithm>
#include <charconv>
#include <future>
#include <system_error>
#include <utility>

namespace kinstrom {

namespace {

// Which traced individuals are written: all of them, or the listed ones and their ancestors
// reached within `generations` steps of a breadth-first walk from them (the shortest line).
std::vector<uint8_t> written_individuals(const Pedigree& pedigree, int32_t generations) {
    const Table& X = pedigree.XLIST;
    std::vector<uint8_t> kept(at(X.LAST) + 1, 0);
    std::vector<int32_t> frontier, next;
    for (int32_t i = 1; i <= X.LAST; ++i) {
        if (!is_set(X[i].TRACED)) continue;
        if (generations < 0) {
            kept[at(i)] = 1;
        } else if (is_set(X[i].MARKED)) {
            kept[at(i)] = 1;
            frontier.push_back(i);
        }
    }
    for (int32_t level = 1; level <= generations && !frontier.empty(); ++level) {
        next.clear();
        for (const int32_t i : frontier)
            for (const int32_t p : {X[i].SIRE, X[i].DAM})
                if (p > 0 && kept[at(p)] == 0) {
                    kept[at(p)] = 1;
                    next.push_back(p);
                }
        std::swap(frontier, next);
    }
    return kept;
}

// The key that orders individuals of one generation: sort variable, then position.
uint64_t order_key(int32_t sort, int32_t position) {
    const uint32_t biased = static_cast<uint32_t>(sort) ^ 0x80000000U;
    return uint64_t{biased} << 32 | static_cast<uint32_t>(position);
}

// The PHGs that are parents of a line written, coded n+1.. in ascending order of PHG code.
void group_codes(const Pedigree& pedigree, EvaluationCodes& codes) {
    const Table& X = pedigree.XLIST;
    std::vector<uint8_t> parent(at(pedigree.PHG_LIST.LAST) + 1, 0);
    for (const int32_t i : codes.order)
        for (const int32_t p : {X[i].SIRE, X[i].DAM})
            if (p < 0) parent[at(-p)] = 1;
    std::vector<int32_t> phgs;
    for (std::size_t k = 1; k < parent.size(); ++k)
        if (parent[k] != 0) phgs.push_back(static_cast<int32_t>(k));
    std::sort(phgs.begin(), phgs.end(), [&](int32_t a, int32_t b) {
        return pedigree.PHG_LIST[a].ID < pedigree.PHG_LIST[b].ID;
    });
    codes.group.assign(parent.size(), 0);
    int32_t next = codes.individuals();
    for (const int32_t k : phgs) {
        codes.group[at(k)] = ++next;
        codes.group_phgs.push_back(pedigree.PHG_LIST[k].ID);
    }
}

// The lines as they are laid out, handed to `write` a piece at a time. With `overlap`, each
// piece is written by a thread of its own while the next is laid out (one write at a time, in
// order): the copy into the file costs about as much as the layout.
class Text {
  public:
    Text(const std::function<bool(std::string_view)>& write, bool overlap)
        : write_(write), overlap_(overlap) {
        text_.reserve(PIECE + 512);
    }
    ~Text() {
        if (pending_.valid()) pending_.wait();
    }
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;

    template <class T>
    void number(T v) {
        char digits[32];
        const auto [end, error] = std::to_chars(digits, digits + sizeof digits, v);
        text_.append(digits, error == std::errc{} ? end : digits);
    }
    void add(std::string_view t) { text_.append(t); }
    void add(char c) { text_ += c; }
    // Hands the text over once it is a piece long, or at the end; false when a write failed.
    bool hand_over(bool end) {
        if (!end && text_.size() < PIECE) return true;
        if (pending_.valid() && !pending_.get()) return false;
        std::swap(text_, written_);
        text_.clear();
        if (overlap_ && !end) {
            try {
                pending_ = std::async(std::launch::async, [this] { return write_(written_); });
                return true;
            } catch (const std::system_error&) {
                overlap_ = false;  // no thread to be had: written here
            }
        }
        return written_.empty() || write_(written_);
    }

  private:
    static constexpr std::size_t PIECE = std::size_t{1} << 22;
    const std::function<bool(std::string_view)>& write_;
    bool overlap_;
    std::string text_, written_;
    std::future<bool> pending_;
};

}  // namespace

EvaluationCodes evaluation_codes(const Pedigree& pedigree, const TracedOrder& traced,
                                 const EvaluationOptions& options) {
    const Table& X = pedigree.XLIST;
    const std::vector<uint8_t> kept = written_individuals(pedigree, options.generations);
    // Bucketed by generation in position order, then each bucket sorted by its keys.
    std::vector<std::size_t> starts(at(traced.deepest) + 2, 0);
    std::size_t n = 0;
    for (int32_t i = 1; i <= X.LAST; ++i)
        if (kept[at(i)] != 0) {
            ++starts[at(traced.depth[at(i)])];
            ++n;
        }
    std::size_t begin = 0;
    for (std::size_t& s : starts) begin += std::exchange(s, begin);
    std::vector<uint64_t> keys(n);
    {
        std::vector<std::size_t> fill = starts;
        for (int32_t i = 1; i <= X.LAST; ++i)
            if (kept[at(i)] != 0) keys[fill[at(traced.depth[at(i)])]++] = order_key(X[i].SORT, i);
    }
    for (std::size_t d = 0; d + 1 < starts.size(); ++d)
        std::sort(keys.begin() + static_cast<std::ptrdiff_t>(starts[d]),
                  keys.begin() + static_cast<std::ptrdiff_t>(starts[d + 1]));
    EvaluationCodes codes;
    codes.code.assign(at(X.LAST) + 1, 0);
    codes.order.reserve(n);
    for (const uint64_t key : keys) {
        const auto i = static_cast<int32_t>(key & 0xffffffffU);
        codes.order.push_back(i);
        codes.code[at(i)] = codes.individuals();
    }
    if (options.groups) {
        group_codes(pedigree, codes);
    } else {
        codes.group.assign(at(pedigree.PHG_LIST.LAST) + 1, 0);
    }
    return codes;
}

std::vector<std::string> evaluation_columns(bool inbreeding) {
    std::vector<std::string> columns{"code", "sire_code", "dam_code", "sort", "known_generations"};
    if (inbreeding) columns.emplace_back("inbreeding");
    columns.emplace_back("listed");
    columns.emplace_back("id");
    return columns;
}

std::string evaluation_description(const EvaluationResult& result) {
    const auto counted = [](int64_t first, int64_t count, const char* what) {
        std::string text = std::to_string(count) + " " + what + (count == 1 ? "" : "s");
        if (count > 0)
            text += " (codes " + std::to_string(first) + " to " +
                    std::to_string(first + count - 1) + ")";
        return text;
    };
    const int64_t n = result.individuals;
    std::string text = "evaluation pedigree of " + counted(1, n, "individual");
    if (result.options.groups)
        text += " and " +
                counted(n + 1, static_cast<int64_t>(result.group_phgs.size()), "genetic group");
    text += "; columns:";
    for (const std::string& c : result.columns) text += " " + c;
    return text;
}

bool write_evaluation_pedigree(const Pedigree& pedigree, const EvaluationCodes& codes,
                               const std::vector<float>& K_GEN, bool inbreeding, bool overlap,
                               const std::function<bool(std::string_view)>& write) {
    const Table& X = pedigree.XLIST;
    const auto parent_code = [&](int32_t p) {
        return p > 0 ? codes.code[at(p)] : p < 0 ? codes.group[at(-p)] : 0;
    };
    Text text(write, overlap);
    for (const int32_t i : codes.order) {
        const Record& r = X[i];
        text.number(codes.code[at(i)]);
        text.add(' ');
        text.number(parent_code(r.SIRE));
        text.add(' ');
        text.number(parent_code(r.DAM));
        text.add(' ');
        text.number(r.SORT);
        text.add(' ');
        text.number(K_GEN[at(i)]);
        if (inbreeding) {
            text.add(' ');
            text.number(pedigree.F[at(i)]);
        }
        text.add(is_set(r.MARKED) ? " 1 " : " 0 ");
        if (pedigree.ids.empty()) {
            text.number(r.ID);
        } else {
            text.add(pedigree.ids.text(r.ID));
        }
        text.add('\n');
        if (!text.hand_over(false)) return false;
    }
    return text.hand_over(true);
}

}  // namespace kinstrom
