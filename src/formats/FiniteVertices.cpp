#include "formats/FiniteVertices.h"

#include "formats/MeshReader.h"
#include "formats/PointListReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

bool finite3(const float *p) { return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]); }

// Moves the blocks of `width` elements whose index is kept to the front, in order. In place:
// a kept block never moves to a later place.
template <class T>
void compact(T *data, size_t width, const std::vector<bool> &keep)
{
    if (!data)
        return;
    size_t to = 0;
    for (size_t from = 0; from < keep.size(); ++from)
        if (keep[from]) {
            if (to != from)
                std::memmove(data + to * width, data + from * width, width * sizeof(T));
            ++to;
        }
}

// Which of the first n points (3 floats each) are finite; the count of those that are not.
size_t findFinite(const float *xyz, size_t n, std::vector<bool> &keep)
{
    keep.assign(n, true);
    size_t bad = 0;
    for (size_t i = 0; i < n; ++i)
        if (!finite3(xyz + 3 * i)) {
            keep[i] = false;
            ++bad;
        }
    return bad;
}

// Which vertices of `m` are finite, counted into `d`; how many vertices `m` has.
size_t findFinite(const MeshData &m, std::vector<bool> &finite, FiniteVertices::Dropped &d)
{
    const size_t n = m.nVertices > 0 && m.vertices ? static_cast<size_t>(m.nVertices) : 0;
    d.vertices = findFinite(m.vertices.get(), n, finite);
    d.kept = n - d.vertices;
    return n;
}

} // namespace

FiniteVertices::Dropped FiniteVertices::drop(MeshData &m)
{
    Dropped d;
    std::vector<bool> keep;
    const size_t n = findFinite(m, keep, d);
    if (d.vertices == 0)
        return d;
    std::vector<int> index(n, -1);
    int next = 0;
    for (size_t i = 0; i < n; ++i)
        if (keep[i])
            index[i] = next++;
    compact(m.vertices.get(), 3, keep);
    compact(m.normals.get(), 1, keep);
    compact(m.colors.get(), 3, keep);
    compact(m.vertexTexCoords.get(), 2, keep);
    for (DataItem &item : m.dataItems)
        if (item.data && item.nElements >= static_cast<int>(n)) {
            compact(item.data.get(), 1, keep);
            item.nElements = next;
            item.computeDataLimits();
        }
    const size_t nt = m.nTriangles > 0 && m.triangles ? static_cast<size_t>(m.nTriangles) : 0;
    std::vector<bool> keepTriangle(nt, true);
    int *t = m.triangles.get();
    for (size_t k = 0; k < nt; ++k) {
        for (int c = 0; c < 3; ++c) {
            const int v = t[3 * k + c];
            // The readers refuse indices out of range; one here is left to them.
            if (v >= 0 && static_cast<size_t>(v) < n && index[static_cast<size_t>(v)] < 0)
                keepTriangle[k] = false;
        }
        if (keepTriangle[k])
            for (int c = 0; c < 3; ++c) {
                const int v = t[3 * k + c];
                if (v >= 0 && static_cast<size_t>(v) < n)
                    t[3 * k + c] = index[static_cast<size_t>(v)];
            }
        else
            ++d.triangles;
    }
    compact(t, 3, keepTriangle);
    compact(m.texCoords.get(), 6, keepTriangle);
    m.nVertices = next;
    m.nTriangles = static_cast<int>(nt - d.triangles);
    return d;
}

FiniteVertices::Dropped FiniteVertices::settle(MeshData &m)
{
    Dropped d;
    std::vector<bool> finite;
    const size_t n = findFinite(m, finite, d);
    if (d.vertices == 0 || d.kept == 0)
        return d;
    const int *next = m.triangles.get();
    const size_t triples = m.triangles ? std::min(n, static_cast<size_t>(std::max(m.nTriangles, 0))) : 0;
    float *v = m.vertices.get();
    // Each round places the vertices next to a placed one; a round that places none leaves
    // the rest (cut off from every finite vertex) at the mean of all the finite ones.
    for (size_t left = d.vertices; left > 0;) {
        std::vector<size_t> placed;
        for (size_t i = 0; i < n; ++i) {
            if (finite[i])
                continue;
            float sum[3] = {0, 0, 0};
            int count = 0;
            for (int k = 0; k < 3 && i < triples; ++k) {
                const int j = next[3 * i + k];
                if (j >= 0 && static_cast<size_t>(j) < n && finite[static_cast<size_t>(j)]) {
                    for (int c = 0; c < 3; ++c)
                        sum[c] += v[3 * static_cast<size_t>(j) + c];
                    ++count;
                }
            }
            if (count > 0) {
                for (int c = 0; c < 3; ++c)
                    v[3 * i + c] = sum[c] / static_cast<float>(count);
                placed.push_back(i);
            }
        }
        if (placed.empty()) {
            float mean[3] = {0, 0, 0};
            for (size_t i = 0; i < n; ++i)
                for (int c = 0; c < 3 && finite[i]; ++c)
                    mean[c] += v[3 * i + c] / static_cast<float>(n - left);
            for (size_t i = 0; i < n; ++i)
                if (!finite[i])
                    std::copy(mean, mean + 3, v + 3 * i);
            break;
        }
        for (size_t i : placed)
            finite[i] = true;
        left -= placed.size();
    }
    return d;
}

FiniteVertices::Dropped FiniteVertices::drop(PointListData &cloud)
{
    Dropped d;
    const size_t n = cloud.nPoints > 0 && cloud.points ? static_cast<size_t>(cloud.nPoints) : 0;
    std::vector<bool> keep;
    d.vertices = findFinite(cloud.points.get(), n, keep);
    d.kept = n - d.vertices;
    if (d.vertices == 0)
        return d;
    compact(cloud.points.get(), 3, keep);
    compact(cloud.colors.get(), 3, keep);
    compact(cloud.values.get(), 1, keep);
    for (PointValueItem &item : cloud.items) {
        compact(item.values.get(), 1, keep);
        item.measure(d.kept);
    }
    if (cloud.cellOrder) {
        // The groups keep their order; each begins after the kept points of those before it.
        std::vector<uint64_t> &start = cloud.cellOrder.start;
        uint64_t kept = 0;
        for (size_t g = 0; g + 1 < start.size(); ++g) {
            const uint64_t from = start[g], to = start[g + 1];
            start[g] = kept;
            for (uint64_t i = from; i < to && i < n; ++i)
                kept += keep[static_cast<size_t>(i)];
        }
        if (!start.empty())
            start.back() = kept;
        compact(cloud.cellOrder.fileIndex.get(), 1, keep);
    }
    cloud.nPoints = static_cast<int>(d.kept);
    PointBounds bounds;
    bounds.addPoints(cloud.points.get(), 3 * d.kept);
    if (cloud.values)
        bounds.addValues(cloud.values.get(), d.kept);
    cloud.bounds = bounds;
    return d;
}
