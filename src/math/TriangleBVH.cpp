#include "math/TriangleBVH.h"
#include "math/Parallel.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <numeric>

namespace {

const int kLeafSize = 4;

unsigned workers(unsigned threads) { return threads ? threads : Parallel::cores(); }

double boxDistance2(const float lo[3], const float hi[3], const double p[3])
{
    double d2 = 0;
    for (int k = 0; k < 3; ++k) {
        const double d = p[k] < lo[k] ? lo[k] - p[k] : p[k] > hi[k] ? p[k] - hi[k] : 0;
        d2 += d * d;
    }
    return d2;
}

} // namespace

TriangleBVH::TriangleBVH(const float *vertices, size_t vertexCount, const int *triangles, size_t triangleCount,
                         unsigned threads)
{
    (void)vertexCount;
    order.resize(triangleCount);
    std::iota(order.begin(), order.end(), 0);
    centres.resize(triangleCount * 3);
    boxes.resize(triangleCount * 6);
    for (size_t t = 0; t < triangleCount; ++t) {
        const float *v[3] = {vertices + 3 * static_cast<size_t>(triangles[3 * t]),
                             vertices + 3 * static_cast<size_t>(triangles[3 * t + 1]),
                             vertices + 3 * static_cast<size_t>(triangles[3 * t + 2])};
        for (int k = 0; k < 3; ++k) {
            centres[3 * t + k] = (v[0][k] + v[1][k] + v[2][k]) / 3;
            boxes[6 * t + k] = std::min({v[0][k], v[1][k], v[2][k]});
            boxes[6 * t + 3 + k] = std::max({v[0][k], v[1][k], v[2][k]});
        }
    }
    int spawnDepth = 0;
    for (unsigned n = workers(threads); n > 1; n /= 2)
        ++spawnDepth;
    if (triangleCount)
        root = build(nodes, 0, triangleCount, spawnDepth);
    corners.resize(triangleCount * 9);
    for (size_t i = 0; i < triangleCount; ++i) {
        const size_t t = static_cast<size_t>(order[i]);
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < 3; ++k)
                corners[9 * i + 3 * c + k] = vertices[3 * static_cast<size_t>(triangles[3 * t + c]) + k];
    }
    std::vector<float>().swap(centres);
    std::vector<float>().swap(boxes);
}

int TriangleBVH::build(std::vector<Node> &out, size_t begin, size_t end, int spawnDepth)
{
    Node node;
    float clo[3], chi[3];
    for (int k = 0; k < 3; ++k) {
        node.lo[k] = clo[k] = std::numeric_limits<float>::max();
        node.hi[k] = chi[k] = -std::numeric_limits<float>::max();
    }
    for (size_t i = begin; i < end; ++i) {
        const size_t t = static_cast<size_t>(order[i]);
        for (int k = 0; k < 3; ++k) {
            node.lo[k] = std::min(node.lo[k], boxes[6 * t + k]);
            node.hi[k] = std::max(node.hi[k], boxes[6 * t + 3 + k]);
            clo[k] = std::min(clo[k], centres[3 * t + k]);
            chi[k] = std::max(chi[k], centres[3 * t + k]);
        }
    }
    const int index = static_cast<int>(out.size());
    out.push_back(node);
    if (end - begin <= static_cast<size_t>(kLeafSize)) {
        out[static_cast<size_t>(index)].a = static_cast<int>(begin);
        out[static_cast<size_t>(index)].b = -static_cast<int>(end - begin);
        return index;
    }
    int axis = 0;
    for (int k = 1; k < 3; ++k)
        if (chi[k] - clo[k] > chi[axis] - clo[axis])
            axis = k;
    const size_t mid = begin + (end - begin) / 2;
    std::nth_element(order.begin() + static_cast<long>(begin), order.begin() + static_cast<long>(mid),
                     order.begin() + static_cast<long>(end), [&](int x, int y) {
                         return centres[3 * static_cast<size_t>(x) + axis] < centres[3 * static_cast<size_t>(y) + axis];
                     });
    int left, right;
    if (spawnDepth > 0 && end - begin > 1024) {
        // The two halves touch disjoint parts of `order`: one is built on a thread of its
        // own into a node list of its own, appended afterwards with its indices moved.
        std::vector<Node> other;
        int otherRoot = -1;
        Parallel::run(2, [&](unsigned half) {
            if (half == 0)
                left = build(out, begin, mid, spawnDepth - 1);
            else
                otherRoot = build(other, mid, end, spawnDepth - 1);
        });
        const int offset = static_cast<int>(out.size());
        for (Node n : other) {
            if (n.b >= 0) {
                n.a += offset;
                n.b += offset;
            }
            out.push_back(n);
        }
        right = otherRoot + offset;
    } else {
        left = build(out, begin, mid, 0);
        right = build(out, mid, end, 0);
    }
    out[static_cast<size_t>(index)].a = left;
    out[static_cast<size_t>(index)].b = right;
    return index;
}

double TriangleBVH::closestOnTriangle(const double p[3], const float *a, const float *b, const float *c, double q[3],
                                      int &feature)
{
    // Ericson's regions: each corner, each edge, the inside, told apart by the barycentric
    // signs, in double precision throughout.
    double ab[3], ac[3], ap[3];
    for (int k = 0; k < 3; ++k) {
        ab[k] = static_cast<double>(b[k]) - a[k];
        ac[k] = static_cast<double>(c[k]) - a[k];
        ap[k] = p[k] - a[k];
    }
    const auto dot = [](const double *x, const double *y) { return x[0] * y[0] + x[1] * y[1] + x[2] * y[2]; };
    const auto at = [&](double v, double w) {
        for (int k = 0; k < 3; ++k)
            q[k] = a[k] + v * ab[k] + w * ac[k];
    };
    const double d1 = dot(ab, ap), d2 = dot(ac, ap);
    if (d1 <= 0 && d2 <= 0) {
        at(0, 0);
        feature = 4;
    } else {
        double bp[3];
        for (int k = 0; k < 3; ++k)
            bp[k] = p[k] - b[k];
        const double d3 = dot(ab, bp), d4 = dot(ac, bp);
        if (d3 >= 0 && d4 <= d3) {
            at(1, 0);
            feature = 5;
        } else {
            const double vc = d1 * d4 - d3 * d2;
            double cp[3];
            for (int k = 0; k < 3; ++k)
                cp[k] = p[k] - c[k];
            const double d5 = dot(ab, cp), d6 = dot(ac, cp);
            const double vb = d5 * d2 - d1 * d6, va = d3 * d6 - d5 * d4;
            if (vc <= 0 && d1 >= 0 && d3 <= 0) {
                at(d1 / (d1 - d3), 0);
                feature = 2; // edge a-b
            } else if (d6 >= 0 && d5 <= d6) {
                at(0, 1);
                feature = 6;
            } else if (vb <= 0 && d2 >= 0 && d6 <= 0) {
                at(0, d2 / (d2 - d6));
                feature = 1; // edge c-a
            } else if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0) {
                const double w = (d4 - d3) / ((d4 - d3) + (d5 - d6));
                at(1 - w, w);
                feature = 3; // edge b-c
            } else {
                const double denominator = 1 / (va + vb + vc);
                at(vb * denominator, vc * denominator);
                feature = 0;
            }
        }
    }
    const double dx = p[0] - q[0], dy = p[1] - q[1], dz = p[2] - q[2];
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

bool TriangleBVH::nearest(const double p[3], double maxDistance, Nearest &out, int hint) const
{
    if (root < 0)
        return false;
    double best2 = std::isinf(maxDistance) ? std::numeric_limits<double>::infinity() : maxDistance * maxDistance;
    bool found = false;
    const auto consider = [&](int i) {
        const float *c = &corners[9 * static_cast<size_t>(i)];
        double q[3];
        int feature = 0;
        const double d = closestOnTriangle(p, c, c + 3, c + 6, q, feature);
        // Ties go to the lower mesh index, as a search over every triangle in order gives
        // them.
        if (d * d < best2 || (d * d == best2 && (!found || order[static_cast<size_t>(i)] < out.triangle))) {
            best2 = d * d;
            found = true;
            out.distance = d;
            out.point[0] = q[0];
            out.point[1] = q[1];
            out.point[2] = q[2];
            out.triangle = order[static_cast<size_t>(i)];
            out.feature = feature;
            out.slot = i;
        }
    };
    // The hinted triangle bounds the search from the start; it is met again in its leaf,
    // where it changes nothing.
    if (hint >= 0 && static_cast<size_t>(hint) < order.size())
        consider(hint);
    // Each entry keeps its box's distance, computed once when it was pushed.
    struct Entry {
        int node;
        double d2;
    } stack[128];
    int top = 0;
    stack[top++] = {root, boxDistance2(nodes[static_cast<size_t>(root)].lo, nodes[static_cast<size_t>(root)].hi, p)};
    while (top > 0) {
        const Entry e = stack[--top];
        // A box is passed over only when it is clearly beyond: its distance and a triangle's
        // are rounded differently, and a tie must still be looked at.
        if (e.d2 > best2 * (1 + 1e-9))
            continue;
        const Node &n = nodes[static_cast<size_t>(e.node)];
        if (n.b < 0) {
            for (int i = n.a; i < n.a - n.b; ++i)
                consider(i);
            continue;
        }
        // The nearer child last on the stack, so that it is searched first.
        const Node &x = nodes[static_cast<size_t>(n.a)], &y = nodes[static_cast<size_t>(n.b)];
        const double dx = boxDistance2(x.lo, x.hi, p), dy = boxDistance2(y.lo, y.hi, p);
        if (dx < dy) {
            stack[top++] = {n.b, dy};
            stack[top++] = {n.a, dx};
        } else {
            stack[top++] = {n.a, dx};
            stack[top++] = {n.b, dy};
        }
    }
    return found;
}

void forEachPointChunk(size_t count, unsigned threads, const std::atomic<bool> *stop,
                       const std::function<void(size_t, size_t)> &body)
{
    std::atomic<size_t> next(0);
    const size_t chunk = 4096;
    const auto work = [&] {
        for (;;) {
            if (stop && stop->load())
                return;
            const size_t begin = next.fetch_add(chunk);
            if (begin >= count)
                return;
            body(begin, std::min(count, begin + chunk));
        }
    };
    Parallel::run(workers(threads), [&](unsigned) { work(); });
}

void surfaceDistances(const TriangleBVH &bvh, const float *points, size_t count, double maxDistance,
                      std::vector<float> &distances, unsigned threads)
{
    distances.assign(count, std::numeric_limits<float>::quiet_NaN());
    forEachPointChunk(count, threads, nullptr, [&](size_t begin, size_t end) {
        // Neighbours in a point list are mostly neighbours in space: each point starts from
        // the triangle nearest to the one before.
        int hint = -1;
        for (size_t i = begin; i < end; ++i) {
            const double p[3] = {points[3 * i], points[3 * i + 1], points[3 * i + 2]};
            TriangleBVH::Nearest n;
            if (bvh.nearest(p, maxDistance, n, hint)) {
                distances[i] = static_cast<float>(n.distance);
                hint = n.slot;
            }
        }
    });
}
