// Compares the ID index of the tables (open-addressing hash) with a digital search tree on
// the ID's binary digits, least significant first, on a pedigree-like load: n IDs inserted,
// then three lookups per record (individual, sire, dam) in file order.
//
//   index_bench [n] [seed]
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "pedigree/store.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// The tree: one node per record, the two child links chosen by the next binary digit of |ID|.
struct TreeNode {
    int64_t id;
    std::array<int32_t, 2> child;
};

struct Tree {
    std::vector<TreeNode> nodes{TreeNode{0, {0, 0}}};
    int32_t root = 0;

    int32_t find_or_insert(int64_t id, bool insert) {
        const uint64_t x = id < 0 ? 0ULL - static_cast<uint64_t>(id) : static_cast<uint64_t>(id);
        int32_t node = root, parent = 0;
        int digit = 0, level = 0;
        while (node != 0) {
            if (nodes[static_cast<std::size_t>(node)].id == id) return node;
            digit = static_cast<int>((x >> level) & 1U);
            ++level;
            parent = node;
            node = nodes[static_cast<std::size_t>(node)].child[static_cast<std::size_t>(digit)];
        }
        if (!insert) return 0;
        nodes.push_back(TreeNode{id, {0, 0}});
        const auto last = static_cast<int32_t>(nodes.size() - 1);
        if (parent == 0)
            root = last;
        else
            nodes[static_cast<std::size_t>(parent)].child[static_cast<std::size_t>(digit)] = last;
        return last;
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int32_t n = argc > 1 ? std::atoi(argv[1]) : 10000000;
    const unsigned seed = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1;
    // National-style IDs: a herd number and a serial, in no particular order.
    std::mt19937_64 rng(seed);
    std::vector<int64_t> ids(static_cast<std::size_t>(n));
    for (auto& id : ids)
        id = static_cast<int64_t>(100000000000ULL + (rng() % 9000000ULL) * 100000ULL +
                                  rng() % 100000ULL);
    std::vector<int64_t> lookups;
    lookups.reserve(3 * ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
        lookups.push_back(ids[i]);
        lookups.push_back(ids[rng() % (i + 1)]);
        lookups.push_back(ids[rng() % (i + 1)]);
    }

    std::FILE* sink = std::fopen("/dev/null", "w");
    kinstrom::Listing listing(sink, kinstrom::RunDate{});
    int64_t check_hash = 0, check_tree = 0;

    auto t = Clock::now();
    kinstrom::Table table("XLIST", n);
    table.reserve(listing, n);  // as the pedigree reader does, from the file's line count
    int32_t NEW = 0;
    for (const int64_t id : ids) kinstrom::llist(listing, id, table, 1, NEW);
    const double hash_insert = seconds_since(t);
    t = Clock::now();
    for (const int64_t id : lookups) check_hash += kinstrom::llist(listing, id, table, 0, NEW);
    const double hash_lookup = seconds_since(t);

    t = Clock::now();
    Tree tree;
    tree.nodes.reserve(ids.size() + 1);
    for (const int64_t id : ids) tree.find_or_insert(id, true);
    const double tree_insert = seconds_since(t);
    t = Clock::now();
    for (const int64_t id : lookups) check_tree += tree.find_or_insert(id, false);
    const double tree_lookup = seconds_since(t);

    std::printf("%d IDs, %zu lookups\n", n, lookups.size());
    std::printf("hash index:  insert %.2f s, lookups %.2f s\n", hash_insert, hash_lookup);
    std::printf("search tree: insert %.2f s, lookups %.2f s\n", tree_insert, tree_lookup);
    std::printf("lookup ratio tree/hash: %.1f (checks %s)\n", tree_lookup / hash_lookup,
                check_hash == check_tree ? "agree" : "DIFFER");
    std::fclose(sink);
    return check_hash == check_tree ? 0 : 1;
}
