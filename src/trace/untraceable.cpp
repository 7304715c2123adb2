#include "trace/untraceable.hpp"

#include <algorithm>
#include <unordered_map>
#include <utility>

#include "diagnostics/diagnostics.hpp"
#include "input/reader.hpp"
#include "listing/numbers.hpp"
#include "trace/tracing.hpp"

namespace kinstrom {

namespace {

constexpr std::string_view SIRE_WORD = "sire";
constexpr std::string_view DAM_WORD = "dam";

// The loop through `start` along the fewest individuals, breadth first within its part (the
// individuals whose `part` is that of `start`).
std::vector<LoopStep> loop_through(const Table& X, const std::vector<int32_t>& part,
                                   int32_t start) {
    const int32_t own = part[static_cast<std::size_t>(start)];
    struct Came {
        int32_t from;
        std::string_view as;
    };
    std::unordered_map<int32_t, Came> came;
    std::vector<int32_t> queue{start};
    for (std::size_t head = 0; head < queue.size(); ++head) {
        const int32_t i = queue[head];
        const Record& r = X[i];
        for (const auto& [p, as] : {std::pair{r.SIRE, SIRE_WORD}, std::pair{r.DAM, DAM_WORD}}) {
            if (p <= 0 || part[static_cast<std::size_t>(p)] != own) continue;
            if (p == start) {
                std::vector<LoopStep> steps;
                for (int32_t v = i; v != start; v = came.at(v).from)
                    steps.push_back({v, came.at(v).as});
                steps.push_back({start, as});
                std::reverse(steps.begin(), steps.end());
                return steps;
            }
            if (came.try_emplace(p, Came{i, as}).second) queue.push_back(p);
        }
    }
    return {};  // not reached: start lies on a loop
}

std::string individuals(int32_t k) {
    return counted(k, "individual", "individuals");
}

// The strongly connected parts of the parent graph, and whether each individual lies on a loop.
struct Parts {
    std::vector<int32_t> number;
    std::vector<uint8_t> on_loop;
    std::vector<int32_t> loop_starts;  // the lowest position of each loop
};

Parts parts_of(const Table& X) {
    const auto n = static_cast<std::size_t>(std::max(X.LAST, 0)) + 1;
    // The strongly connected parts of the parent graph, found by one depth-first walk that keeps
    // its own stack. While an individual's part is open, number[i] is its place in the walk
    // (from 1) and low[i] the lowest place of an open individual reached from it. A part is
    // complete when the walk leaves the first of its individuals; its parents' parts are
    // complete before it. Then number[i] is minus the part's number.
    Parts out;
    std::vector<int32_t>& number = out.number;
    std::vector<int32_t> low(n, 0);
    std::vector<uint8_t>& on_loop = out.on_loop;
    number.assign(n, 0);
    on_loop.assign(n, 0);
    std::vector<int32_t> open;  // the individuals of the open parts, in walk order
    struct Frame {
        int32_t i;
        uint8_t next;  // parent to look at next: 0 sire, 1 dam, 2 none left
    };
    std::vector<Frame> walk;
    std::vector<int32_t>& loop_starts = out.loop_starts;
    int32_t places = 0, parts = 0;
    const auto enter = [&](int32_t i) {
        const auto si = static_cast<std::size_t>(i);
        number[si] = low[si] = ++places;
        open.push_back(i);
        walk.push_back({i, 0});
    };

    for (int32_t start = 1; start <= X.LAST; ++start) {
        if (number[static_cast<std::size_t>(start)] != 0) continue;
        enter(start);
        while (!walk.empty()) {
            Frame& f = walk.back();
            const int32_t i = f.i;
            const auto si = static_cast<std::size_t>(i);
            if (f.next < 2) {
                const int32_t p = f.next++ == 0 ? X[i].SIRE : X[i].DAM;
                if (p <= 0) continue;
                const int32_t place = number[static_cast<std::size_t>(p)];
                if (place == 0) {
                    enter(p);
                } else if (place > 0) {
                    low[si] = std::min(low[si], place);
                }
                continue;
            }
            walk.pop_back();
            if (low[si] == number[si]) {
                // i is the first of a part that is now complete.
                ++parts;
                const Record& r = X[i];
                const bool loop = open.back() != i || r.SIRE == i || r.DAM == i;
                int32_t lowest = i;
                for (int32_t w = 0; w != i;) {
                    w = open.back();
                    open.pop_back();
                    const auto sw = static_cast<std::size_t>(w);
                    number[sw] = -parts;
                    on_loop[sw] = loop ? 1 : 0;
                    lowest = std::min(lowest, w);
                }
                if (loop) loop_starts.push_back(lowest);
            } else if (!walk.empty()) {
                const auto sc = static_cast<std::size_t>(walk.back().i);
                low[sc] = std::min(low[sc], low[si]);
            }
        }
    }

    return out;
}

}  // namespace

UntraceableCauses untraceable_causes(const Pedigree& pedigree, int32_t MAX_NIV) {
    const Table& X = pedigree.XLIST;
    Parts parts = parts_of(X);
    const std::vector<int32_t> low = line_lengths(pedigree);
    std::vector<int32_t>& loop_starts = parts.loop_starts;
    UntraceableCauses c;
    for (int32_t i = 1; i <= X.LAST; ++i) {
        const Record& r = X[i];
        if (r.ID <= 0) continue;
        const auto si = static_cast<std::size_t>(i);
        const bool marked = is_set(r.MARKED);
        if (parts.on_loop[si] != 0) {
            ++c.on_loop;
            c.on_loop_marked += marked ? 1 : 0;
        } else if (low[si] == LINE_LOOP) {
            ++c.below_loop;
            c.below_loop_marked += marked ? 1 : 0;
        } else {
            if (marked) c.depth_needed = std::max(c.depth_needed, low[si]);
            if (MAX_NIV >= 0 && low[si] <= MAX_NIV) continue;
            ++c.too_long;
            c.too_long_marked += marked ? 1 : 0;
        }
    }
    c.n_loops = static_cast<int32_t>(loop_starts.size());
    const auto kept = std::min<std::size_t>(loop_starts.size(), LOOPS_LISTED);
    std::partial_sort(loop_starts.begin(), loop_starts.begin() + static_cast<std::ptrdiff_t>(kept),
                      loop_starts.end());
    for (std::size_t k = 0; k < kept; ++k)
        c.loops.push_back(loop_through(X, parts.number, loop_starts[k]));
    return c;
}

std::vector<int64_t> loop_member_ids(const UntraceableCauses& causes, const Pedigree& pedigree) {
    std::vector<int64_t> ids;
    for (const auto& loop : causes.loops)
        for (const LoopStep& s : loop) ids.push_back(pedigree.XLIST[s.position].ID);
    return ids;
}

std::vector<int64_t> record_lines(std::string_view text, const std::vector<int64_t>& ids) {
    std::unordered_map<int64_t, int64_t> line_of;
    for (const int64_t id : ids) line_of.emplace(id, 0);
    std::size_t missing = line_of.size();
    RecordReader r(text);
    int64_t line = 1;
    std::size_t counted = 0;  // the line ends before this offset are in `line`
    while (missing > 0 && r.start()) {
        int64_t id = 0, sire = 0, dam = 0;
        int32_t sort = 0;
        if (!(r.int64(id) && r.int64(sire) && r.int64(dam) && r.int32(sort)) || id == 0) break;
        const std::size_t at = r.record_offset();
        line += std::count(text.begin() + static_cast<std::ptrdiff_t>(counted),
                           text.begin() + static_cast<std::ptrdiff_t>(at), '\n');
        counted = at;
        if (const auto it = line_of.find(id); it != line_of.end() && it->second == 0) {
            it->second = line;
            --missing;
        }
        r.finish();
    }
    std::vector<int64_t> lines;
    lines.reserve(ids.size());
    for (const int64_t id : ids) lines.push_back(line_of.at(id));
    return lines;
}

std::vector<std::string> untraceable_messages(const UntraceableCauses& c, const Pedigree& p,
                                              const std::vector<int64_t>& lines_of_loop_members,
                                              int32_t MAX_NIV) {
    std::vector<std::string> m;
    std::size_t member = 0;
    for (const auto& loop : c.loops) {
        std::string s = "pedigree loop: ";
        for (std::size_t k = 0; k < loop.size(); ++k) {
            if (k > 0) s += " -> " + std::string(loop[k].reached_as) + " ";
            s += p.ids.show(p.XLIST[loop[k].position].ID);
            const int64_t line =
                member < lines_of_loop_members.size() ? lines_of_loop_members[member] : 0;
            ++member;
            if (line > 0) s += " (line " + int_text(line) + ")";
        }
        if (!loop.empty())
            s += " -> " + std::string(loop.front().reached_as) + " " +
                 p.ids.show(p.XLIST[loop.front().position].ID);
        m.push_back(std::move(s));
    }
    if (c.n_loops > 0)
        m.push_back(int_text(c.n_loops) +
                    (c.n_loops == 1 ? " pedigree loop in all" : " pedigree loops in all") +
                    "; an individual cannot be its own ancestor: correct the parents of one "
                    "individual in " +
                    (c.n_loops == 1 ? "the loop" : "each loop"));
    const auto marked = [](int32_t k) { return " (" + int_text(k) + " marked for tracing)"; };
    if (c.on_loop > 0)
        m.push_back(individuals(c.on_loop) + marked(c.on_loop_marked) +
                    (c.on_loop == 1 ? " is on a pedigree loop" : " are on pedigree loops"));
    if (c.below_loop > 0)
        m.push_back(individuals(c.below_loop) + marked(c.below_loop_marked) +
                    " cannot be traced only because an ancestor is on a pedigree loop");
    if (c.too_long > 0) {
        std::string s = individuals(c.too_long) + marked(c.too_long_marked) +
                        (c.too_long == 1 ? " has a line" : " have lines") +
                        " back to the PHGs longer than MAX_NIV=" + int_text(MAX_NIV);
        if (c.too_long_marked > 0) {
            s += ": set MAX_NIV to at least " + int_text(c.depth_needed);
        } else {
            s += "; no individual marked for tracing needs a larger MAX_NIV";
        }
        m.push_back(std::move(s));
    }
    return m;
}

}  // namespace kinstrom
