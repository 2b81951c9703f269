#include "math/SurfaceDistance.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

namespace {

void sub(const float *a, const float *b, double out[3])
{
    for (int k = 0; k < 3; ++k)
        out[k] = static_cast<double>(a[k]) - b[k];
}

double dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

unsigned long long edgeKey(int from, int to)
{
    return static_cast<unsigned long long>(static_cast<unsigned>(from)) << 32 | static_cast<unsigned>(to);
}

} // namespace

SurfaceDistance::SurfaceDistance(const float *vertices, size_t vertexCount, const int *triangles,
                                 size_t triangleCount, unsigned threads)
    : bvh(vertices, vertexCount, triangles, triangleCount, threads),
      corners(triangles, triangles + 3 * triangleCount), faceNormals(3 * triangleCount, 0.0),
      vertexNormals(3 * vertexCount, 0.0)
{
    edges.reserve(3 * triangleCount);
    for (size_t t = 0; t < triangleCount; ++t) {
        const int *c = &corners[3 * t];
        const float *p[3] = {vertices + 3 * static_cast<size_t>(c[0]), vertices + 3 * static_cast<size_t>(c[1]),
                             vertices + 3 * static_cast<size_t>(c[2])};
        double e1[3], e2[3];
        sub(p[1], p[0], e1);
        sub(p[2], p[0], e2);
        double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
        const double length = std::sqrt(dot(n, n));
        if (length > 0)
            for (double &v : n)
                v /= length;
        std::copy(n, n + 3, &faceNormals[3 * t]);
        // The corner's share of the vertex's pseudo-normal is the angle the face makes there.
        for (int k = 0; k < 3; ++k) {
            double u[3], v[3];
            sub(p[(k + 1) % 3], p[k], u);
            sub(p[(k + 2) % 3], p[k], v);
            const double uu = std::sqrt(dot(u, u)), vv = std::sqrt(dot(v, v));
            if (uu > 0 && vv > 0 && length > 0) {
                const double angle = std::acos(std::max(-1.0, std::min(1.0, dot(u, v) / (uu * vv))));
                for (int j = 0; j < 3; ++j)
                    vertexNormals[3 * static_cast<size_t>(c[k]) + j] += angle * n[j];
            }
            if (c[k] != c[(k + 1) % 3])
                edges.emplace_back(edgeKey(c[k], c[(k + 1) % 3]), static_cast<int>(t));
        }
    }
    std::sort(edges.begin(), edges.end());
    oriented = triangleCount > 0;
    for (size_t i = 1; i < edges.size() && oriented; ++i)
        if (edges[i].first == edges[i - 1].first)
            oriented = false;
}

double SurfaceDistance::sideOf(const double p[3], const TriangleBVH::Nearest &n) const
{
    const size_t t = static_cast<size_t>(n.triangle);
    double normal[3] = {faceNormals[3 * t], faceNormals[3 * t + 1], faceNormals[3 * t + 2]};
    if (n.feature >= 4) {
        const size_t v = static_cast<size_t>(corners[3 * t + static_cast<size_t>(n.feature - 4)]);
        std::copy(&vertexNormals[3 * v], &vertexNormals[3 * v] + 3, normal);
    } else if (n.feature >= 1) {
        // Edge f joins corners f-2 and f-1 (mod 3); the face across it runs it the other way.
        const int from = corners[3 * t + static_cast<size_t>((n.feature + 1) % 3)];
        const int to = corners[3 * t + static_cast<size_t>(n.feature - 1)];
        const auto other = std::lower_bound(edges.begin(), edges.end(), std::make_pair(edgeKey(to, from), -1));
        if (other != edges.end() && other->first == edgeKey(to, from))
            for (int k = 0; k < 3; ++k)
                normal[k] += faceNormals[3 * static_cast<size_t>(other->second) + static_cast<size_t>(k)];
    }
    const double away[3] = {p[0] - n.point[0], p[1] - n.point[1], p[2] - n.point[2]};
    return dot(away, normal) < 0 ? -1.0 : 1.0;
}

bool SurfaceDistance::distance(const double p[3], double maxDistance, double &d, int &hint) const
{
    TriangleBVH::Nearest n;
    if (!bvh.nearest(p, maxDistance, n, hint))
        return false;
    hint = n.slot;
    d = oriented && n.distance > 0 ? n.distance * sideOf(p, n) : n.distance;
    return true;
}

bool SurfaceDistance::distances(const float *points, size_t count, double maxDistance, std::vector<float> &out,
                                unsigned threads, std::atomic<size_t> *done, const std::atomic<bool> *stop) const
{
    out.assign(count, std::numeric_limits<float>::quiet_NaN());
    forEachPointChunk(count, threads, stop, [&](size_t begin, size_t end) {
        int hint = -1;
        for (size_t i = begin; i < end; ++i) {
            const double p[3] = {points[3 * i], points[3 * i + 1], points[3 * i + 2]};
            double d = 0;
            if (distance(p, maxDistance, d, hint))
                out[i] = static_cast<float>(d);
        }
        if (done)
            done->fetch_add(end - begin);
    });
    return !(stop && stop->load());
}

DistanceFigures summarizeDistances(const std::vector<float> &distances)
{
    DistanceFigures f;
    std::vector<float> magnitudes;
    magnitudes.reserve(distances.size());
    double sum = 0, sum2 = 0, signedSum = 0;
    for (float v : distances) {
        if (std::isnan(v)) {
            ++f.beyond;
            continue;
        }
        const double a = std::fabs(static_cast<double>(v));
        magnitudes.push_back(static_cast<float>(a));
        sum += a;
        sum2 += a * a;
        signedSum += v;
    }
    f.measured = magnitudes.size();
    if (magnitudes.empty())
        return f;
    const double n = static_cast<double>(magnitudes.size());
    f.mean = sum / n;
    f.rms = std::sqrt(sum2 / n);
    f.signedMean = signedSum / n;
    // The nearest rank: the smallest distance with at least 95% of them at or below it.
    const size_t rank = static_cast<size_t>(std::ceil(0.95 * n)) - 1;
    std::nth_element(magnitudes.begin(), magnitudes.begin() + static_cast<long>(rank), magnitudes.end());
    f.p95 = magnitudes[rank];
    // nth_element leaves the values below a rank before it, so the lower middle is the
    // largest of the half before the upper one.
    const size_t half = magnitudes.size() / 2;
    std::nth_element(magnitudes.begin(), magnitudes.begin() + static_cast<long>(half), magnitudes.end());
    f.median = magnitudes[half];
    if (magnitudes.size() % 2 == 0)
        f.median = (f.median + *std::max_element(magnitudes.begin(), magnitudes.begin() + static_cast<long>(half))) / 2;
    f.maximum = *std::max_element(magnitudes.begin(), magnitudes.end());
    return f;
}

std::vector<size_t> distanceHistogram(const std::vector<float> &distances, int bins, double lo, double hi)
{
    std::vector<size_t> counts(static_cast<size_t>(std::max(bins, 1)), 0);
    const double width = hi > lo ? (hi - lo) / static_cast<double>(counts.size()) : 1.0;
    for (float v : distances) {
        if (std::isnan(v))
            continue;
        const double slot = std::floor((v - lo) / width);
        const long last = static_cast<long>(counts.size()) - 1;
        const long i = slot < 0 ? 0 : slot > static_cast<double>(last) ? last : static_cast<long>(slot);
        ++counts[static_cast<size_t>(i)];
    }
    return counts;
}
