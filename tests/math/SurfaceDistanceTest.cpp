// ctest-label: thread
// Signed distances to a closed, partly concave solid against a search over every triangle and the solid's own
// inside; unsigned ones once a face is turned over; the one-line figures and the histogram.
#include "math/SurfaceDistance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

// The surface of a set of unit cells (the faces between a cell and an empty neighbour), two
// triangles a face, counter-clockwise seen from outside: closed, and concave where the cells
// make an inner corner.
struct Cells {
    std::vector<std::array<int, 3>> cells;
    std::vector<float> v;
    std::vector<int> t;
    explicit Cells(std::vector<std::array<int, 3>> c) : cells(std::move(c))
    {
        std::map<std::array<int, 3>, int> index;
        const auto vertex = [&](std::array<int, 3> p) {
            const auto found = index.find(p);
            if (found != index.end())
                return found->second;
            v.insert(v.end(), {float(p[0]), float(p[1]), float(p[2])});
            return index[p] = static_cast<int>(v.size() / 3 - 1);
        };
        for (const auto &cell : cells)
            for (int a = 0; a < 3; ++a)
                for (int side = 0; side < 2; ++side) {
                    std::array<int, 3> next = cell;
                    next[a] += side ? 1 : -1;
                    if (std::find(cells.begin(), cells.end(), next) != cells.end())
                        continue;
                    const int u = (a + 1) % 3, w = (a + 2) % 3;
                    std::array<int, 3> q[4] = {cell, cell, cell, cell};
                    for (auto &corner : q)
                        corner[a] += side;
                    q[1][u] += 1;
                    q[2][u] += 1;
                    q[2][w] += 1;
                    q[3][w] += 1;
                    if (!side)
                        std::swap(q[1], q[3]);
                    const int i0 = vertex(q[0]), i1 = vertex(q[1]), i2 = vertex(q[2]), i3 = vertex(q[3]);
                    t.insert(t.end(), {i0, i1, i2, i0, i2, i3});
                }
    }
    bool inside(const double p[3]) const
    {
        for (const auto &c : cells)
            if (p[0] > c[0] && p[0] < c[0] + 1 && p[1] > c[1] && p[1] < c[1] + 1 && p[2] > c[2] && p[2] < c[2] + 1)
                return true;
        return false;
    }
};

double bruteForce(const std::vector<float> &v, const std::vector<int> &t, const double p[3])
{
    double best = INFINITY;
    for (size_t k = 0; k < t.size(); k += 3) {
        double q[3];
        int feature = 0;
        best = std::min(best, TriangleBVH::closestOnTriangle(p, &v[3 * t[k]], &v[3 * t[k + 1]], &v[3 * t[k + 2]], q,
                                                            feature));
    }
    return best;
}

// A closed surface, the test of its inside, and points to measure.
struct Solid {
    const char *name;
    std::vector<float> v;
    std::vector<int> t;
    std::function<bool(const double *)> inside;
    std::vector<float> points;
};

std::vector<Solid> solids()
{
    std::mt19937 random(11);
    std::uniform_real_distribution<float> u(-0.5f, 2.5f), near(-0.2f, 0.2f), along(0, 1);
    // An L of three cells: its inner edge (x = y = 1) is concave.
    const Cells cells({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
    Solid l{"L", cells.v, cells.t, [cells](const double *p) { return cells.inside(p); }, {}};
    for (int i = 0; i < 3000; ++i) {
        if (i % 4 == 0) // about the concave edge
            l.points.insert(l.points.end(), {1 + near(random), 1 + near(random), along(random)});
        else if (i % 4 == 1) // about the convex corners and edges
            l.points.insert(l.points.end(), {(i & 4 ? 2.f : 0.f) + near(random), (i & 8 ? 1.f : 0.f) + near(random),
                                             (i & 16 ? 1.f : 0.f) + near(random)});
        else
            l.points.insert(l.points.end(), {u(random), u(random), u(random)});
    }
    // A regular tetrahedron: its faces' normals are more than a right angle apart, so that a
    // point beside an edge or a corner may lie behind the plane of the face it is nearest to.
    Solid tetrahedron{"tetrahedron", {1, 1, 1, 1, -1, -1, -1, 1, -1, -1, -1, 1}, {0, 1, 2, 0, 3, 1, 0, 2, 3, 1, 3, 2}, {}, {}};
    tetrahedron.inside = [](const double *p) {
        return -p[0] - p[1] - p[2] < 1 && p[0] + p[1] - p[2] < 1 && p[0] - p[1] + p[2] < 1 &&
               -p[0] + p[1] + p[2] < 1;
    };
    std::uniform_real_distribution<float> wide(-2, 2);
    for (int i = 0; i < 3 * 3000; ++i)
        tetrahedron.points.push_back(wide(random));
    return {l, tetrahedron};
}

TEST(SurfaceDistance, SignedByTheSideOfAClosedSurfaceUnsignedWhenAFaceIsTurned)
{
    for (const Solid &solid : solids())
        for (bool turned : {false, true}) {
            SCOPED_TRACE(std::string(solid.name) + (turned ? ", a face turned" : ""));
            std::vector<int> t = solid.t;
            if (turned)
                std::swap(t[1], t[2]);
            const SurfaceDistance surface(solid.v.data(), solid.v.size() / 3, t.data(), t.size() / 3, 2);
            EXPECT_EQ(surface.isSigned(), !turned);
            std::vector<float> d;
            ASSERT_TRUE(surface.distances(solid.points.data(), solid.points.size() / 3, INFINITY, d, 2));
            int inside = 0, wrong = 0;
            for (size_t i = 0; i < d.size(); ++i) {
                const double p[3] = {solid.points[3 * i], solid.points[3 * i + 1], solid.points[3 * i + 2]};
                const double expected = bruteForce(solid.v, t, p);
                EXPECT_FLOAT_EQ(std::fabs(d[i]), static_cast<float>(expected)) << i;
                const bool in = solid.inside(p);
                inside += in;
                if (expected > 1e-6 && (d[i] < 0) != (in && !turned))
                    ++wrong;
            }
            EXPECT_GT(inside, 100);
            EXPECT_EQ(wrong, 0) << "points on the wrong side";
        }
}

TEST(SurfaceDistance, PointsBeyondTheMaximumAreLeftOutAndAStopEndsTheWork)
{
    Cells c({{0, 0, 0}});
    const SurfaceDistance surface(c.v.data(), 8, c.t.data(), 12, 1);
    // 2, 3 and 5 beyond the x = 1 face, 0.5 inside, one beyond the maximum of 6.
    const std::vector<float> points = {3, 0.5f, 0.5f, 4, 0.5f, 0.5f, 6, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 10, 0.5f, 0.5f};
    std::vector<float> d;
    std::atomic<size_t> done(0);
    ASSERT_TRUE(surface.distances(points.data(), 5, 6.0, d, 1, &done));
    EXPECT_EQ(done.load(), 5u);
    EXPECT_FLOAT_EQ(d[3], -0.5f);
    EXPECT_TRUE(std::isnan(d[4]));

    const DistanceFigures f = summarizeDistances(d);
    EXPECT_EQ(f.measured, 4u);
    EXPECT_EQ(f.beyond, 1u);
    EXPECT_DOUBLE_EQ(f.mean, (2 + 3 + 5 + 0.5) / 4);
    EXPECT_DOUBLE_EQ(f.median, 2.5);
    EXPECT_DOUBLE_EQ(f.signedMean, (2 + 3 + 5 - 0.5) / 4);
    EXPECT_DOUBLE_EQ(f.rms, std::sqrt((4 + 9 + 25 + 0.25) / 4));
    EXPECT_DOUBLE_EQ(f.p95, 5);
    EXPECT_DOUBLE_EQ(f.maximum, 5);
    const std::vector<size_t> bins = distanceHistogram(d, 4, -1, 7);
    EXPECT_EQ(bins, (std::vector<size_t>{1, 1, 1, 1}));

    std::atomic<bool> stop(true);
    EXPECT_FALSE(surface.distances(points.data(), 5, INFINITY, d, 1, nullptr, &stop));
    EXPECT_TRUE(std::isnan(d[0]));
}

} // namespace
