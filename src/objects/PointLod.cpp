#include "objects/PointLod.h"

#include "core/StartupTiming.h"
#include "formats/PointBounds.h"
#include "objects/RadixSort.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <queue>
#include <thread>
#include <utility>

namespace {

constexpr int kBits = 10;          // per axis: the finest cells are 1/1024 of the cube
constexpr int kSampleDepth = 6;    // an inner node keeps one point per 1/64 of its cube
constexpr uint32_t kLeafPoints = 12000;
constexpr unsigned char kFree = 255;

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

struct Pending {
    int node;
    uint32_t a, b; // range in Morton order
};

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

PointLod PointLod::build(const float *xyz, size_t n, int threads, const std::atomic<bool> *cancel)
{
    const auto check = [cancel] {
        if (cancel && cancel->load())
            throw Cancelled();
    };
    PointLod lod;
    lod.nPoints = n;
    PointBounds bounds;
    bounds.addPoints(xyz, 3 * n);
    float lo[3], size = 0;
    for (int k = 0; k < 3; ++k) {
        lo[k] = std::isfinite(bounds.lo[k]) ? bounds.lo[k] : 0.0f;
        const float extent = bounds.hi[k] - bounds.lo[k];
        if (std::isfinite(extent))
            size = std::max(size, extent);
    }
    if (!(size > 0))
        size = 1;
    size *= 1.0001f; // the highest points stay inside the last cell
    const float toCell = (1 << kBits) / size;

    // Morton code and index of every point in one word, split over the threads, then sorted
    // by code (least significant digit first: every pass reads in order).
    LargeArray<uint64_t> keys = allocateLargeArray<uint64_t>(n);
    {
        auto encode = [&](size_t from, size_t to) {
            for (size_t i = from; i < to; ++i) {
                uint32_t q[3];
                for (int k = 0; k < 3; ++k) {
                    const float c = (xyz[3 * i + k] - lo[k]) * toCell;
                    // NaN and stray values land in the border cells.
                    q[k] = c >= 0 ? static_cast<uint32_t>(std::min(c, float((1 << kBits) - 1))) : 0;
                }
                const uint32_t code = spread(q[0]) | spread(q[1]) << 1 | spread(q[2]) << 2;
                keys[i] = static_cast<uint64_t>(code) << 32 | static_cast<uint32_t>(i);
            }
        };
        std::vector<std::thread> workers;
        const int t = std::max(1, threads);
        for (int w = 1; w < t; ++w)
            workers.emplace_back(encode, n * w / t, n * (w + 1) / t);
        encode(0, n / t);
        for (std::thread &w : workers)
            w.join();
    }
    check();
    StartupTiming::mark("hierarchy: cells of the points");
    {
        LargeArray<uint64_t> other = allocateLargeArray<uint64_t>(n);
        constexpr int kDigit = 10;
        for (int pass = 0; pass < 3; ++pass) {
            const int shift = 32 + kDigit * pass;
            std::vector<size_t> start(size_t(1) << kDigit, 0);
            for (size_t i = 0; i < n; ++i)
                ++start[(keys[i] >> shift) & ((1u << kDigit) - 1)];
            size_t at = 0;
            for (size_t &c : start) {
                const size_t k = c;
                c = at;
                at += k;
            }
            for (size_t i = 0; i < n; ++i)
                other[start[(keys[i] >> shift) & ((1u << kDigit) - 1)]++] = keys[i];
            std::swap(keys, other);
            check();
        }
    }
    const auto code = [&keys](size_t j) { return static_cast<uint32_t>(keys[j] >> 32); };
    StartupTiming::mark("hierarchy: points sorted");
    LargeArray<unsigned char> owner = allocateLargeArray<unsigned char>(n); // depth of the node holding it
    std::fill(owner.get(), owner.get() + n, kFree);

    std::vector<Pending> ranges;
    PointLodNode root;
    std::copy(lo, lo + 3, root.lo);
    root.size = size;
    std::fill(root.child, root.child + 8, -1);
    lod.nodes.push_back(root);
    ranges.push_back({0, 0, static_cast<uint32_t>(n)});
    // Breadth first: every node samples what its ancestors left.
    for (size_t next = 0; next < ranges.size(); ++next) {
        if ((next & 255) == 0)
            check();
        const Pending p = ranges[next];
        const int depth = lod.nodes[p.node].depth;
        uint32_t free = 0;
        for (uint32_t j = p.a; j < p.b; ++j)
            free += owner[j] == kFree;
        uint32_t held = 0;
        const bool leaf = free <= kLeafPoints || depth >= kBits;
        if (leaf) {
            for (uint32_t j = p.a; j < p.b; ++j)
                if (owner[j] == kFree) {
                    owner[j] = static_cast<unsigned char>(depth);
                    ++held;
                }
        } else {
            const int shift = 3 * (kBits - depth - sampleDepth(depth));
            uint32_t cell = ~0u;
            bool wanted = false;
            for (uint32_t j = p.a; j < p.b; ++j) {
                const uint32_t c = code(j) >> shift;
                if (c != cell) {
                    cell = c;
                    wanted = true;
                }
                if (wanted && owner[j] == kFree) {
                    owner[j] = static_cast<unsigned char>(depth);
                    ++held;
                    wanted = false;
                }
            }
        }
        lod.nodes[p.node].count = held;
        if (leaf || held == free)
            continue;
        // The children: runs of the next octal digit.
        const int childShift = 3 * (kBits - depth - 1);
        uint32_t j = p.a;
        while (j < p.b) {
            const uint32_t digit = (code(j) >> childShift) & 7;
            uint32_t e = j;
            bool any = false;
            while (e < p.b && ((code(e) >> childShift) & 7) == digit) {
                any = any || owner[e] == kFree;
                ++e;
            }
            if (any) {
                PointLodNode c;
                const PointLodNode &parent = lod.nodes[p.node];
                c.size = parent.size / 2;
                for (int k = 0; k < 3; ++k)
                    c.lo[k] = parent.lo[k] + ((digit >> k) & 1) * c.size;
                c.depth = depth + 1;
                std::fill(c.child, c.child + 8, -1);
                const int id = static_cast<int>(lod.nodes.size());
                lod.nodes[p.node].child[digit] = id;
                lod.nodes.push_back(c);
                ranges.push_back({id, j, e});
            }
            j = e;
        }
    }
    check();
    StartupTiming::mark("hierarchy: nodes sampled");

    // Every node's points as one range, nodes in breadth-first order.
    uint32_t at = 0;
    for (PointLodNode &node : lod.nodes) {
        node.first = at;
        at += node.count;
    }
    lod.order = allocateLargeArray<uint32_t>(n);
    for (size_t i = 0; i < lod.nodes.size(); ++i) {
        const Pending &p = ranges[i];
        const unsigned char depth = static_cast<unsigned char>(lod.nodes[i].depth);
        uint32_t to = lod.nodes[i].first;
        for (uint32_t j = p.a; j < p.b; ++j)
            if (owner[j] == depth)
                lod.order[to++] = static_cast<uint32_t>(keys[j]);
    }
    return lod;
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
