// ctest-label: thread
// The hierarchy against a search over every triangle: the same distance, the same triangle,
// for points near, on, inside and far from a closed surface and a loose soup of triangles.
#include "math/TriangleBVH.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

struct Soup {
    const char *name;
    std::vector<float> v;
    std::vector<int> t;
};

// A rippled sphere (closed, 2 x 40 x 20 triangles) and 300 random triangles of all sizes.
std::vector<Soup> soups()
{
    Soup sphere{"sphere", {}, {}};
    const int around = 40, across = 21;
    for (int j = 0; j < across; ++j)
        for (int i = 0; i < around; ++i) {
            const double th = M_PI * j / (across - 1), ph = 2 * M_PI * i / around;
            const double r = 2 + 0.2 * std::sin(5 * ph) * std::sin(3 * th);
            sphere.v.insert(sphere.v.end(), {static_cast<float>(r * std::sin(th) * std::cos(ph)),
                                             static_cast<float>(r * std::sin(th) * std::sin(ph)),
                                             static_cast<float>(r * std::cos(th))});
        }
    for (int j = 0; j + 1 < across; ++j)
        for (int i = 0; i < around; ++i) {
            const int a = j * around + i, b = j * around + (i + 1) % around;
            sphere.t.insert(sphere.t.end(), {a, b, b + around, a, b + around, a + around});
        }
    Soup soup{"soup", {}, {}};
    std::mt19937 random(3);
    std::uniform_real_distribution<float> u(-3, 3), small(-0.3f, 0.3f);
    for (int k = 0; k < 300; ++k) {
        const float c[3] = {u(random), u(random), u(random)};
        const float s = k % 3 ? 1.0f : 5.0f;
        for (int corner = 0; corner < 3; ++corner) {
            soup.t.push_back(static_cast<int>(soup.v.size() / 3));
            for (int i = 0; i < 3; ++i)
                soup.v.push_back(c[i] + s * small(random));
        }
    }
    return {sphere, soup};
}

TEST(TriangleBVH, FindsWhatASearchOverEveryTriangleFinds)
{
    std::mt19937 random(9);
    std::uniform_real_distribution<double> u(-6, 6);
    for (const Soup &s : soups()) {
        for (unsigned threads : {1u, 4u}) {
            SCOPED_TRACE(testing::Message() << s.name << ", " << threads << " threads");
            const size_t nt = s.t.size() / 3;
            const TriangleBVH bvh(s.v.data(), s.v.size() / 3, s.t.data(), nt, threads);
            ASSERT_EQ(bvh.triangleCount(), nt);
            std::vector<double> queries;
            for (int k = 0; k < 1500; ++k)
                queries.insert(queries.end(), {u(random), u(random), u(random)});
            // Points on the surface itself: corners and centres of triangles.
            for (size_t k = 0; k < s.v.size(); k += 7)
                queries.push_back(s.v[k]);
            queries.resize(queries.size() / 3 * 3);
            for (size_t q = 0; q < queries.size(); q += 3) {
                const double *p = &queries[q];
                double best = std::numeric_limits<double>::infinity();
                int bestTriangle = -1;
                for (size_t t = 0; t < nt; ++t) {
                    double point[3];
                    int feature;
                    const double d = TriangleBVH::closestOnTriangle(p, &s.v[3 * s.t[3 * t]], &s.v[3 * s.t[3 * t + 1]],
                                                                    &s.v[3 * s.t[3 * t + 2]], point, feature);
                    if (d < best) {
                        best = d;
                        bestTriangle = static_cast<int>(t);
                    }
                }
                TriangleBVH::Nearest n;
                ASSERT_TRUE(bvh.nearest(p, std::numeric_limits<double>::infinity(), n));
                ASSERT_EQ(n.distance, best) << "query " << q / 3;
                ASSERT_EQ(n.triangle, bestTriangle) << "query " << q / 3;
                // A hint, near or not, changes nothing.
                TriangleBVH::Nearest hinted;
                ASSERT_TRUE(bvh.nearest(p, std::numeric_limits<double>::infinity(), hinted, static_cast<int>(q % nt)));
                EXPECT_EQ(hinted.distance, best);
                EXPECT_EQ(hinted.triangle, bestTriangle);
                // Within a limit: found exactly when the nearest is that near.
                TriangleBVH::Nearest limited;
                EXPECT_EQ(bvh.nearest(p, 0.5, limited), best <= 0.5);
            }
        }
    }
}

TEST(TriangleBVH, ClosestPointOnATriangleIsNoFartherThanAnySampleOfIt)
{
    const float a[3] = {0, 0, 0}, b[3] = {2, 0, 0.5f}, c[3] = {0.3f, 1.5f, -0.2f};
    std::mt19937 random(4);
    std::uniform_real_distribution<double> u(-3, 4);
    for (int k = 0; k < 400; ++k) {
        const double p[3] = {u(random), u(random), u(random)};
        double q[3];
        int feature;
        const double d = TriangleBVH::closestOnTriangle(p, a, b, c, q, feature);
        EXPECT_NEAR(std::sqrt((p[0] - q[0]) * (p[0] - q[0]) + (p[1] - q[1]) * (p[1] - q[1]) +
                              (p[2] - q[2]) * (p[2] - q[2])),
                    d, 1e-12);
        double sampled = std::numeric_limits<double>::infinity();
        const int n = 120;
        for (int i = 0; i <= n; ++i)
            for (int j = 0; i + j <= n; ++j) {
                const double v = double(i) / n, w = double(j) / n;
                double e2 = 0;
                for (int x = 0; x < 3; ++x) {
                    const double s = a[x] + v * (b[x] - a[x]) + w * (c[x] - a[x]) - p[x];
                    e2 += s * s;
                }
                sampled = std::min(sampled, std::sqrt(e2));
            }
        EXPECT_LE(d, sampled + 1e-12);
        EXPECT_GE(d, sampled - 0.03); // the samples are 1/120 of a side apart
    }
}

TEST(TriangleBVH, DistancesOnWorkersMarkPointsBeyondTheLimit)
{
    const std::vector<float> v = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const std::vector<int> t = {0, 1, 2};
    const TriangleBVH bvh(v.data(), 3, t.data(), 1);
    std::vector<float> points;
    for (int k = 0; k < 10000; ++k)
        points.insert(points.end(), {0.2f, 0.2f, 0.001f * k});
    std::vector<float> d;
    surfaceDistances(bvh, points.data(), points.size() / 3, 5.0, d, 3);
    ASSERT_EQ(d.size(), 10000u);
    for (int k = 0; k < 10000; ++k) {
        if (0.001f * k <= 5.0f)
            EXPECT_FLOAT_EQ(d[k], 0.001f * k);
        else
            EXPECT_TRUE(std::isnan(d[k])) << k;
    }
    const TriangleBVH empty(v.data(), 3, t.data(), 0);
    TriangleBVH::Nearest n;
    const double p[3] = {0, 0, 0};
    EXPECT_FALSE(empty.nearest(p, 1, n));
}

} // namespace
