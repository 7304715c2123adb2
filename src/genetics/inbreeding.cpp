// Inbreeding coefficients by the recursive relationship rule, computed once per pair of
// individuals that the recursion meets, remembered in a bounded cache.
//
// Every relationship the recursion asks for has one value whatever order the pairs are met in,
// so the cache may forget: a forgotten pair is computed again, to the same bits. What makes the
// work small:
//  - the traced individuals renumbered by rank (parents first), so the recursion reads small
//    dense arrays, and "the higher rank is the younger" is a comparison of two numbers;
//  - an exact zero without recursion when two individuals can share no ancestor (themselves
//    included), for then every term of the recursion is 0: when the younger one's ancestry
//    starts after the older one, or when their founder signatures have no bit in common. Two
//    individuals share an ancestor exactly when they share a founder (an individual without
//    known parents, reached from any ancestor along known parents), so the signature holds
//    one bit for each founder of the ancestry (384 bits, as in a Bloom filter): founders are
//    far fewer than ancestors, and the signatures of a large population fill up much later;
//  - one computation per mating: full sibs have the same sire and dam and the same F;
//  - one hash probe per pair: a pair is looked up once, expanded on an explicit stack, and
//    stored when both its terms are known;
//  - an 8-way set-associative cache whose entries are single 64-bit words (pair tag and value),
//    one cache line per set, so that a probe reads one line;
//  - all an individual's data (parents, oldest ancestor, F, signature) in one cache line;
//  - most of the time goes in waiting for memory, each pair a line far from the last. So each
//    thread walks several matings at once: a walk that expands a pair asks for the lines its
//    two terms will read, and the thread goes on with the next walk while they arrive;
//  - the individuals of one depth (longest line back to the PHGs) need only the F of earlier
//    depths, so each depth is shared among threads, which share the cache word by word.
#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <thread>

#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>

#include "genetics/genetics.hpp"
#include "pedigree/store.hpp"

namespace kinstrom {

namespace {

// Measurement builds (cmake -DKINSTROM_COUNTS=ON) count what the recursion does and print it
// on standard error; ordinary builds count nothing.
#ifdef KINSTROM_COUNTS
constexpr bool COUNTING = true;
#else
constexpr bool COUNTING = false;
#endif

struct Counts {
    uint64_t probes = 0;          // cache lookups
    uint64_t hits = 0;            // lookups that found the pair
    uint64_t zero_order = 0;      // 0 because the younger one's ancestry starts later
    uint64_t zero_signature = 0;  // 0 because the ancestry signatures share no bit
    uint64_t computed = 0;        // pairs expanded and stored (counted in every build)
    uint64_t computed_nonzero = 0;

    void add(const Counts& o) {
        probes += o.probes;
        hits += o.hits;
        zero_order += o.zero_order;
        zero_signature += o.zero_signature;
        computed += o.computed;
        computed_nonzero += o.computed_nonzero;
    }
};

// An individual in rank space, in one cache line: its parents' ranks (0 for a PHG), the
// lowest rank in its ancestry with itself, its inbreeding coefficient once known, and its
// founder signature: bit h(f) set for every founder f of its ancestry (itself, if it is one).
// Two individuals whose signatures share no bit share no ancestor.
struct alignas(64) Node {
    static constexpr std::size_t WORDS = 6;
    static constexpr uint64_t SIGNATURE_BITS = 64 * WORDS;

    int32_t sire;
    int32_t dam;
    int32_t oldest;
    float F;
    std::array<uint64_t, WORDS> bits;

    void set_own_bit(int32_t rank) {
        const uint64_t mixed = (static_cast<uint64_t>(rank) * 0x9e3779b97f4a7c15ULL) >> 32;
        const uint64_t h = mixed * SIGNATURE_BITS >> 32;  // 0 .. SIGNATURE_BITS - 1
        bits[h / 64] |= uint64_t{1} << (h % 64);
    }
    void add_ancestry(const Node& parent) {
        oldest = std::min(oldest, parent.oldest);
        for (std::size_t w = 0; w < WORDS; ++w) bits[w] |= parent.bits[w];
    }
    bool disjoint(const Node& other) const {
        uint64_t common = 0;
        for (std::size_t w = 0; w < WORDS; ++w) common |= bits[w] & other.bits[w];
        return common == 0;
    }
};
static_assert(sizeof(Node) == 64);
using Nodes = std::vector<Node, TableAllocator<Node>>;

// Asks for huge pages under the 2 MiB-aligned part of a block not yet touched: fewer faults and
// TLB misses for a cache probed at random. A hint: without them all works the same.
void offer_huge_pages(void* p, std::size_t bytes) {
    constexpr std::uintptr_t HUGE_PAGE = std::uintptr_t{2} << 20;
    const auto start =
        (reinterpret_cast<std::uintptr_t>(p) + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
    const auto end = (reinterpret_cast<std::uintptr_t>(p) + bytes) / HUGE_PAGE * HUGE_PAGE;
    if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

// The cache: S sets of 8 words, S chosen freely. A pair (lo, hi) of ranks below 2^rank_bits is
// mixed by a bijection of its K = 2 x rank_bits bits into its key x. 32 bits h of the key (its
// low 32, or all K shifted up when K < 32) choose the set by multiplication, (h x S) / 2^32, so
// that the h of one set form a run of at most ceil(2^32 / S) numbers, told apart by their low L
// bits. The tag in the word's high half is the rest of the key with those L bits, plus one (0
// marks an empty way); the low half holds the bits of the 32-bit value. It takes at most
// 1 / memory_share of the machine's memory.
class PairCache {
  public:
    PairCache(int32_t n, std::size_t entries_wanted, unsigned memory_share) {
        rank_bits_ = static_cast<unsigned>(std::bit_width(static_cast<uint32_t>(n)));
        const unsigned key_bits = 2 * rank_bits_;
        key_mask_ = key_bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << key_bits) - 1;
        high_bits_ = key_bits > 32 ? key_bits - 32 : 0;
        low_shift_ = key_bits < 32 ? 32 - key_bits : 0;
        // The fewest sets whose tags fit 31 bits: L at most 31 - high_bits.
        const unsigned most_low = 31 - high_bits_;
        const uint64_t least =
            std::max<uint64_t>(MIN_SETS, most_low >= 32 ? 1 : uint64_t{1} << (32 - most_low));
        uint64_t sets = std::clamp<uint64_t>(entries_wanted / WAYS, least, MAX_SETS);
        // At most a share of the machine's memory: a smaller cache only costs time.
        const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
        if (pages > 0 && page > 0) {
            const auto share = static_cast<std::size_t>(pages) / std::max(memory_share, 1u) *
                               static_cast<std::size_t>(page);
            sets = std::max(least, std::min<uint64_t>(sets, share / (WAYS * 8)));
        }
        // Zeroed memory as the system hands it out: a large block is not written here, its
        // pages are cleared when the walks first touch them.
        std::size_t words = 0;
        for (;;) {
            words = static_cast<std::size_t>(sets) * WAYS + WAYS;
            words_.reset(static_cast<uint64_t*>(std::calloc(words, sizeof(uint64_t))));
            if (words_) break;
            if (sets <= least) throw std::bad_alloc();
            sets = std::max(least, sets - sets / 8);  // a smaller cache only costs time
        }
        offer_huge_pages(words_.get(), words * sizeof(uint64_t));
        sets_ = sets;
        const uint64_t run = ((uint64_t{1} << 32) + sets - 1) / sets;  // h of one set at most
        low_bits_ = static_cast<unsigned>(std::bit_width(run - 1));
        // Sets start on a 64-byte boundary.
        const auto address = reinterpret_cast<std::uintptr_t>(words_.get());
        offset_ = ((64 - address % 64) % 64) / sizeof(uint64_t);
    }

    std::size_t entries() const { return static_cast<std::size_t>(sets_) * WAYS; }

    // The key of the pair (a, b), from which its set and tag follow.
    uint64_t key(int32_t a, int32_t b) const { return mix(std::min(a, b), std::max(a, b)); }

    bool find(uint64_t x, float& value) const {
        const uint64_t* set = base(x);
        const uint64_t tag = tag_of(x);
        for (std::size_t w = 0; w < WAYS; ++w) {
            const uint64_t e =
                std::atomic_ref<const uint64_t>(set[w]).load(std::memory_order_relaxed);
            if ((e >> 32) == tag) {
                value = std::bit_cast<float>(static_cast<uint32_t>(e));
                return true;
            }
        }
        return false;
    }

    // Stores the pair in the way `turn` chooses. The set is not read first: a store then
    // never waits for memory, and the ways a thread writes in turn evict about at random.
    void store(uint64_t x, float value, unsigned& turn) {
        uint64_t* set = base(x);
        const uint64_t e = tag_of(x) << 32 | std::bit_cast<uint32_t>(value);
        std::atomic_ref<uint64_t>(set[turn++ % WAYS]).store(e, std::memory_order_relaxed);
    }

    // Where the set of a key is, to be asked for ahead of its probe.
    const uint64_t* set_of(uint64_t x) const { return base(x); }

  private:
    static constexpr std::size_t WAYS = 8;
    static constexpr uint64_t MIN_SETS = 16;
    static constexpr uint64_t MAX_SETS = uint64_t{1} << 31;

    uint64_t mix(int32_t lo, int32_t hi) const {
        uint64_t x = static_cast<uint64_t>(lo) << rank_bits_ | static_cast<uint64_t>(hi);
        // Each step is a bijection of the key's bits.
        x ^= x >> rank_bits_;
        x = (x * 0x9e3779b97f4a7c15ULL) & key_mask_;
        x ^= x >> (rank_bits_ + 1);
        x = (x * 0xc2b2ae3d27d4eb4fULL) & key_mask_;
        x ^= x >> rank_bits_;
        return x;
    }
    uint64_t h(uint64_t x) const { return (x & 0xffffffffULL) << low_shift_ & 0xffffffffULL; }
    uint64_t tag_of(uint64_t x) const {
        return ((x >> 32) << low_bits_ | (h(x) & ((uint64_t{1} << low_bits_) - 1))) + 1;
    }
    std::size_t set_index(uint64_t x) const { return static_cast<std::size_t>(h(x) * sets_ >> 32); }
    const uint64_t* base(uint64_t x) const { return words_.get() + offset_ + set_index(x) * WAYS; }
    uint64_t* base(uint64_t x) { return words_.get() + offset_ + set_index(x) * WAYS; }

    unsigned rank_bits_ = 0;
    unsigned high_bits_ = 0;  // key bits above the low 32
    unsigned low_shift_ = 0;  // how far h is the key shifted up
    unsigned low_bits_ = 0;   // L
    uint64_t sets_ = 0;
    uint64_t key_mask_ = 0;
    std::size_t offset_ = 0;
    struct Free {
        void operator()(uint64_t* p) const { std::free(p); }
    };
    std::unique_ptr<uint64_t[], Free> words_;
};

// One walk of the recursion: the relationship of a mating's sire and dam, expanded on an
// explicit stack. `step` goes on until the walk has asked for lines that are not yet at hand
// (it then returns false, and the thread serves another walk) or until the value is known.
class Walk {
  public:
    Walk(const Nodes& nodes, PairCache& cache, std::size_t depth) : nodes_(&nodes), cache_(&cache) {
        stack_.reserve(depth);
    }

    // Starts the walk of cffa(a, b) for matings group `group`; false when it is already known.
    bool start(int32_t a, int32_t b, std::size_t group, Counts& counts) {
        group_ = group;
        return !immediate(a, b, NO_KEY, value_, counts);
    }

    // Goes on with the walk; true once its value is known.
    bool step(Counts& counts) {
        float v = 0.0f;
        for (;;) {
            Frame& f = stack_.back();
            switch (f.stage) {
                case 0: {
                    // The young one's line was asked for when the frame was pushed; now ask for
                    // what the two terms will read.
                    const Node& y = (*nodes_)[at(f.young)];
                    f.sire = y.sire;
                    f.dam = y.dam;
                    // Written here, not in a function of its own: the compiler may drop a
                    // call whose only work is a prefetch. The keys are kept for the probes.
                    f.sire_key = f.dam_key = NO_KEY;
                    if (f.sire > 0 && f.sire != f.other) {
                        f.sire_key = cache_->key(f.other, f.sire);
                        __builtin_prefetch(&(*nodes_)[at(f.sire)]);
                        __builtin_prefetch(cache_->set_of(f.sire_key));
                    }
                    if (f.dam > 0 && f.dam != f.other) {
                        f.dam_key = cache_->key(f.other, f.dam);
                        __builtin_prefetch(&(*nodes_)[at(f.dam)]);
                        __builtin_prefetch(cache_->set_of(f.dam_key));
                    }
                    f.stage = 1;
                    return false;
                }
                case 1:
                    f.stage = 2;
                    if (immediate(f.other, f.sire, f.sire_key, v, counts)) f.first = v;
                    break;
                case 2:
                    f.stage = 3;
                    if (immediate(f.other, f.dam, f.dam_key, v, counts)) f.second = v;
                    break;
                default: {
                    const float value = 0.5f * (f.first + f.second);
                    ++counts.computed;
                    if constexpr (COUNTING) counts.computed_nonzero += value != 0.0f ? 1 : 0;
                    cache_->store(f.key, value, turn_);
                    stack_.pop_back();
                    if (stack_.empty()) {
                        value_ = value;
                        return true;
                    }
                    Frame& up = stack_.back();
                    (up.stage == 2 ? up.first : up.second) = value;
                }
            }
        }
    }

    float value() const { return value_; }
    std::size_t group() const { return group_; }

  private:
    // A key not yet computed (a pair whose key is this value only has it computed again).
    static constexpr uint64_t NO_KEY = 0;

    // The value of (a, b) when the rule, the zero test or the cache gives it at once; else
    // the pair is pushed for expansion. `key` is the pair's key or NO_KEY.
    bool immediate(int32_t a, int32_t b, uint64_t key, float& v, Counts& counts) {
        if (a <= 0 || b <= 0) {
            v = 0.0f;
            return true;
        }
        const Nodes& nodes = *nodes_;
        if (a == b) {
            v = 1.0f + nodes[at(a)].F;
            return true;
        }
        const int32_t young = std::max(a, b), other = std::min(a, b);
        const Node& y = nodes[at(young)];
        if (y.oldest > other || y.disjoint(nodes[at(other)])) {
            if constexpr (COUNTING) {
                if (y.oldest > other) {
                    ++counts.zero_order;
                } else {
                    ++counts.zero_signature;
                }
            }
            v = 0.0f;
            return true;
        }
        if (key == NO_KEY) key = cache_->key(other, young);
        const bool found = cache_->find(key, v);
        if constexpr (COUNTING) {
            ++counts.probes;
            counts.hits += found ? 1 : 0;
        }
        if (found) return true;
        stack_.push_back({key, NO_KEY, NO_KEY, young, other, 0, 0, 0, 0.0f, 0.0f});
        return false;
    }

    struct Frame {
        uint64_t key;       // of the pair (other, young)
        uint64_t sire_key;  // of (other, sire) and (other, dam), once the parents are read
        uint64_t dam_key;
        int32_t young;
        int32_t other;
        int32_t stage;  // 0: parents not read, 1: sire term next, 2: dam term next, 3: both known
        int32_t sire;   // the young one's parents
        int32_t dam;
        float first;
        float second;
    };

    const Nodes* nodes_;
    PairCache* cache_;
    std::vector<Frame> stack_;
    unsigned turn_ = 0;
    std::size_t group_ = 0;
    float value_ = 0.0f;
};

// The traced individuals by rank (1 .. n, parents first) with their parents' ranks and ancestry
// signatures, and the order they come from with each individual's depth.
struct RankedPedigree {
    Nodes nodes;
    const TracedOrder* order = nullptr;

    // The longest line from the individual of rank r back to the PHGs.
    int32_t depth(std::size_t r) const { return order->depth[at(order->order[r - 1])]; }
};

RankedPedigree ranked_pedigree(const Table& X, const TracedOrder& order, int32_t n) {
    RankedPedigree out;
    out.order = &order;
    out.nodes.assign(at(n) + 1, Node{0, 0, 0, 0.0f, {}});
    for (int32_t r = 1; r <= n; ++r) {
        const Record& rec = X[order.order[at(r - 1)]];
        Node& node = out.nodes[at(r)];
        node.sire = rec.SIRE > 0 ? order.rank[at(rec.SIRE)] : 0;
        node.dam = rec.DAM > 0 ? order.rank[at(rec.DAM)] : 0;
        node.oldest = r;
        if (node.sire == 0 && node.dam == 0) node.set_own_bit(r);
        for (const int32_t p : {node.sire, node.dam})
            if (p > 0) node.add_ancestry(out.nodes[at(p)]);
    }
    return out;
}

struct Mating {
    int32_t depth;
    int32_t sire;
    int32_t dam;
    int32_t rank;
};

// The matings to compute, by depth, full sibs together: group g is matings[starts[g]] up to
// matings[starts[g + 1]], full sibs of one sire and dam at one depth.
struct MatingGroups {
    std::vector<Mating> matings;
    std::vector<std::size_t> starts;  // of each group, and one past the last

    std::size_t count() const { return starts.size() - 1; }
    const Mating& first(std::size_t group) const { return matings[starts[group]]; }
};

MatingGroups full_sib_groups(const RankedPedigree& ranked) {
    MatingGroups out;
    std::vector<Mating>& matings = out.matings;
    // Counted first, so that the arrays hold no more than they need at the phase's peak.
    std::size_t count = 0;
    for (std::size_t r = 1; r < ranked.nodes.size(); ++r)
        count += ranked.nodes[r].sire > 0 && ranked.nodes[r].dam > 0 ? 1 : 0;
    matings.reserve(count);
    for (std::size_t r = 1; r < ranked.nodes.size(); ++r) {
        const Node& node = ranked.nodes[r];
        if (node.sire > 0 && node.dam > 0)
            matings.push_back({ranked.depth(r), node.sire, node.dam, static_cast<int32_t>(r)});
    }
    std::sort(matings.begin(), matings.end(), [](const Mating& a, const Mating& b) {
        if (a.depth != b.depth) return a.depth < b.depth;
        if (a.sire != b.sire) return a.sire < b.sire;
        if (a.dam != b.dam) return a.dam < b.dam;
        return a.rank < b.rank;
    });
    const auto starts_group = [&](std::size_t k) {
        return k == 0 || matings[k].depth != matings[k - 1].depth ||
               matings[k].sire != matings[k - 1].sire || matings[k].dam != matings[k - 1].dam;
    };
    std::size_t groups = 0;
    for (std::size_t k = 0; k < matings.size(); ++k) groups += starts_group(k) ? 1 : 0;
    out.starts.reserve(groups + 1);
    for (std::size_t k = 0; k < matings.size(); ++k)
        if (starts_group(k)) out.starts.push_back(k);
    out.starts.push_back(matings.size());
    return out;
}

// Which thread walks which groups of full sibs. Depth by depth, for a depth needs only the F of
// earlier depths: the groups of a depth are handed out CHUNK at a time to the threads (to the
// calling thread alone when the depth has fewer than 4 chunks), and each thread walks up to
// `walks` of its groups at once, storing the F of a group's individuals as soon as its walk
// ends. The calling thread reports progress: the groups handed out so far, over all depths.
class WalkSchedule {
  public:
    WalkSchedule(const MatingGroups& groups, RankedPedigree& ranked, PairCache& cache,
                 Progress& progress, const InbreedingSettings& settings)
        : groups_(groups),
          nodes_(ranked.nodes),
          progress_(progress),
          threads_(settings.threads != 0 ? settings.threads : usable_processors()),
          walks_(threads_),
          counts_(threads_) {
        // The recursion is at most as deep as the two depths together.
        const std::size_t stack_depth = 2 * static_cast<std::size_t>(ranked.order->deepest) + 4;
        const unsigned lanes = std::max(settings.walks, 1u);
        for (std::vector<Walk>& mine : walks_) mine.assign(lanes, Walk(nodes_, cache, stack_depth));
    }

    // Walks every group, depth after depth.
    void run() {
        for (std::size_t first = 0; first < groups_.count();) {
            const std::size_t last = depth_end(first);
            run_depth(first, last);
            first = last;
        }
    }

    unsigned threads() const { return threads_; }

    // What the threads counted (all but the relationships computed: measurement builds only).
    Counts counts() const {
        Counts all;
        for (const Counts& c : counts_) all.add(c);
        return all;
    }

  private:
    static constexpr std::size_t CHUNK = 256;

    // The groups of a thread's chunk not yet started: next up to end.
    struct Chunk {
        std::size_t next = 0;
        std::size_t end = 0;
    };

    // One past the last group of the depth that starts at group `first`.
    std::size_t depth_end(std::size_t first) const {
        const int32_t depth = groups_.first(first).depth;
        std::size_t last = first;
        while (last < groups_.count() && groups_.first(last).depth == depth) ++last;
        return last;
    }

    void run_depth(std::size_t first, std::size_t last) {
        next_.store(first, std::memory_order_relaxed);
        last_ = last;
        const unsigned helpers = last - first >= 4 * CHUNK ? threads_ - 1 : 0;
        std::vector<std::thread> pool;
        pool.reserve(helpers);
        for (unsigned t = 1; t <= helpers; ++t) pool.emplace_back([this, t] { work(t); });
        work(0);
        for (std::thread& th : pool) th.join();
    }

    // Thread t's part of the depth under way: each of its walks, in turn, starts a group when
    // it is free and takes a step when it is busy, until no group is left and none is busy.
    void work(unsigned t) {
        std::vector<Walk>& mine = walks_[t];
        Counts& counts = counts_[t];
        std::vector<char> busy(mine.size(), 0);
        Chunk chunk;
        for (bool any = true; any;) {
            any = false;
            for (std::size_t w = 0; w < mine.size(); ++w) {
                Walk& walk = mine[w];
                for (std::size_t group = 0; !busy[w] && take(t, chunk, group);) {
                    const Mating& m = groups_.first(group);
                    if (walk.start(m.sire, m.dam, group, counts)) {
                        busy[w] = 1;
                    } else {
                        finish(group, walk.value());
                    }
                }
                if (!busy[w]) continue;
                any = true;
                if (walk.step(counts)) {
                    finish(walk.group(), walk.value());
                    busy[w] = 0;
                }
            }
        }
    }

    // The next group for thread t, from its chunk or from a new one; false when the depth has
    // none left to hand out.
    bool take(unsigned t, Chunk& chunk, std::size_t& group) {
        if (chunk.next == chunk.end) {
            chunk.next = next_.fetch_add(CHUNK, std::memory_order_relaxed);
            if (chunk.next >= last_) {
                chunk.next = chunk.end;
                return false;
            }
            chunk.end = std::min(chunk.next + CHUNK, last_);
            const auto size = static_cast<int64_t>(chunk.end - chunk.next);
            const int64_t now = done_.fetch_add(size) + size;
            if (t == 0) progress_.advance(now, static_cast<int64_t>(groups_.count()));
        }
        group = chunk.next++;
        return true;
    }

    // Stores F, half the relationship of the sire and dam, for every individual of the group.
    void finish(std::size_t group, float cffa) {
        const float F = cffa * 0.5f;
        for (std::size_t k = groups_.starts[group]; k < groups_.starts[group + 1]; ++k)
            nodes_[at(groups_.matings[k].rank)].F = F;
    }

    const MatingGroups& groups_;
    Nodes& nodes_;
    Progress& progress_;
    unsigned threads_;
    std::vector<std::vector<Walk>> walks_;  // each thread's walks
    std::vector<Counts> counts_;            // each thread's counts
    std::size_t last_ = 0;                  // one past the last group of the depth under way
    // The counters every thread writes, each on a line of its own, away from what they read.
    alignas(64) std::atomic<std::size_t> next_{0};  // the next group of that depth to hand out
    alignas(64) std::atomic<int64_t> done_{0};      // groups handed out
};

void print_counts(int32_t traced, std::size_t matings, std::size_t cache_entries,
                  const Counts& all) {
    std::fprintf(stderr,
                 "kinstrom: inbreeding counts: traced %d, matings %zu, cache entries %zu, "
                 "probes %llu, hits %llu, zero by order %llu, zero by signature %llu, "
                 "computed %llu (non-zero %llu)\n",
                 traced, matings, cache_entries, static_cast<unsigned long long>(all.probes),
                 static_cast<unsigned long long>(all.hits),
                 static_cast<unsigned long long>(all.zero_order),
                 static_cast<unsigned long long>(all.zero_signature),
                 static_cast<unsigned long long>(all.computed),
                 static_cast<unsigned long long>(all.computed_nonzero));
}

// F by position: that of each traced individual, 0 for everyone else.
void store_coefficients(Pedigree& pedigree, const TracedOrder& order, const Nodes& nodes) {
    pedigree.F.assign(static_cast<std::size_t>(pedigree.XLIST.LAST) + 1, 0.0f);
    for (std::size_t r = 1; r <= order.order.size(); ++r)
        pedigree.F[static_cast<std::size_t>(order.order[r - 1])] = nodes[r].F;
}

}  // namespace

unsigned usable_processors() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0)
        return std::clamp(static_cast<unsigned>(CPU_COUNT(&allowed)), 1u, 64u);
    return std::clamp(std::thread::hardware_concurrency(), 1u, 64u);
}

InbreedingWork inbreeding_coefficients(Pedigree& pedigree, const TracedOrder& order,
                                       Progress& progress, const InbreedingSettings& settings) {
    const auto n = static_cast<int32_t>(order.order.size());
    if (n == 0) return {};
    RankedPedigree ranked = ranked_pedigree(pedigree.XLIST, order, n);
    const MatingGroups groups = full_sib_groups(ranked);
    const std::size_t entries = settings.cache_entries != 0
                                    ? settings.cache_entries
                                    : settings.cache_per_individual * static_cast<std::size_t>(n);
    InbreedingWork work;
    {
        PairCache cache(n, entries, settings.cache_memory_share);
        WalkSchedule schedule(groups, ranked, cache, progress, settings);
        schedule.run();
        const Counts counts = schedule.counts();
        if constexpr (COUNTING) print_counts(n, groups.count(), cache.entries(), counts);
        work = {counts.computed, schedule.threads(), cache.entries()};
    }
    // The coefficients by position once the cache is given back, not beside it.
    store_coefficients(pedigree, order, ranked.nodes);
    return work;
}

}  // namespace kinstrom
