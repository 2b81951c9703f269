#include "objects/PointLod.h"

#include "formats/PointBounds.h"
#include "formats/PointLodCells.h"
#include "objects/RadixSort.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <queue>

namespace {

constexpr int kBits = PointLodCells::kBits;
constexpr int kSampleDepth = 6; // an inner node keeps one point per 1/64 of its cube

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
    PointLodCells cells;
    std::copy(lo, lo + 3, cells.lo);
    cells.toCell = size > 0 ? (1 << kBits) / (size * 1.0001f) : 0.0f;
    std::vector<uint32_t> codes(m);
    for (size_t j = 0; j < m; ++j)
        codes[j] = cells.key(xyz + 3 * static_cast<size_t>(indices[j]));
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
        // The hierarchies of other programs say their sample; a node that holds fewer points
        // than its sample could is sparser, and its children still add what shows.
        const float enough = fixedSampleDepth < 0 ? static_cast<float>(1 << sampleDepth(node.depth))
                                                  : std::min(static_cast<float>(1 << fixedSampleDepth),
                                                             std::sqrt(static_cast<float>(node.count)));
        if (pixels <= enough)
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
