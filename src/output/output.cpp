#include "output/output.hpp"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <utility>

namespace kinstrom {

namespace {

// A parent field p: p itself with renumbered IDs, otherwise the original ID of the individual
// or PHG (-999999997 for 0).
void parent_field(FreeLine& line, const Pedigree& pedigree, int32_t p, bool renumbered) {
    if (renumbered) {
        line.i64(p);
    } else {
        line.id(pedigree.parent_id(p), pedigree.ids);
    }
}

// Running sums of the contributions, with their allocation messages.
void allocate_sums(Listing& listing, int32_t n_bpop, BreedSums& sums) {
    const auto n = static_cast<std::size_t>(n_bpop > 0 ? n_bpop : 0);
    const int64_t pairs = int64_t{n_bpop} * (n_bpop - 1) / 2;
    const auto l = static_cast<std::size_t>(pairs > 0 ? pairs : 0);
    constexpr double LARGEST = 1.7976931348623157e308;
    try {
        sums.ANDEL_SUM.assign(n, 0.0);
        sums.ANDEL_SSQ.assign(n, 0.0);
        sums.MIN_ANDEL.assign(n, LARGEST);
        sums.MAX_ANDEL.assign(n, -LARGEST);
        sums.N_ANDEL.assign(n, 0);
    } catch (const std::bad_alloc&) {
        allocation_failure(listing, "vector ANDEL", false);
    }
    try {
        sums.HET_S.assign(l, 0.0);
        sums.HET_SS.assign(l, 0.0);
        sums.N_HET.assign(l, 0);
        sums.MIN_HET.assign(l, LARGEST);
        sums.MAX_HET.assign(l, -LARGEST);
    } catch (const std::bad_alloc&) {
        allocation_failure(listing, "vector HET", false);
    }
}

// Records laid out ahead of their writing: their text, newlines included, and their number.
struct RecordText {
    std::string text;
    int64_t records = 0;

    void add(const FreeLine& line) {
        text += line.str();
        text += '\n';
        ++records;
    }
};

// A heterozygosity to write: of individual i for base populations j1 and j2.
struct Heterozygosity {
    int64_t ID;
    double h;
    int32_t i, j1, j2;
};

// .BCONTRIB records of a run of individuals, and their .HET values: the thread that computes
// them lays out the first, the one that writes the files the second, so that the two threads
// share the work about evenly.
struct ContributionBlock {
    static constexpr std::size_t BYTES = std::size_t{1} << 18;  // handed over from this size

    RecordText BCONTRIB;
    std::vector<Heterozygosity> HET;

    ContributionBlock() {
        BCONTRIB.text.reserve(BYTES + 1024);
        HET.reserve(BYTES / 64);
    }
    bool full() const {
        return BCONTRIB.text.size() + HET.size() * sizeof(Heterozygosity) >= BYTES;
    }
};

// Blocks of records on their way from the thread that computes the contributions to the one
// that writes the files, in order, at most a few at a time.
class BlockQueue {
  public:
    // Waits while the queue is full; false when the writer has stopped.
    bool put(ContributionBlock&& block) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return blocks_.size() < MAX_BLOCKS || stopped_; });
        if (stopped_) return false;
        blocks_.push_back(std::move(block));
        changed_.notify_all();
        return true;
    }
    // The last block has been put, or the computation failed with `error`.
    void finish(std::exception_ptr error) {
        const std::lock_guard lock(mutex_);
        finished_ = true;
        error_ = std::move(error);
        changed_.notify_all();
    }
    // The writer gives up (its own stop): a waiting producer returns.
    void stop() {
        const std::lock_guard lock(mutex_);
        stopped_ = true;
        changed_.notify_all();
    }
    // The next block; with `wait`, waits for it. False when there is none (with `wait`: none
    // will come). Rethrows the computation's failure once every block before it is taken.
    bool take(ContributionBlock& block, bool wait) {
        std::unique_lock lock(mutex_);
        if (wait) changed_.wait(lock, [&] { return !blocks_.empty() || finished_; });
        if (blocks_.empty()) {
            if (finished_ && error_) std::rethrow_exception(std::exchange(error_, nullptr));
            return false;
        }
        block = std::move(blocks_.front());
        blocks_.pop_front();
        changed_.notify_all();
        return true;
    }

  private:
    static constexpr std::size_t MAX_BLOCKS = 16;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<ContributionBlock> blocks_;
    bool finished_ = false;
    bool stopped_ = false;
    std::exception_ptr error_;
};

// .BCONTRIB and .HET records of individual i, and the running sums.
void write_contributions(const OutputOptions& options, const IdTexts& ids, const Record& r,
                         int32_t i, const BreedValues& values, ContributionBlock& block,
                         BreedSums& sums, FreeLine& line) {
    const auto n = static_cast<int32_t>(values.ANDEL.size());
    for (int32_t j = 1; j <= n; ++j) {
        const double x = values.ANDEL[at(j - 1)];
        if (!(x > WRITE_THRESHOLD)) continue;
        line.clear();
        if (options.renumbered) {
            line.i32(i).i32(j).r64(x).id(r.ID, ids);
        } else {
            line.id(r.ID, ids).i32(j).r64(x);
        }
        block.BCONTRIB.add(line);
        ++sums.NIN_BCONTRIB;
        const std::size_t u = at(j - 1);
        sums.ANDEL_SUM[u] += x;
        sums.ANDEL_SSQ[u] += x * x;
        sums.MIN_ANDEL[u] = std::min(sums.MIN_ANDEL[u], x);
        sums.MAX_ANDEL[u] = std::max(sums.MAX_ANDEL[u], x);
        ++sums.N_ANDEL[u];
    }
    std::size_t l = 0;
    for (int32_t j1 = 1; j1 <= n - 1; ++j1) {
        for (int32_t j2 = j1 + 1; j2 <= n; ++j2, ++l) {
            const double h = values.HET[l];
            if (!(h > WRITE_THRESHOLD)) continue;
            sums.HET_S[l] += h;
            sums.HET_SS[l] += h * h;
            sums.MIN_HET[l] = std::min(sums.MIN_HET[l], h);
            sums.MAX_HET[l] = std::max(sums.MAX_HET[l], h);
            ++sums.N_HET[l];
            block.HET.push_back({r.ID, h, i, j1, j2});
            ++sums.NIN_HET;
        }
    }
}

// The .PED record of traced individual i.
void write_ped_record(const OutputOptions& options, const Pedigree& pedigree,
                      const GeneticValues& genetics, int32_t i, OutFile& PED, FreeLine& line) {
    const Record& r = pedigree.XLIST[i];
    line.clear();
    if (options.renumbered) {
        line.i64(i);
    } else {
        line.id(r.ID, pedigree.ids);
    }
    parent_field(line, pedigree, r.SIRE, options.renumbered);
    parent_field(line, pedigree, r.DAM, options.renumbered);
    line.i32(r.SORT).r32(genetics.K_GEN[at(i)]);
    if (options.inbreeding) line.r32(pedigree.F[at(i)]);
    if (options.renumbered) line.id(r.ID, pedigree.ids);
    PED.record(line);
}

void add_to_group(const std::vector<int32_t>& groups, std::vector<double>& group_sums, int32_t i,
                  const std::vector<double>& ANDEL) {
    const int32_t g = groups[at(i)];
    if (g < 0) return;
    double* sums = group_sums.data() + at(g) * ANDEL.size();
    for (std::size_t b = 0; b < ANDEL.size(); ++b) sums[b] += ANDEL[b];
}

// The contributions of the traced individuals, one at a time in position order.
struct Contributions {
    Contributions(const OutputOptions& o, const IdTexts& t, BreedValues& b, BreedSums& s,
                  std::vector<double>& g)
        : options(o), ids(t), breeds(b), sums(s), group_sums(g) {}

    const OutputOptions& options;
    const IdTexts& ids;
    BreedValues& breeds;
    BreedSums& sums;
    std::vector<double>& group_sums;
    FreeLine line{true};

    void add(const Record& r, int32_t i, ContributionBlock& block) {
        breeds.of(i);
        write_contributions(options, ids, r, i, breeds, block, sums, line);
        if (options.groups != nullptr) add_to_group(*options.groups, group_sums, i, breeds.ANDEL);
    }
};

// The second thread of write_traced_pedigree: the contributions laid out in blocks.
void contribution_blocks(const Table& X, Contributions& contributions, BlockQueue& queue) {
    std::exception_ptr error;
    try {
        ContributionBlock block;
        for (int32_t i = 1; i <= X.LAST; ++i) {
            if (!is_set(X[i].TRACED)) continue;
            contributions.add(X[i], i, block);
            if (block.full() && !queue.put(std::exchange(block, {}))) return;
        }
        queue.put(std::move(block));
    } catch (...) {
        error = std::current_exception();
    }
    queue.finish(std::move(error));
}

void write_block(const OutputOptions& options, const IdTexts& ids, const ContributionBlock& block,
                 OutputFiles files, FreeLine& line) {
    files.BCONTRIB.records(block.BCONTRIB.text, block.BCONTRIB.records);
    for (const Heterozygosity& v : block.HET) {
        line.clear();
        if (options.renumbered) {
            line.i32(v.i).i32(v.j1).i32(v.j2).r64(v.h).id(v.ID, ids);
        } else {
            line.id(v.ID, ids).i32(v.j1).i32(v.j2).r64(v.h);
        }
        files.HET.record(line);
    }
}

}  // namespace

bool phg_in_tables(const Pedigree& pedigree, const OutputResults& results, int32_t k) {
    return is_set(pedigree.PHG_LIST[k].MARKED) &&
           (results.ND_PHG[2 * at(k)] > 0 || results.ND_PHG[2 * at(k) + 1] > 0);
}

void write_missing_phgs(const Pedigree& pedigree, ErrorFiles& errors) {
    for (int32_t k = 1; k <= pedigree.PHG_ERRLIST.LAST; ++k) {
        const Record& entry = pedigree.PHG_ERRLIST[k];
        errors.missing_phg(entry.ID, pedigree.XLIST[entry.SIRE].ID, entry.DAM);
    }
}

void write_traced_pedigree(Listing& listing, const OutputOptions& options, Pedigree& pedigree,
                           const GeneticValues& genetics, OutputFiles files, OutputResults& results,
                           Progress& progress) {
    Table& X = pedigree.XLIST;
    try {
        results.ND_PHG.assign(2 * (at(pedigree.N_PHG1) + 1), 0);
    } catch (const std::bad_alloc&) {
        allocation_failure(listing, "vector ND_PHG", false);
    }
    std::optional<BreedValues> breeds;
    if (options.contributions) {
        allocate_sums(listing, pedigree.N_BPOP, results.sums);
        if (options.groups != nullptr)
            results.group_sums.assign(options.n_groups * at(pedigree.N_BPOP), 0.0);
        breeds.emplace(listing, pedigree, genetics.order);
    }
    std::optional<Contributions> contributions;
    if (breeds)
        contributions.emplace(options, pedigree.ids, *breeds, results.sums, results.group_sums);
    // With contributions and more than one thread, a second thread computes them and lays out
    // their records while this one writes .PED; every file is written here, in position order.
    const bool alone = options.threads == 1 || (options.threads == 0 && usable_processors() == 1);
    BlockQueue queue;
    std::thread second;
    if (contributions && !alone) {
        second = std::thread(contribution_blocks, std::cref(X), std::ref(*contributions),
                             std::ref(queue));
    }
    // A stop while writing (a full disk) ends the other thread before it goes on.
    struct Joiner {
        BlockQueue& queue;
        std::thread& thread;
        ~Joiner() {
            if (!thread.joinable()) return;
            queue.stop();
            thread.join();
        }
    } joiner{queue, second};
    ContributionBlock block;
    FreeLine line(true);
    for (int32_t i = 1; i <= X.LAST; ++i) {
        if ((i & 0xfff) == 0) {
            progress.advance(i, X.LAST);
            while (queue.take(block, false)) write_block(options, pedigree.ids, block, files, line);
        }
        Record& r = X[i];
        r.IN_PED = 0;
        if (!is_set(r.TRACED)) continue;
        if (r.SIRE < 0) ++results.ND_PHG[2 * at(-r.SIRE)];
        if (r.DAM < 0) ++results.ND_PHG[2 * at(-r.DAM) + 1];
        write_ped_record(options, pedigree, genetics, i, files.PED, line);
        ++results.ANTAL1;
        ++results.NIN_PED;
        r.IN_PED = FLAG_TRUE;
        if (contributions && alone) {
            contributions->add(r, i, block);
            if (block.full())
                write_block(options, pedigree.ids, std::exchange(block, {}), files, line);
        }
    }
    if (contributions && alone) write_block(options, pedigree.ids, block, files, line);
    if (second.joinable()) {
        while (queue.take(block, true)) write_block(options, pedigree.ids, block, files, line);
        second.join();
    }
}

void write_phg_renumbering(const OutputOptions& options, const Pedigree& pedigree,
                           const std::vector<int32_t>& IW2, OutFile& PHG_RENUM,
                           OutputResults& results) {
    if (options.use_bprop || !options.phg_renumbering) return;
    FreeLine line(true);
    for (int32_t j = 1; j <= pedigree.N_PHG1; ++j) {
        const int32_t k = IW2[at(j)];
        if (!phg_in_tables(pedigree, results, k)) continue;
        PHG_RENUM.record(line.clear().i64(pedigree.PHG_LIST[k].ID).i64(-k));
        ++results.NIN_PHG_RENUM;
    }
}

void write_pruned_pedigree(const OutputOptions& options, Pedigree& pedigree,
                           const TracedOrder& order, OutFile& PRUNE, OutputResults& results) {
    Table& X = pedigree.XLIST;
    // Whether an individual or one of its ancestors was reached through two offspring: the
    // largest link count of the line is 2 or more. Parents come before offspring in position
    // order only by chance, so settle them in the traced order.
    std::vector<uint8_t> linked(at(X.LAST) + 1, 0);
    for (const int32_t p : order.order) {
        const Record& r = X[p];
        linked[at(p)] = (r.N_LINKS >= 2 || (r.SIRE > 0 && linked[at(r.SIRE)] != 0) ||
                         (r.DAM > 0 && linked[at(r.DAM)] != 0))
                            ? 1
                            : 0;
    }
    for (int32_t i = 1; i <= X.LAST; ++i) {
        Record& r = X[i];
        if (!is_set(r.IN_PED)) continue;
        if (is_set(r.MARKED)) {
            r.KEEP = FLAG_TRUE;
        } else if (is_set(r.KEEP) && linked[at(i)] == 0) {
            r.KEEP = 0;
        }
    }
    results.NIN_PRUNE = 0;
    FreeLine line(true);
    for (int32_t i = 1; i <= X.LAST; ++i) {
        Record& r = X[i];
        if (!is_set(r.IN_PED) || !is_set(r.KEEP)) continue;
        if (r.SIRE > 0 && !is_set(X[r.SIRE].KEEP)) r.SIRE = 0;
        if (r.DAM > 0 && !is_set(X[r.DAM].KEEP)) r.DAM = 0;
        line.clear();
        if (options.renumbered) {
            line.i32(i).i32(r.SIRE).i32(r.DAM).i32(r.SORT).id(r.ID, pedigree.ids);
        } else {
            line.id(r.ID, pedigree.ids);
            parent_field(line, pedigree, r.SIRE, false);
            parent_field(line, pedigree, r.DAM, false);
            line.i32(r.SORT);
        }
        PRUNE.record(line);
        ++results.NIN_PRUNE;
    }
}

}  // namespace kinstrom
