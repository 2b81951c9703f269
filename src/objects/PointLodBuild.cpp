#include "objects/PointLod.h"

#include "core/StartupTiming.h"
#include "formats/PointBounds.h"
#include "formats/PointLodCells.h"
#include "math/Parallel.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <unordered_map>
#include <utility>

namespace {

constexpr int kBits = PointLodCells::kBits;
constexpr int kTop = PointLodCells::kTop;                // the buckets are the cells of this level
constexpr int kSampled = kBits - 6;                      // depths above take one point a cell 6 levels down
constexpr size_t kBuckets = PointLodCells::kGroups;
constexpr int kLocalBits = 3 * (kBits - kTop);           // of a code, below its bucket
constexpr uint32_t kLeafPoints = 12000;
// Nodes of this depth keep all their points: their cubes are 1/512 of the cloud's a side, and
// one split more would only move a pile of repeated points one level down.
constexpr int kLeafDepth = kBits - 1;
constexpr size_t kChunk = size_t(1) << 15;               // points a thread copies at a time
constexpr size_t kOrderRun = 512;                        // indices a bucket gathers before a disk write

// Where each array of the cloud lies in the copy: positions, colours, then each value array.
struct Layout {
    size_t n;
    bool rgb;
    size_t nValues;
    size_t rgbAt() const { return 12 * n; }
    size_t valueAt(size_t v) const { return 12 * n + (rgb ? 3 * n : 0) + 4 * n * v; }
    size_t bytes() const { return valueAt(nValues); }
};

// f(t) for t in [0, threads), as Parallel runs parts; `together` when they wait for one another.
template <class F>
void inParallel(int threads, const F &f, bool together = false)
{
    const auto part = [&f](unsigned t) { f(static_cast<int>(t)); };
    if (together)
        Parallel::together(static_cast<unsigned>(threads), part);
    else
        Parallel::run(static_cast<unsigned>(threads), part);
}

// A node found: its depth, its cell at that depth and its points.
struct Found {
    int depth;
    uint32_t cell;
    uint32_t first, count;
};

// Nodes in this order put each node before its subtree and the subtrees by child digit.
uint64_t preorder(int depth, uint32_t cell) { return (uint64_t(cell) << (3 * (kBits - depth))) << 4 | uint64_t(depth); }

// A bucket after ordering: its points for the nodes above the buckets, by depth, come first,
// then its subtree's nodes in preorder (first relative to the subtree's start).
struct BucketResult {
    uint32_t up[kTop] = {};
    std::vector<Found> nodes;
};

class Builder {
public:
    Builder(const PointLodArrays &arrays, size_t count, int nThreads, const std::atomic<bool> *stop,
            PointCellOrder *readGroups)
        : cloud(arrays), n(count), threads(std::max(1, nThreads)), cancel(stop),
          layout{count, arrays.rgb != nullptr, arrays.values.size()},
          given(readGroups && *readGroups ? readGroups : nullptr)
    {
    }

    PointLod run(size_t spillBytes)
    {
        PointLod lod;
        lod.nPoints = n;
        if (n == 0)
            return lod;
        StartupTiming::mark("hierarchy: started");
        // The reader that grouped the points took their box on the way.
        if (given) {
            cells = given->cells;
            size = given->size;
        } else {
            findCells();
        }
        StartupTiming::mark("hierarchy: cells found");
        if (given)
            return runGrouped(lod);
        // In memory the points are swapped into their buckets; a cloud too large for a copy
        // beside it and its order goes through a file, from which it is put in its buckets.
        disk = layout.bytes() > spillBytes;
        if (disk) {
            try {
                copy = PointLodSpill::onDisk();
                lod.order = PointOrder(PointLodSpill::onDisk(), n);
            } catch (const std::runtime_error &) {
                disk = false; // no folder on a disk: all in memory, then
            }
        }
        if (!disk)
            lod.order = PointOrder(PointLodSpill::inMemory(4 * n), n);
        order = &lod.order;
        countAndCopy();
        StartupTiming::mark("hierarchy: points counted");
        checkCancel();
        try {
            if (disk) {
                moved = true;
                scatter();
                StartupTiming::mark("hierarchy: points in their cells");
                checkCancel();
            }
            orderBuckets();
            StartupTiming::mark("hierarchy: cells ordered");
            checkCancel();
            gather(lod);
        } catch (const PointLod::Cancelled &) {
            throw; // the arrays hold the same points, in another order, and are dropped
        } catch (...) {
            // The points go back where they were: without a hierarchy the cloud is drawn as it
            // stands and a click reports the index a point has in memory.
            try {
                restore();
            } catch (...) {
            }
            throw;
        }
        return lod;
    }

private:
    // The reader grouped the points already: the order it kept is the hierarchy's, and the
    // groups are ordered at once.
    PointLod runGrouped(PointLod &lod)
    {
        LargeArray<char> indices(reinterpret_cast<char *>(given->fileIndex.release()));
        lod.order = PointOrder(PointLodSpill::adopt(std::move(indices)), n);
        order = &lod.order;
        moved = true;
        grouped = true;
        start = std::move(given->start);
        given->start.clear();
        try {
            bool sound = start.size() == kBuckets + 1 && start.front() == 0 && start.back() == n;
            for (size_t k = 0; sound && k < kBuckets; ++k)
                sound = start[k] <= start[k + 1];
            if (!sound)
                throw std::logic_error("the groups of a cloud do not add up to its points");
            orderBuckets();
            StartupTiming::mark("hierarchy: cells ordered");
            checkCancel();
            gather(lod);
        } catch (const PointLod::Cancelled &) {
            throw;
        } catch (...) {
            // Back in the file's order, which the cloud keeps without its hierarchy.
            try {
                restore();
            } catch (...) {
            }
            throw;
        }
        return std::move(lod);
    }

    void checkCancel() const
    {
        if (cancel && cancel->load())
            throw PointLod::Cancelled();
    }

    std::pair<size_t, size_t> half(int t) const { return {n * size_t(t) / size_t(threads), n * size_t(t + 1) / size_t(threads)}; }

    void findCells()
    {
        std::vector<PointBounds> parts(static_cast<size_t>(threads));
        inParallel(threads, [&](int t) {
            const auto [a, b] = half(t);
            parts[static_cast<size_t>(t)].addPoints(cloud.xyz + 3 * a, 3 * (b - a));
        });
        PointBounds bounds;
        for (const PointBounds &p : parts)
            for (int k = 0; k < 3; ++k) {
                bounds.lo[k] = std::min(bounds.lo[k], p.lo[k]);
                bounds.hi[k] = std::max(bounds.hi[k], p.hi[k]);
            }
        cells = PointLodCells::fitting(bounds, size);
    }

    uint32_t bucketOf(const float *p) const { return cells.coarseKey<kTop>(p); }

    // Each thread counts its part's points a bucket and copies its part to the file, or
    // starts the order in memory.
    void countAndCopy()
    {
        counts.assign(static_cast<size_t>(threads), std::vector<uint32_t>(kBuckets, 0));
        // In memory on two threads, each parts its half in two sides as it counts the points:
        // the buckets below `split` (from a sample) first. The threads sort a side each.
        parted = !disk && threads == 2;
        if (parted) {
            split = sampledSplit();
            moved = true;
        }
        inParallel(threads, [&](int t) {
            const auto [a, b] = half(t);
            uint32_t *count = counts[static_cast<size_t>(t)].data();
            if (uint32_t *o = order->memory())
                for (size_t i = a; i < b; ++i)
                    o[i] = static_cast<uint32_t>(i);
            if (parted)
                low[t] = partHalf(a, b, count);
            else
                for (size_t i = a; i < b; ++i)
                    ++count[bucketOf(cloud.xyz + 3 * i)];
            for (size_t from = a; from < b && disk; from += 8 * kChunk) {
                const size_t m = std::min(8 * kChunk, b - from);
                copy.write(12 * from, cloud.xyz + 3 * from, 12 * m);
                if (cloud.rgb)
                    copy.write(layout.rgbAt() + 3 * from, cloud.rgb + 3 * from, 3 * m);
                for (size_t v = 0; v < layout.nValues; ++v)
                    copy.write(layout.valueAt(v) + 4 * from, cloud.values[v] + from, 4 * m);
            }
        });
        start.assign(kBuckets + 1, 0);
        for (size_t k = 0; k < kBuckets; ++k) {
            uint64_t sum = 0;
            for (const std::vector<uint32_t> &c : counts)
                sum += c[k];
            start[k + 1] = start[k] + sum;
        }
    }

    // From the copy on disk into the arrays, by bucket, each bucket in the file's order.
    void scatter()
    {
        inParallel(threads, [&](int t) {
            const auto [a, b] = half(t);
            std::vector<uint64_t> cursor(kBuckets);
            for (size_t k = 0; k < kBuckets; ++k) {
                cursor[k] = start[k];
                for (int u = 0; u < t; ++u)
                    cursor[k] += counts[static_cast<size_t>(u)][k];
            }
            const char *mem = copy.memory();
            std::vector<float> xyz(mem ? 0 : 3 * kChunk), value(mem ? 0 : kChunk);
            std::vector<unsigned char> rgb(mem ? 0 : 3 * kChunk);
            std::vector<uint64_t> dest(kChunk);
            uint32_t *orderMemory = order->memory();
            // On disk the indices of a bucket gather into runs, written whole.
            std::vector<uint32_t> runs(orderMemory ? 0 : kBuckets * kOrderRun), fill(orderMemory ? 0 : kBuckets, 0);
            std::vector<uint64_t> runAt(orderMemory ? 0 : kBuckets);
            for (size_t from = a; from < b; from += kChunk) {
                const size_t m = std::min(kChunk, b - from);
                const float *p = mem ? reinterpret_cast<const float *>(mem) + 3 * from : xyz.data();
                if (!mem)
                    copy.read(12 * from, xyz.data(), 12 * m);
                for (size_t j = 0; j < m; ++j) {
                    const uint32_t k = bucketOf(p + 3 * j);
                    dest[j] = cursor[k]++;
                    if (orderMemory) {
                        orderMemory[dest[j]] = static_cast<uint32_t>(from + j);
                        continue;
                    }
                    if (fill[k] == 0)
                        runAt[k] = dest[j];
                    runs[k * kOrderRun + fill[k]++] = static_cast<uint32_t>(from + j);
                    if (fill[k] == kOrderRun) {
                        order->write(runAt[k], kOrderRun, &runs[k * kOrderRun]);
                        fill[k] = 0;
                    }
                }
                for (size_t j = 0; j < m; ++j)
                    std::memcpy(cloud.xyz + 3 * dest[j], p + 3 * j, 12);
                if (cloud.rgb) {
                    const unsigned char *c = mem ? reinterpret_cast<const unsigned char *>(mem + layout.rgbAt()) + 3 * from
                                                 : rgb.data();
                    if (!mem)
                        copy.read(layout.rgbAt() + 3 * from, rgb.data(), 3 * m);
                    for (size_t j = 0; j < m; ++j)
                        std::memcpy(cloud.rgb + 3 * dest[j], c + 3 * j, 3);
                }
                for (size_t v = 0; v < layout.nValues; ++v) {
                    const float *s = mem ? reinterpret_cast<const float *>(mem + layout.valueAt(v)) + from : value.data();
                    if (!mem)
                        copy.read(layout.valueAt(v) + 4 * from, value.data(), 4 * m);
                    for (size_t j = 0; j < m; ++j)
                        cloud.values[v][dest[j]] = s[j];
                }
            }
            for (size_t k = 0; k < fill.size(); ++k)
                if (fill[k] > 0)
                    order->write(runAt[k], fill[k], &runs[k * kOrderRun]);
        });
    }

    // Swaps two points in every array and in the order.
    void swapPoints(size_t i, size_t j, uint32_t *o) const
    {
        std::swap_ranges(cloud.xyz + 3 * i, cloud.xyz + 3 * i + 3, cloud.xyz + 3 * j);
        if (cloud.rgb)
            std::swap_ranges(cloud.rgb + 3 * i, cloud.rgb + 3 * i + 3, cloud.rgb + 3 * j);
        for (float *v : cloud.values)
            std::swap(v[i], v[j]);
        std::swap(o[i], o[j]);
    }

    // American flag sort of the points of buckets [lo, hi), which lie in their places: every
    // swap puts one point in its bucket, and the heads of the buckets are the only places
    // written, which keeps the memory traffic local. A bucket is complete only near the end
    // (the points that arrive at its head are drawn from all the others).
    void swapIntoBuckets(size_t lo, size_t hi)
    {
        uint32_t *o = order->memory();
        std::vector<uint64_t> head(start.begin() + static_cast<std::ptrdiff_t>(lo),
                                   start.begin() + static_cast<std::ptrdiff_t>(hi));
        for (size_t b = lo; b < hi; ++b) {
            if ((b & 31) == 0)
                checkCancel();
            while (head[b - lo] < start[b + 1]) {
                const uint32_t k = bucketOf(cloud.xyz + 3 * head[b - lo]);
                if (k == b)
                    ++head[b - lo];
                else {
                    // The next places of that bucket, fetched ahead: a bucket's head is met
                    // again only after the others, by which time its memory left the cache.
                    uint64_t &to = head[k - lo];
                    const size_t ahead = std::min<size_t>(to + 16, start[k + 1] - 1);
                    __builtin_prefetch(cloud.xyz + 3 * ahead, 1);
                    __builtin_prefetch(o + ahead, 1);
                    if (cloud.rgb)
                        __builtin_prefetch(cloud.rgb + 3 * ahead, 1);
                    swapPoints(head[b - lo], to++, o);
                }
            }
        }
    }

    // The bucket below which about half the points lie, from a sample.
    size_t sampledSplit() const
    {
        std::vector<uint32_t> below(kBuckets + 1, 0);
        const size_t step = std::max<size_t>(1, n / 16384);
        for (size_t i = 0; i < n; i += step)
            ++below[bucketOf(cloud.xyz + 3 * i) + 1];
        for (size_t k = 0; k < kBuckets; ++k)
            below[k + 1] += below[k];
        const long long total = below[kBuckets];
        const auto off = [&](size_t k) { return std::llabs(2 * static_cast<long long>(below[k]) - total); };
        size_t best = kBuckets;
        for (size_t k = 0; k < kBuckets; ++k)
            if (off(k) < off(best))
                best = k;
        return best;
    }

    // Puts the points of [a, b) in buckets below `split` before the others, from both ends,
    // counting each point's bucket (when `count` is given); returns how many are below.
    // Blocks of points are looked at first and their misplaced ones swapped after, which
    // spares the processor a mispredicted branch a point.
    size_t partHalf(size_t a, size_t b, uint32_t *count)
    {
        constexpr size_t kBlock = 64;
        uint32_t *o = order->memory();
        // Places in the left block from its start, in the right one from its end.
        uint8_t highAt[kBlock], lowAt[kBlock];
        size_t i = a, j = b, nHigh = 0, nLow = 0, firstHigh = 0, firstLow = 0;
        const auto look = [&](size_t at) {
            const uint32_t k = bucketOf(cloud.xyz + 3 * at);
            if (count)
                ++count[k];
            return k;
        };
        // [a, i) is below, [j, b) above; pending blocks are [i, i + kBlock), [j - kBlock, j).
        while (j - i >= 2 * kBlock) {
            if (nHigh == 0) {
                firstHigh = 0;
                for (size_t k = 0; k < kBlock; ++k) {
                    highAt[nHigh] = static_cast<uint8_t>(k);
                    nHigh += look(i + k) >= split;
                }
            }
            if (nLow == 0) {
                firstLow = 0;
                for (size_t k = 0; k < kBlock; ++k) {
                    lowAt[nLow] = static_cast<uint8_t>(k);
                    nLow += look(j - 1 - k) < split;
                }
            }
            const size_t pairs = std::min(nHigh, nLow);
            for (size_t k = 0; k < pairs; ++k)
                swapPoints(i + highAt[firstHigh + k], j - 1 - lowAt[firstLow + k], o);
            nHigh -= pairs;
            nLow -= pairs;
            firstHigh += pairs;
            firstLow += pairs;
            if (nHigh == 0)
                i += kBlock;
            if (nLow == 0)
                j -= kBlock;
        }
        // The rest one point at a time; the points of a pending block are counted already.
        if (count)
            for (size_t at = i + (nHigh > 0 ? kBlock : 0), end = j - (nLow > 0 ? kBlock : 0); at < end; ++at)
                look(at);
        for (size_t end = j;;) {
            while (i < end && bucketOf(cloud.xyz + 3 * i) < split)
                ++i;
            while (i < end && bucketOf(cloud.xyz + 3 * (end - 1)) >= split)
                --end;
            if (i >= end)
                break;
            swapPoints(i++, --end, o);
        }
        return i - a;
    }

    // Puts the points of buckets below `split` before the others, on two threads: each
    // parts its half of the arrays (unless counting did), then the points on the wrong side
    // of the middle trade places.
    void splitInTwo()
    {
        uint32_t *o = order->memory();
        const size_t mid = n / 2;
        if (!parted)
            inParallel(2, [&](int t) { low[t] = partHalf(t == 0 ? 0 : mid, t == 0 ? mid : n, nullptr); });
        if (low[0] + low[1] != start[split])
            throw std::logic_error("the points of a cloud changed their cells");
        // [low 0 | high 0 | low 1 | high 1]: the first of high 0 trade with the last of low 1.
        const size_t k = std::min(mid - low[0], low[1]), a = low[0], b = mid + low[1] - k;
        inParallel(2, [&](int t) {
            for (size_t i = k * size_t(t) / 2, e = k * size_t(t + 1) / 2; i < e; ++i)
                swapPoints(a + i, b + i, o);
        });
    }

    void restore()
    {
        if (!moved)
            return;
        if (uint32_t *o = order->memory()) {
            // One cycle of the permutation at a time.
            for (size_t i = 0; i < n; ++i)
                while (o[i] != i)
                    swapPoints(i, o[i], o);
            return;
        }
        for (size_t from = 0; from < n; from += kChunk) {
            const size_t m = std::min(kChunk, n - from);
            copy.read(12 * from, cloud.xyz + 3 * from, 12 * m);
            if (cloud.rgb)
                copy.read(layout.rgbAt() + 3 * from, cloud.rgb + 3 * from, 3 * m);
            for (size_t v = 0; v < layout.nValues; ++v)
                copy.read(layout.valueAt(v) + 4 * from, cloud.values[v] + from, 4 * m);
        }
    }

    // What a thread needs to order buckets, kept from one bucket to the next and cleared
    // after each by going over the bucket's codes again.
    struct Work {
        std::vector<uint32_t> code, dest, indices;
        std::vector<uint8_t> depth;
        std::vector<uint32_t> total[kLeafDepth]; ///< levels kTop + 1 .. kLeafDepth - 1: points a cell
        std::vector<uint8_t> taken[kSampled]; ///< depths above kSampled: sub-cells that gave a point
        std::vector<uint8_t> reached;        ///< finest cells: points that went below the buckets
        std::vector<uint32_t> node[kLeafDepth + 1]; ///< depths kTop .. kLeafDepth: points, then the next place
        std::vector<float> xyz, value;
        std::vector<unsigned char> rgb;
        std::vector<uint32_t> order;

        Work()
        {
            for (int l = kTop + 1; l < kLeafDepth; ++l)
                total[l].assign(size_t(1) << (3 * (l - kTop)), 0);
            for (int d = 0; d < kSampled; ++d)
                taken[d].assign(size_t(1) << (3 * (d + 6 - kTop)), 0);
            reached.assign(size_t(1) << kLocalBits, 0);
            for (int d = kTop; d <= kLeafDepth; ++d)
                node[d].assign(size_t(1) << (3 * (d - kTop)), 0);
        }
    };

    // Whether the node of `depth` above the buckets that holds bucket b keeps all its points.
    bool upperLeaf(int depth, size_t b) const { return levelTotal[depth][b >> (3 * (kTop - depth))] <= kLeafPoints; }

    // Orders every bucket on its own. In memory the points are first swapped into their
    // buckets: the buckets fall in two sides of about half the points each, one a thread,
    // and a thread whose side is done orders its buckets, then helps with the other side's.
    void orderBuckets()
    {
        for (int d = 0; d < kTop; ++d) {
            levelTotal[d].assign(size_t(1) << (3 * d), 0);
            for (size_t b = 0; b < kBuckets; ++b)
                levelTotal[d][b >> (3 * (kTop - d))] += start[b + 1] - start[b];
        }
        results.assign(kBuckets, BucketResult());
        const int sorters = disk || grouped ? 0 : std::min(threads, 2);
        moved = true;
        if (sorters == 2) {
            if (!parted)
                for (size_t k = 0; k < kBuckets; ++k)
                    if (std::llabs(static_cast<long long>(2 * start[k]) - static_cast<long long>(n)) <
                        std::llabs(static_cast<long long>(2 * start[split]) - static_cast<long long>(n)))
                        split = k;
            splitInTwo();
            StartupTiming::mark("hierarchy: points split in two");
        }
        const size_t sideEnd[2] = {split, kBuckets};
        bool done[2] = {sorters == 0, sorters < 2}, stopped = false;
        std::mutex lock;
        std::condition_variable more;
        std::atomic<size_t> next[2];
        next[0] = 0;
        next[1] = split;
        // Together: a thread may wait for the side the other one sorts.
        inParallel(threads, [&](int t) {
            if (t < sorters) {
                try {
                    if (sorters == 1)
                        swapIntoBuckets(0, kBuckets);
                    else
                        swapIntoBuckets(t == 0 ? 0 : split, sideEnd[t]);
                } catch (...) {
                    const std::lock_guard<std::mutex> hold(lock);
                    stopped = true;
                    more.notify_all();
                    throw;
                }
                const std::lock_guard<std::mutex> hold(lock);
                done[t] = true;
                if (done[0] && done[1])
                    StartupTiming::mark("hierarchy: points in their cells");
                more.notify_all();
            }
            Work work;
            for (int pass = 0; pass < 2; ++pass) {
                const int side = (t + pass) % 2;
                for (size_t b; (b = next[side]++) < sideEnd[side];) {
                    if (start[b + 1] == start[b])
                        continue;
                    {
                        std::unique_lock<std::mutex> hold(lock);
                        more.wait(hold, [&] { return done[side] || stopped; });
                        if (stopped)
                            return;
                    }
                    checkCancel();
                    orderBucket(b, work);
                }
            }
        }, true);
    }

    // Sends each point of bucket b, in the bucket's order, to the shallowest node that keeps
    // it, then puts the bucket's points in their nodes' order.
    void orderBucket(size_t b, Work &w)
    {
        const size_t s = start[b], m = start[b + 1] - s;
        BucketResult &r = results[b];
        w.code.resize(m);
        w.depth.resize(m);
        w.dest.resize(m);
        const uint32_t mask = (1u << kLocalBits) - 1;
        uint32_t strays = 0;
        for (size_t j = 0; j < m; ++j) {
            const uint32_t key = cells.key(cloud.xyz + 3 * (s + j)), c = key & mask;
            strays |= (key >> kLocalBits) ^ static_cast<uint32_t>(b);
            w.code[j] = c;
            ++w.total[kLeafDepth - 1][c >> (3 * (kBits - kLeafDepth + 1))];
        }
        // A point outside its bucket would land in a node whose cube does not hold it.
        if (strays != 0)
            throw std::logic_error("the points of a cloud changed their cells");
        // The coarser counts from the finest: a cell holds the points of its eight children.
        for (int l = kLeafDepth - 2; l > kTop; --l)
            for (size_t i = 0; i < w.total[l].size(); ++i) {
                const uint32_t *children = &w.total[l + 1][8 * i];
                w.total[l][i] = children[0] + children[1] + children[2] + children[3] + children[4] + children[5] +
                                children[6] + children[7];
            }
        const auto leaf = [&](int d, uint32_t c) {
            return d >= kLeafDepth || (d == kTop ? m : w.total[d][c >> (3 * (kBits - d))]) <= kLeafPoints;
        };
        bool upLeaf[kTop];
        for (int d = 0; d < kTop; ++d)
            upLeaf[d] = upperLeaf(d, b);
        std::vector<std::pair<uint64_t, size_t>> found;
        for (size_t j = 0; j < m; ++j) {
            const uint32_t c = w.code[j];
            int d = 0;
            for (; d < kSampled; ++d) {
                if (d < kTop ? upLeaf[d] : leaf(d, c))
                    break;
                uint8_t &t = w.taken[d][c >> (3 * (kBits - d - 6))];
                if (!t) {
                    t = 1;
                    break;
                }
            }
            if (d == kSampled) {
                // Below, every depth takes one point a finest cell: the how-manieth point of
                // its cell that came this far tells the depth.
                uint8_t &seen = w.reached[c];
                const int deepest = kSampled + seen;
                seen = static_cast<uint8_t>(std::min(seen + 1, 255));
                while (d < deepest && !leaf(d, c))
                    ++d;
            }
            w.depth[j] = static_cast<uint8_t>(d);
            if (d < kTop) {
                ++r.up[d];
                continue;
            }
            const uint32_t cell = c >> (3 * (kBits - d));
            if (w.node[d][cell]++ == 0)
                found.push_back({preorder(d, cell), 0});
        }
        std::sort(found.begin(), found.end());
        uint32_t upAt[kTop], place = 0;
        for (int d = 0; d < kTop; ++d) {
            upAt[d] = place;
            place += r.up[d];
        }
        const uint32_t subtree = place;
        r.nodes.reserve(found.size());
        for (const auto &f : found) {
            const int d = static_cast<int>(f.first & 15);
            const uint32_t cell = static_cast<uint32_t>(f.first >> (4 + 3 * (kBits - d)));
            uint32_t &count = w.node[d][cell];
            r.nodes.push_back({d, static_cast<uint32_t>(b << (3 * (d - kTop))) | cell, place - subtree, count});
            const uint32_t here = place;
            place += count;
            count = here;
        }
        for (size_t j = 0; j < m; ++j) {
            const int d = w.depth[j];
            w.dest[j] = d < kTop ? upAt[d]++ : w.node[d][w.code[j] >> (3 * (kBits - d))]++;
        }
        permute(s, m, w);
        // Cleared for the next bucket.
        // A table is cleared whole when the bucket has more points than it has cache
        // lines, else point by point.
        for (int l = kTop + 1; l < kLeafDepth - 1; ++l)
            std::fill(w.total[l].begin(), w.total[l].end(), 0);
        const auto clear = [&](auto &table, int shift) {
            if (m > table.size() * sizeof(table[0]) / 64) {
                std::fill(table.begin(), table.end(), 0);
                return;
            }
            for (size_t j = 0; j < m; ++j)
                table[w.code[j] >> shift] = 0;
        };
        clear(w.total[kLeafDepth - 1], 3 * (kBits - kLeafDepth + 1));
        for (int d = 0; d < kSampled; ++d)
            clear(w.taken[d], 3 * (kBits - d - 6));
        clear(w.reached, 0);
        for (const Found &f : r.nodes)
            w.node[f.depth][f.cell & ((1u << (3 * (f.depth - kTop))) - 1)] = 0;
    }

    // Moves the m points from s on to s + dest[j], through the work's room.
    void permute(size_t s, size_t m, Work &w)
    {
        // All the room first: the arrays change only once nothing can fail.
        w.xyz.resize(3 * m);
        w.rgb.resize(cloud.rgb ? 3 * m : 0);
        w.value.resize(m);
        w.order.resize(m);
        uint32_t *o = order->memory();
        w.indices.resize(o ? 0 : m);
        if (!o)
            order->read(s, m, w.indices.data());
        for (size_t j = 0; j < m; ++j)
            std::memcpy(&w.xyz[3 * w.dest[j]], cloud.xyz + 3 * (s + j), 12);
        std::memcpy(cloud.xyz + 3 * s, w.xyz.data(), 12 * m);
        if (cloud.rgb) {
            for (size_t j = 0; j < m; ++j)
                std::memcpy(&w.rgb[3 * w.dest[j]], cloud.rgb + 3 * (s + j), 3);
            std::memcpy(cloud.rgb + 3 * s, w.rgb.data(), 3 * m);
        }
        for (float *v : cloud.values) {
            for (size_t j = 0; j < m; ++j)
                w.value[w.dest[j]] = v[s + j];
            std::memcpy(v + s, w.value.data(), 4 * m);
        }
        const uint32_t *from = o ? o + s : w.indices.data();
        for (size_t j = 0; j < m; ++j)
            w.order[w.dest[j]] = from[j];
        if (o)
            std::memcpy(o + s, w.order.data(), 4 * m);
        else
            order->write(s, m, w.order.data());
    }

    // Moves `count` indices of the order from `from` to `to` >= from.
    void moveOrder(size_t from, size_t to, size_t count)
    {
        if (uint32_t *o = order->memory()) {
            std::memmove(o + to, o + from, 4 * count);
            return;
        }
        std::vector<uint32_t> chunk(std::min<size_t>(count, size_t(1) << 20));
        for (size_t left = count; left > 0;) {
            const size_t k = std::min(chunk.size(), left);
            left -= k;
            order->read(from + left, k, chunk.data());
            order->write(to + left, k, chunk.data());
        }
    }

    // The points of the nodes above the buckets go in front, in their nodes' order; the
    // buckets' subtrees move up behind them. Then the nodes of the whole hierarchy.
    void gather(PointLod &lod)
    {
        // The nodes above the buckets and their places.
        std::vector<uint32_t> upCount[kTop];
        for (int d = 0; d < kTop; ++d)
            upCount[d].assign(size_t(1) << (3 * d), 0);
        for (size_t b = 0; b < kBuckets; ++b)
            for (int d = 0; d < kTop; ++d)
                upCount[d][b >> (3 * (kTop - d))] += results[b].up[d];
        std::vector<std::pair<uint64_t, Found>> upper;
        for (int d = 0; d < kTop; ++d)
            for (uint32_t c = 0; c < upCount[d].size(); ++c)
                if (upCount[d][c] > 0)
                    upper.push_back({preorder(d, c), Found{d, c, 0, upCount[d][c]}});
        std::sort(upper.begin(), upper.end(), [](const auto &x, const auto &y) { return x.first < y.first; });
        uint64_t place = 0;
        std::vector<uint64_t> upNext[kTop];
        for (int d = 0; d < kTop; ++d)
            upNext[d].assign(upCount[d].size(), 0);
        for (auto &u : upper) {
            u.second.first = static_cast<uint32_t>(place);
            upNext[u.second.depth][u.second.cell] = place;
            place += u.second.count;
        }
        const size_t nUpper = static_cast<size_t>(place);
        // Each bucket's share of each node above it, in bucket order, and its subtree's place.
        std::vector<uint64_t> upAt(kBuckets * kTop), subtreeAt(kBuckets);
        for (size_t b = 0; b < kBuckets; ++b) {
            for (int d = 0; d < kTop; ++d) {
                uint64_t &next = upNext[d][b >> (3 * (kTop - d))];
                upAt[b * kTop + static_cast<size_t>(d)] = next;
                next += results[b].up[d];
            }
            subtreeAt[b] = place;
            place += start[b + 1] - start[b] - upTotal(b);
        }
        std::vector<float> xyz(3 * nUpper), values(layout.nValues * nUpper);
        std::vector<unsigned char> rgb(cloud.rgb ? 3 * nUpper : 0);
        std::vector<uint32_t> upOrder(nUpper);
        for (size_t b = kBuckets; b-- > 0;) {
            size_t at = start[b];
            for (int d = 0; d < kTop; ++d) {
                const size_t k = results[b].up[d], to = upAt[b * kTop + static_cast<size_t>(d)];
                if (k == 0)
                    continue;
                std::memcpy(&xyz[3 * to], cloud.xyz + 3 * at, 12 * k);
                if (cloud.rgb)
                    std::memcpy(&rgb[3 * to], cloud.rgb + 3 * at, 3 * k);
                for (size_t v = 0; v < layout.nValues; ++v)
                    std::memcpy(&values[v * nUpper + to], cloud.values[v] + at, 4 * k);
                order->read(at, k, &upOrder[to]);
                at += k;
            }
            const size_t k = start[b + 1] - at, to = subtreeAt[b];
            if (k == 0 || to == at)
                continue;
            std::memmove(cloud.xyz + 3 * to, cloud.xyz + 3 * at, 12 * k);
            if (cloud.rgb)
                std::memmove(cloud.rgb + 3 * to, cloud.rgb + 3 * at, 3 * k);
            for (float *v : cloud.values)
                std::memmove(v + to, v + at, 4 * k);
            moveOrder(at, to, k);
        }
        std::memcpy(cloud.xyz, xyz.data(), 12 * nUpper);
        if (cloud.rgb)
            std::memcpy(cloud.rgb, rgb.data(), 3 * nUpper);
        for (size_t v = 0; v < layout.nValues; ++v)
            std::memcpy(cloud.values[v], &values[v * nUpper], 4 * nUpper);
        order->write(0, nUpper, upOrder.data());

        // The nodes, in the order of their points, linked to their children.
        std::vector<Found> all;
        for (const auto &u : upper)
            all.push_back(u.second);
        for (size_t b = 0; b < kBuckets; ++b)
            for (Found f : results[b].nodes) {
                f.first += static_cast<uint32_t>(subtreeAt[b]);
                all.push_back(f);
            }
        std::sort(all.begin(), all.end(), [](const Found &x, const Found &y) { return x.first < y.first; });
        std::unordered_map<uint64_t, int> byCell;
        byCell.reserve(2 * all.size());
        lod.nodes.resize(all.size());
        for (size_t i = 0; i < all.size(); ++i) {
            const Found &f = all[i];
            PointLodNode &node = lod.nodes[i];
            node.depth = f.depth;
            node.first = f.first;
            node.count = f.count;
            node.size = size / static_cast<float>(1u << f.depth);
            for (int k = 0; k < 3; ++k)
                node.lo[k] = cells.lo[k] + static_cast<float>(PointLodCells::compact(f.cell >> k)) * node.size;
            std::fill(node.child, node.child + 8, -1);
            byCell[uint64_t(f.depth) << 32 | f.cell] = static_cast<int>(i);
        }
        for (size_t i = 0; i < all.size(); ++i) {
            const Found &f = all[i];
            if (f.depth == 0)
                continue;
            const auto parent = byCell.find(uint64_t(f.depth - 1) << 32 | (f.cell >> 3));
            if (parent != byCell.end())
                lod.nodes[static_cast<size_t>(parent->second)].child[f.cell & 7] = static_cast<int>(i);
        }
    }

    uint32_t upTotal(size_t b) const
    {
        uint32_t t = 0;
        for (uint32_t u : results[b].up)
            t += u;
        return t;
    }

    const PointLodArrays &cloud;
    const size_t n;
    const int threads;
    const std::atomic<bool> *cancel;
    const Layout layout;
    PointLodCells cells;
    float size = 1;
    PointLodSpill copy;
    PointOrder *order = nullptr;
    bool disk = false;
    PointCellOrder *given; ///< the groups and order the reader made, or null
    bool grouped = false;  ///< the arrays are in the reader's groups
    bool moved = false; ///< the arrays are no longer in the file's order
    bool parted = false; ///< counting parted each half of the points at `split`
    size_t split = kBuckets; ///< the buckets of the first thread's side are below
    size_t low[2] = {0, 0}; ///< points below `split` in each half
    std::vector<std::vector<uint32_t>> counts; ///< a thread, a bucket
    std::vector<uint64_t> start;               ///< of each bucket in the arrays
    std::vector<uint32_t> levelTotal[kTop];    ///< points in each cell above the buckets
    std::vector<BucketResult> results;
};

} // namespace

PointLod PointLod::build(const float *xyz, size_t n, int threads, const std::atomic<bool> *cancel)
{
    LargeArray<float> copy = allocateLargeArray<float>(3 * n);
    std::copy(xyz, xyz + 3 * n, copy.get());
    PointLodArrays cloud;
    cloud.xyz = copy.get();
    return buildInPlace(cloud, n, threads, cancel, kSpillBytes, nullptr);
}

PointLod PointLod::buildInPlace(const PointLodArrays &cloud, size_t n, int threads, const std::atomic<bool> *cancel,
                                size_t spillBytes, PointCellOrder *grouped)
{
    PointLod lod = Builder(cloud, n, threads, cancel, grouped).run(spillBytes);
    StartupTiming::mark("hierarchy complete");
    return lod;
}
