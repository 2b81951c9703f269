#include "objects/PointLod.h"

#include "core/StartupTiming.h"
#include "formats/PointBounds.h"
#include "objects/RadixSort.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <atomic>
#include <cmath>
#include <queue>
#include <thread>
#include <utility>

namespace {

constexpr int kBits = 10;          // per axis: the finest cells are 1/1024 of the cube
constexpr int kSampleDepth = 6;    // an inner node keeps one point per 1/64 of its cube
constexpr uint32_t kLeafPoints = 12000;

std::atomic<int> captures{0};
std::atomic<bool> reducedFrame{false};

uint32_t spread(uint32_t v)
{
    v &= 0x3FF;
    v = (v | (v << 16)) & 0x030000FF;
    v = (v | (v << 8)) & 0x0300F00F;
    v = (v | (v << 4)) & 0x030C30C3;
    v = (v | (v << 2)) & 0x09249249;
    return v;
}

} // namespace

int PointLod::sampleDepth(int depth) { return std::min(kSampleDepth, kBits - depth); }

void PointLod::sortSpatially(const float *xyz, std::vector<unsigned> &indices)
{
    const size_t m = indices.size();
    PointBounds bounds;
    for (unsigned i : indices)
        bounds.addPoints(xyz + 3 * static_cast<size_t>(i), 3);
    float lo[3], size = 0;
    for (int k = 0; k < 3; ++k) {
        lo[k] = std::isfinite(bounds.lo[k]) ? bounds.lo[k] : 0.0f;
        const float extent = bounds.hi[k] - bounds.lo[k];
        if (std::isfinite(extent))
            size = std::max(size, extent);
    }
    const float toCell = size > 0 ? (1 << kBits) / (size * 1.0001f) : 0.0f;
    std::vector<uint32_t> codes(m);
    for (size_t j = 0; j < m; ++j) {
        const float *p = xyz + 3 * static_cast<size_t>(indices[j]);
        uint32_t q[3];
        for (int k = 0; k < 3; ++k) {
            const float c = (p[k] - lo[k]) * toCell;
            q[k] = c >= 0 ? static_cast<uint32_t>(std::min(c, float((1 << kBits) - 1))) : 0;
        }
        codes[j] = spread(q[0]) | spread(q[1]) << 1 | spread(q[2]) << 2;
    }
    RadixSort sorter;
    sorter.Sort(codes.data(), static_cast<unsigned>(m), false);
    const unsigned *ranks = sorter.GetRanks();
    if (!ranks)
        return;
    std::vector<unsigned> sorted(m);
    for (size_t j = 0; j < m; ++j)
        sorted[j] = indices[ranks[j]];
    indices.swap(sorted);
}

PointBudgets &PointBudgets::current()
{
    static PointBudgets budgets;
    return budgets;
}

bool PointBudgets::capturing() { return captures.load() > 0; }
bool PointBudgets::lastFrameReduced() { return reducedFrame.load(); }
void PointBudgets::setLastFrameReduced(bool on) { reducedFrame.store(on); }
PointBudgets::Capture::Capture() { ++captures; }
PointBudgets::Capture::~Capture() { --captures; }

namespace {

// The cells of the finest level, per axis, of every point.
struct Cells {
    float lo[3];
    float toCell;

    void of(const float *p, uint32_t q[3]) const
    {
        for (int k = 0; k < 3; ++k) {
            const float c = (p[k] - lo[k]) * toCell;
            // NaN and stray values land in the border cells.
            q[k] = c >= 0 ? static_cast<uint32_t>(std::min(c, float((1 << kBits) - 1))) : 0;
        }
    }
};

// Swaps two points in every array of the cloud and in the order.
struct Swapper {
    const PointLodArrays &cloud;
    uint32_t *order;

    void operator()(size_t i, size_t j) const
    {
        if (i == j)
            return;
        float *x = cloud.xyz;
        std::swap_ranges(x + 3 * i, x + 3 * i + 3, x + 3 * j);
        if (cloud.rgb)
            std::swap_ranges(cloud.rgb + 3 * i, cloud.rgb + 3 * i + 3, cloud.rgb + 3 * j);
        for (float *v : cloud.values)
            std::swap(v[i], v[j]);
        std::swap(order[i], order[j]);
    }
};

// A node still to be split: its range of points (none held by an ancestor) and its cube.
struct Task {
    int parent;    ///< in the nodes of the thread doing it, or of the caller when `outer`
    bool outer;
    int digit;
    uint32_t a, b;
    float lo[3];
    float size;
    int depth;
    std::vector<uint32_t> bounds; ///< when cut by the parent: the 9 bounds of its children's ranges
};

// Splits nodes breadth first, appending them to `nodes`, until `tasks` from `next` on are
// done or, when `stopAt` is not zero, that many wait. Each node's sample (the first point
// met in each sub-cell) moves to the front of its range, then the rest is partitioned in
// place by the child's octant, so a node's points and its subtree are one range.
class Splitter {
public:
    Splitter(const Cells &c, const Swapper &s, const std::atomic<bool> *stop)
        : cells(c), swap(s), cancel(stop), marks(size_t(1) << (3 * kSampleDepth - 6), 0)
    {
    }

    // The roots of the tasks marked `outer`: (outer parent, digit, node here).
    struct Root {
        int parent, digit, node;
    };
    std::vector<Root> roots;

    size_t run(std::vector<Task> &tasks, size_t next, std::vector<PointLodNode> &nodes, size_t stopAt)
    {
        for (; next < tasks.size(); ++next) {
            if (stopAt && tasks.size() - next >= stopAt)
                break;
            if (cancel && cancel->load())
                return next;
            const Task t = std::move(tasks[next]);
            PointLodNode node;
            std::copy(t.lo, t.lo + 3, node.lo);
            node.size = t.size;
            node.depth = t.depth;
            std::fill(node.child, node.child + 8, -1);
            const int id = static_cast<int>(nodes.size());
            if (t.outer)
                roots.push_back({t.parent, t.digit, id});
            else if (t.parent >= 0)
                nodes[static_cast<size_t>(t.parent)].child[t.digit] = id;
            nodes.push_back(node);
            split(id, t, nodes, tasks);
        }
        return next;
    }

private:
    // The octant digits of `levels` levels from the one below `depth` on, the highest first.
    uint32_t digits(size_t j, int depth, int levels) const
    {
        uint32_t q[3];
        cells.of(swap.cloud.xyz + 3 * j, q);
        uint32_t d = 0;
        for (int l = 0; l < levels; ++l) {
            const int shift = kBits - depth - 1 - l;
            d = d << 3 | ((q[0] >> shift) & 1) | ((q[1] >> shift) & 1) << 1 | ((q[2] >> shift) & 1) << 2;
        }
        return d;
    }

    // American flag sort of [a, b) by `digits`: every swap puts one point in its place.
    // `start` receives the 8^levels + 1 bounds.
    void partition(uint32_t a, uint32_t b, int depth, int levels, std::vector<uint32_t> &start) const
    {
        const size_t k = size_t(1) << (3 * levels);
        start.assign(k + 1, 0);
        for (uint32_t j = a; j < b; ++j)
            ++start[digits(j, depth, levels) + 1];
        start[0] = a;
        for (size_t d = 1; d <= k; ++d)
            start[d] += start[d - 1];
        std::vector<uint32_t> head(start.begin(), start.end() - 1);
        for (size_t d = 0; d < k; ++d)
            while (head[d] < start[d + 1]) {
                const uint32_t e = digits(head[d], depth, levels);
                if (e == d)
                    ++head[d];
                else
                    swap(head[d], head[e]++);
            }
    }

    // Moves the node's sample (the first point met in each of its sub-cells) to the front
    // of [start[0], start[k]), keeping the k ranges of the rest whole: a point taken from
    // range g trades places with the first point of each range before it. Returns the
    // sample's size; `start` follows the ranges.
    uint32_t sample(int depth, std::vector<uint32_t> &start)
    {
        const int s = PointLod::sampleDepth(depth);
        const int cellShift = kBits - depth - s;
        const uint32_t mask = (1u << s) - 1;
        const auto cellOf = [&](size_t j) {
            uint32_t q[3];
            cells.of(swap.cloud.xyz + 3 * j, q);
            return ((q[0] >> cellShift) & mask) | ((q[1] >> cellShift) & mask) << s |
                   ((q[2] >> cellShift) & mask) << (2 * s);
        };
        const uint32_t a = start[0], k = static_cast<uint32_t>(start.size() - 1);
        uint32_t range = 0;
        for (uint32_t j = a; j < start[k]; ++j) {
            while (j >= start[range + 1])
                ++range;
            const uint32_t c = cellOf(j);
            uint64_t &word = marks[c >> 6];
            const uint64_t bit = uint64_t(1) << (c & 63);
            if (word & bit)
                continue;
            word |= bit;
            // Only points already looked at move: none reaches beyond j.
            swap(j, start[range]);
            for (uint32_t g = range; g > 0; --g) {
                swap(start[g], start[g - 1]);
                ++start[g];
            }
            ++start[0];
        }
        for (uint32_t j = a; j < start[0]; ++j)
            marks[cellOf(j) >> 6] = 0;
        return start[0] - a;
    }

    void split(int id, const Task &t, std::vector<PointLodNode> &nodes, std::vector<Task> &tasks)
    {
        PointLodNode &node = nodes[static_cast<size_t>(id)];
        node.first = t.a;
        const uint32_t total = t.b - t.a;
        if (total <= kLeafPoints || t.depth >= kBits) {
            node.count = total;
            return;
        }
        // A range comes either whole or already cut into its children by its parent; a whole
        // one is cut two levels deep at once where it can, which spares a pass over its points.
        std::vector<uint32_t> start;
        int levels = 1;
        if (!t.bounds.empty()) {
            start = t.bounds;
        } else {
            levels = t.depth + 2 <= kBits ? 2 : 1;
            partition(t.a, t.b, t.depth, levels, start);
        }
        std::vector<uint32_t> ranges = start;
        node.count = sample(t.depth, ranges);
        if (node.count == total)
            return;
        const float half = t.size / 2;
        const size_t per = levels == 2 ? 8 : 1; // ranges a child
        for (int d = 0; d < 8; ++d) {
            const uint32_t from = ranges[d * per], to = ranges[(d + 1) * per];
            if (from == to)
                continue;
            Task c;
            c.parent = id;
            c.outer = false;
            c.digit = d;
            c.a = from;
            c.b = to;
            for (int k = 0; k < 3; ++k)
                c.lo[k] = t.lo[k] + ((d >> k) & 1) * half;
            c.size = half;
            c.depth = t.depth + 1;
            if (per == 8)
                c.bounds.assign(ranges.begin() + d * 8, ranges.begin() + d * 8 + 9);
            tasks.push_back(c);
        }
    }

    const Cells &cells;
    const Swapper &swap;
    const std::atomic<bool> *cancel;
    std::vector<uint64_t> marks; ///< the sub-cells sampled in the current node
};

} // namespace

PointLod PointLod::build(const float *xyz, size_t n, int threads, const std::atomic<bool> *cancel)
{
    LargeArray<float> copy = allocateLargeArray<float>(3 * n);
    std::copy(xyz, xyz + 3 * n, copy.get());
    PointLodArrays cloud;
    cloud.xyz = copy.get();
    return buildInPlace(cloud, n, threads, cancel);
}

PointLod PointLod::buildInPlace(const PointLodArrays &cloud, size_t n, int threads, const std::atomic<bool> *cancel)
{
    PointLod lod;
    lod.nPoints = n;
    PointBounds bounds;
    bounds.addPoints(cloud.xyz, 3 * n);
    Cells cells;
    float size = 0;
    for (int k = 0; k < 3; ++k) {
        cells.lo[k] = std::isfinite(bounds.lo[k]) ? bounds.lo[k] : 0.0f;
        const float extent = bounds.hi[k] - bounds.lo[k];
        if (std::isfinite(extent))
            size = std::max(size, extent);
    }
    if (!(size > 0))
        size = 1;
    size *= 1.0001f; // the highest points stay inside the last cell
    cells.toCell = (1 << kBits) / size;
    lod.order = allocateLargeArray<uint32_t>(n);
    for (size_t i = 0; i < n; ++i)
        lod.order[i] = static_cast<uint32_t>(i);
    const Swapper swap{cloud, lod.order.get()};
    StartupTiming::mark("hierarchy: cells of the points");
    try {

    std::vector<Task> tasks;
    Task root;
    root.parent = -1;
    root.outer = false;
    root.digit = 0;
    root.a = 0;
    root.b = static_cast<uint32_t>(n);
    std::copy(cells.lo, cells.lo + 3, root.lo);
    root.size = size;
    root.depth = 0;
    tasks.push_back(root);
    // The first levels here, until there is work enough for every thread; then each thread
    // takes whole subtrees, the largest first to the least loaded.
    const int t = std::max(1, threads);
    Splitter first(cells, swap, cancel);
    size_t next = first.run(tasks, 0, lod.nodes, t > 1 ? 4 * static_cast<size_t>(t) : 0);
    if (cancel && cancel->load())
        throw Cancelled();
    if (next < tasks.size()) {
        std::vector<Task> rest(tasks.begin() + static_cast<long>(next), tasks.end());
        std::sort(rest.begin(), rest.end(), [](const Task &x, const Task &y) { return x.b - x.a > y.b - y.a; });
        std::vector<std::vector<Task>> share(static_cast<size_t>(t));
        std::vector<size_t> load(static_cast<size_t>(t), 0);
        for (Task task : rest) {
            const size_t w = static_cast<size_t>(std::min_element(load.begin(), load.end()) - load.begin());
            task.outer = true;
            share[w].push_back(task);
            load[w] += task.b - task.a;
        }
        std::vector<std::vector<PointLodNode>> grown(static_cast<size_t>(t));
        std::vector<std::unique_ptr<Splitter>> splitters;
        for (int w = 0; w < t; ++w)
            splitters.push_back(std::make_unique<Splitter>(cells, swap, cancel));
        std::exception_ptr failed;
        std::vector<std::thread> workers;
        const auto work = [&](size_t w) {
            try {
                splitters[w]->run(share[w], 0, grown[w], 0);
            } catch (...) {
                failed = std::current_exception();
            }
        };
        for (size_t w = 1; w < static_cast<size_t>(t); ++w)
            workers.emplace_back(work, w);
        work(0);
        for (std::thread &w : workers)
            w.join();
        if (failed)
            std::rethrow_exception(failed);
        if (cancel && cancel->load())
            throw Cancelled();
        for (size_t w = 0; w < static_cast<size_t>(t); ++w) {
            const int offset = static_cast<int>(lod.nodes.size());
            for (PointLodNode node : grown[w]) {
                for (int &c : node.child)
                    if (c >= 0)
                        c += offset;
                lod.nodes.push_back(node);
            }
            for (const Splitter::Root &r : splitters[w]->roots)
                lod.nodes[static_cast<size_t>(r.parent)].child[r.digit] = offset + r.node;
        }
    }
    StartupTiming::mark("hierarchy: nodes sampled");

    // Nodes in the order of their points.
    const size_t m = lod.nodes.size();
    std::vector<int> byFirst(m), id(m);
    for (size_t i = 0; i < m; ++i)
        byFirst[i] = static_cast<int>(i);
    std::sort(byFirst.begin(), byFirst.end(), [&lod](int x, int y) {
        const PointLodNode &a = lod.nodes[static_cast<size_t>(x)], &b = lod.nodes[static_cast<size_t>(y)];
        return a.first != b.first ? a.first < b.first : a.depth < b.depth;
    });
    for (size_t i = 0; i < m; ++i)
        id[static_cast<size_t>(byFirst[i])] = static_cast<int>(i);
    std::vector<PointLodNode> sorted(m);
    for (size_t i = 0; i < m; ++i) {
        PointLodNode node = lod.nodes[static_cast<size_t>(byFirst[i])];
        for (int &c : node.child)
            if (c >= 0)
                c = id[static_cast<size_t>(c)];
        sorted[i] = node;
    }
    lod.nodes.swap(sorted);
    return lod;
    } catch (const Cancelled &) {
        throw;
    } catch (...) {
        // Without a hierarchy the cloud is drawn as it stands and a click reports the index a
        // point has in memory, which must then be the file's: the points go back where they
        // were, one cycle of the permutation at a time.
        for (size_t i = 0; i < n; ++i)
            while (lod.order[i] != i)
                swap(i, lod.order[i]);
        throw;
    }
}

size_t PointLod::select(const float *m, int height, size_t budget, std::vector<int> &out, bool *complete,
                        std::vector<float> *sizes) const
{
    out.clear();
    if (sizes)
        sizes->clear();
    *complete = true;
    if (nodes.empty())
        return 0;
    // Rows of the column-major matrix; the planes of the view volume are their sums.
    auto row = [m](int r, float *v) {
        for (int c = 0; c < 4; ++c)
            v[c] = m[4 * c + r];
    };
    float r0[4], r1[4], r2[4], r3[4];
    row(0, r0);
    row(1, r1);
    row(2, r2);
    row(3, r3);
    float planes[6][4];
    for (int c = 0; c < 4; ++c) {
        planes[0][c] = r3[c] + r0[c];
        planes[1][c] = r3[c] - r0[c];
        planes[2][c] = r3[c] + r1[c];
        planes[3][c] = r3[c] - r1[c];
        planes[4][c] = r3[c] + r2[c];
        planes[5][c] = r3[c] - r2[c];
    }
    for (auto &p : planes) {
        const float l = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
        if (l > 0)
            for (float &c : p)
                c /= l;
    }
    const float yScale = std::sqrt(r1[0] * r1[0] + r1[1] * r1[1] + r1[2] * r1[2]);
    const float wScale = std::sqrt(r3[0] * r3[0] + r3[1] * r3[1] + r3[2] * r3[2]);
    // Diameter on screen in pixels, or a negative number for a node outside the view.
    auto onScreen = [&](const PointLodNode &node) {
        const float h = node.size / 2;
        const float c[3] = {node.lo[0] + h, node.lo[1] + h, node.lo[2] + h};
        const float radius = h * 1.7320508f;
        for (const auto &p : planes)
            if (p[0] * c[0] + p[1] * c[1] + p[2] * c[2] + p[3] < -radius)
                return -1.0f;
        const float w = r3[0] * c[0] + r3[1] * c[1] + r3[2] * c[2] + r3[3];
        if (w <= radius * wScale)
            return 1e30f; // the eye is inside or right at it
        return 2 * radius * yScale / w * height * 0.5f;
    };
    std::priority_queue<std::pair<float, int>> queue;
    const float rootSize = onScreen(nodes[0]);
    if (rootSize < 0)
        return 0;
    queue.push({rootSize, 0});
    size_t total = 0;
    while (!queue.empty()) {
        const auto [pixels, id] = queue.top();
        queue.pop();
        const PointLodNode &node = nodes[id];
        if (total + node.count > budget && !out.empty()) {
            *complete = false;
            break;
        }
        out.push_back(id);
        if (sizes)
            sizes->push_back(pixels);
        total += node.count;
        // A node's sample is one point per 1/2^s of its cube: finer than a pixel once the
        // cube covers fewer than 2^s pixels, and its children would add nothing visible.
        if (pixels <= static_cast<float>(1 << sampleDepth(node.depth)))
            continue;
        for (int c : node.child)
            if (c >= 0) {
                const float s = onScreen(nodes[c]);
                if (s >= 0)
                    queue.push({s, c});
            }
    }
    return total;
}
