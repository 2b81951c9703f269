#include "objects/MeshReduction.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

bool cancelled(const std::atomic<bool> *cancel) { return cancel && cancel->load(std::memory_order_relaxed); }

struct Box {
    float lo[3] = {std::numeric_limits<float>::max(), std::numeric_limits<float>::max(),
                   std::numeric_limits<float>::max()};
    float hi[3] = {-std::numeric_limits<float>::max(), -std::numeric_limits<float>::max(),
                   -std::numeric_limits<float>::max()};
};

// One clustering at cell size `cell`; false when cancelled.
bool cluster(const float *v, size_t nv, const int *t, size_t nt, const Point3 *normals, const Box &box, double cell,
             const std::atomic<bool> *cancel, ReducedMesh &out)
{
    uint64_t dims[3];
    for (int k = 0; k < 3; ++k)
        dims[k] = std::max<uint64_t>(1, static_cast<uint64_t>((double(box.hi[k]) - box.lo[k]) / cell) + 1);
    // Cell key in the high 32 bits, vertex index in the low ones: one sort groups the
    // vertices of every cell. (The caller keeps the number of cells below 2^31.)
    std::vector<uint64_t> keyed(nv);
    for (size_t i = 0; i < nv; ++i) {
        uint64_t c[3];
        for (int k = 0; k < 3; ++k) {
            const double x = (double(v[3 * i + k]) - box.lo[k]) / cell;
            // Non-finite coordinates land in cell 0 rather than anywhere undefined.
            c[k] = x >= 0 && x < double(dims[k]) ? static_cast<uint64_t>(x) : 0;
        }
        keyed[i] = ((c[0] * dims[1] + c[1]) * dims[2] + c[2]) << 32 | i;
    }
    if (cancelled(cancel))
        return false;
    std::sort(keyed.begin(), keyed.end());
    if (cancelled(cancel))
        return false;

    std::vector<int> clusterOf(nv);
    out = ReducedMesh();
    std::vector<double> sum;
    std::vector<int> count;
    for (size_t i = 0; i < nv;) {
        const uint64_t key = keyed[i] >> 32;
        const int id = static_cast<int>(out.sources.size());
        double s[3] = {0, 0, 0};
        Point3 n(0, 0, 0);
        const int first = static_cast<int>(keyed[i] & 0xffffffffu);
        int members = 0;
        for (; i < nv && (keyed[i] >> 32) == key; ++i) {
            const size_t j = keyed[i] & 0xffffffffu;
            clusterOf[j] = id;
            for (int k = 0; k < 3; ++k)
                s[k] += v[3 * j + k];
            if (normals)
                n += normals[j];
            ++members;
        }
        for (int k = 0; k < 3; ++k)
            out.vertices.push_back(static_cast<float>(s[k] / members));
        n.normalize();
        out.normals.push_back(n);
        out.sources.push_back(first);
    }
    keyed = std::vector<uint64_t>();
    if (cancelled(cancel))
        return false;

    // Triangles over three different clusters, turned so that their smallest corner comes
    // first (which keeps the orientation), then sorted so that repeats are dropped.
    const size_t nc = out.sources.size();
    const bool packable = nc < (size_t(1) << 21);
    std::vector<uint64_t> packed;
    for (size_t i = 0; i < nt; ++i) {
        int a = clusterOf[static_cast<size_t>(t[3 * i])], b = clusterOf[static_cast<size_t>(t[3 * i + 1])],
            c = clusterOf[static_cast<size_t>(t[3 * i + 2])];
        if (a == b || b == c || a == c)
            continue;
        if (b < a && b < c) {
            std::swap(a, b); // (b, c, a)
            std::swap(b, c);
        } else if (c < a && c < b) {
            std::swap(a, c); // (c, a, b)
            std::swap(b, c);
        }
        if (packable)
            packed.push_back(uint64_t(a) << 42 | uint64_t(b) << 21 | uint64_t(c));
        else
            out.triangles.insert(out.triangles.end(), {a, b, c});
    }
    if (cancelled(cancel))
        return false;
    if (packable) {
        std::sort(packed.begin(), packed.end());
        packed.erase(std::unique(packed.begin(), packed.end()), packed.end());
        out.triangles.reserve(3 * packed.size());
        const uint64_t mask = (uint64_t(1) << 21) - 1;
        for (uint64_t p : packed)
            out.triangles.insert(out.triangles.end(), {static_cast<int>(p >> 42), static_cast<int>((p >> 21) & mask),
                                                       static_cast<int>(p & mask)});
    }
    return !cancelled(cancel);
}

} // namespace

bool reduceMesh(const float *vertices, int nVertices, const int *triangles, int nTriangles, const Point3 *normals,
                size_t targetTriangles, const std::atomic<bool> *cancel, ReducedMesh &out)
{
    out = ReducedMesh();
    if (nVertices <= 0 || nTriangles <= 0 || !vertices || !triangles || targetTriangles == 0)
        return false;
    const size_t nv = static_cast<size_t>(nVertices), nt = static_cast<size_t>(nTriangles);
    Box box;
    for (size_t i = 0; i < nv; ++i)
        for (int k = 0; k < 3; ++k) {
            const float x = vertices[3 * i + k];
            if (std::isfinite(x)) {
                box.lo[k] = std::min(box.lo[k], x);
                box.hi[k] = std::max(box.hi[k], x);
            }
        }
    double extent = 0;
    for (int k = 0; k < 3; ++k) {
        if (box.lo[k] > box.hi[k])
            box.lo[k] = box.hi[k] = 0;
        extent = std::max(extent, double(box.hi[k]) - box.lo[k]);
    }
    if (!(extent > 0))
        extent = 1;
    // A surface cut by a grid of g cells a side meets on the order of g^2 cells and keeps
    // about two triangles a cell: start there and coarsen while there are too many.
    double g = std::max(2.0, std::sqrt(double(targetTriangles) / 2));
    ReducedMesh attempt;
    for (int round = 0; round < 8; ++round) {
        double cell = extent / g;
        // Keep the number of cells within the 31 bits of a key.
        double cells = 1;
        for (int k = 0; k < 3; ++k)
            cells *= (double(box.hi[k]) - box.lo[k]) / cell + 1;
        if (cells > double(1u << 31))
            cell *= std::cbrt(cells / double(1u << 31)) * 1.01;
        if (!cluster(vertices, nv, triangles, nt, normals, box, cell, cancel, attempt)) {
            out = ReducedMesh();
            return false;
        }
        const size_t got = static_cast<size_t>(attempt.nTriangles());
        if (got <= targetTriangles + targetTriangles / 4 || g <= 2) {
            out = std::move(attempt);
            return true;
        }
        // Triangles grow with the square of the grid's resolution.
        g = std::max(2.0, g * std::sqrt(double(targetTriangles) / double(got)) * 0.95);
    }
    out = std::move(attempt);
    return true;
}
