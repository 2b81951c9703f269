// ctest-label: thread
#include "objects/MeshReduction.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace {

// An n x n grid of quads over [0, 1]^2 at z = 0, counter-clockwise seen from +z, with
// normals along +z.
struct Grid {
    std::vector<float> v;
    std::vector<int> t;
    std::vector<Point3> normals;
    explicit Grid(int n)
    {
        for (int j = 0; j <= n; ++j)
            for (int i = 0; i <= n; ++i) {
                v.insert(v.end(), {float(i) / n, float(j) / n, 0});
                normals.emplace_back(0, 0, 1);
            }
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                const int a = j * (n + 1) + i, b = a + 1, c = a + n + 2, d = a + n + 1;
                t.insert(t.end(), {a, b, c, a, c, d});
            }
    }
    int nv() const { return static_cast<int>(v.size() / 3); }
    int nt() const { return static_cast<int>(t.size() / 3); }
};

TEST(MeshReduction, StandInKeepsTheShapeTheOrientationAndValidIndices)
{
    struct Case {
        int side;
        size_t target;
    };
    for (const Case c : {Case{200, 5000}, Case{300, 20000}, Case{1, 1000}}) {
        const Grid g(c.side);
        ReducedMesh r;
        ASSERT_TRUE(reduceMesh(g.v.data(), g.nv(), g.t.data(), g.nt(), g.normals.data(), c.target, nullptr, r));
        SCOPED_TRACE(c.side);
        EXPECT_GT(r.nTriangles(), 0);
        EXPECT_LE(static_cast<size_t>(r.nTriangles()), c.target + c.target / 4);
        EXPECT_LE(r.nTriangles(), g.nt());
        ASSERT_EQ(r.vertices.size(), 3 * r.sources.size());
        ASSERT_EQ(r.normals.size(), r.sources.size());
        for (int s : r.sources)
            ASSERT_TRUE(s >= 0 && s < g.nv());
        for (size_t i = 0; i < r.vertices.size(); ++i)
            ASSERT_TRUE(r.vertices[i] >= 0 && r.vertices[i] <= 1);
        for (const Point3 &n : r.normals)
            EXPECT_EQ(n, Point3(0, 0, 1));
        for (int i = 0; i < r.nTriangles(); ++i) {
            const int *k = &r.triangles[3 * static_cast<size_t>(i)];
            ASSERT_TRUE(k[0] >= 0 && k[0] < r.nVertices() && k[1] >= 0 && k[1] < r.nVertices() && k[2] >= 0 &&
                        k[2] < r.nVertices());
            // Still facing +z: the stand-in is lit and culled like the mesh.
            const float *a = &r.vertices[3 * k[0]], *b = &r.vertices[3 * k[1]], *d = &r.vertices[3 * k[2]];
            EXPECT_GT((b[0] - a[0]) * (d[1] - a[1]) - (b[1] - a[1]) * (d[0] - a[0]), 0) << "triangle " << i;
        }
    }
}

TEST(MeshReduction, CancelledOrEmptyGivesNothing)
{
    const Grid g(50);
    ReducedMesh r;
    std::atomic<bool> cancel{true};
    EXPECT_FALSE(reduceMesh(g.v.data(), g.nv(), g.t.data(), g.nt(), nullptr, 100, &cancel, r));
    EXPECT_EQ(r.nTriangles(), 0);
    EXPECT_EQ(r.nVertices(), 0);
    EXPECT_FALSE(reduceMesh(g.v.data(), 0, g.t.data(), 0, nullptr, 100, nullptr, r));
    EXPECT_FALSE(reduceMesh(g.v.data(), g.nv(), g.t.data(), g.nt(), nullptr, 0, nullptr, r));
}

} // namespace
