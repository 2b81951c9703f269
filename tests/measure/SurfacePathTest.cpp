// Paths on a mesh: the adjacency-based builders against literal full-scan versions of the
// same searches, and the ways a walk can fail.
#include "measure/Chemin.h"
#include "math/Messages.h"
#include "measure/MeshAdjacency.h"
#include "measure/SurfacePath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Mesh {
    std::vector<Point3> v;
    std::vector<int> t;
    int nv = 0, nt = 0;
    Objet_data view() const { return Objet_data(&nv, v.data(), &nt, t.data()); }
    void close()
    {
        nv = static_cast<int>(v.size());
        nt = static_cast<int>(t.size() / 3);
    }
};

// A deterministic wobble in [-1, 1].
float wobble(int i) { return static_cast<float>(std::sin(i * 12.9898) * 43758.5453 - std::floor(std::sin(i * 12.9898) * 43758.5453)) * 2 - 1; }

// An open nx x ny grid in the plane z = 0 (lots of equal-length paths), optionally lifted
// and shifted by a small wobble so that ties disappear.
Mesh grid(int nx, int ny, float jitter)
{
    Mesh m;
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            const int k = j * nx + i;
            m.v.emplace_back(i + jitter * wobble(3 * k), j + jitter * wobble(3 * k + 1), jitter * wobble(3 * k + 2));
        }
    for (int j = 0; j + 1 < ny; ++j)
        for (int i = 0; i + 1 < nx; ++i) {
            const int a = j * nx + i, b = a + 1, c = a + nx + 1, d = a + nx;
            m.t.insert(m.t.end(), {a, b, c, a, c, d});
        }
    m.close();
    return m;
}

// A closed torus about the z axis: no border, every plane section a closed curve.
Mesh torus(int around, int across)
{
    Mesh m;
    const double pi = 3.14159265358979323846;
    for (int i = 0; i < around; ++i)
        for (int j = 0; j < across; ++j) {
            const double u = 2 * pi * i / around, w = 2 * pi * j / across;
            const double ring = 3 + std::cos(w);
            m.v.emplace_back(static_cast<float>(ring * std::cos(u)), static_cast<float>(ring * std::sin(u)),
                             static_cast<float>(std::sin(w)));
        }
    for (int i = 0; i < around; ++i)
        for (int j = 0; j < across; ++j) {
            const int a = i * across + j, b = ((i + 1) % around) * across + j;
            const int c = ((i + 1) % around) * across + (j + 1) % across, d = i * across + (j + 1) % across;
            m.t.insert(m.t.end(), {a, b, c, a, c, d});
        }
    m.close();
    return m;
}

// The edge search as a full scan: each step picks the unfinished vertex of smallest known
// distance (lowest index first) and relaxes through every triangle holding it.
std::vector<Point3> scanEdgePath(const Mesh &m, int from, int to)
{
    std::vector<float> d(m.v.size(), -1);
    std::vector<int> pred(m.v.size(), from);
    std::vector<char> done(m.v.size(), 0);
    d[from] = 0;
    for (int step = 0; step + 1 < m.nv; ++step) {
        int u = -1;
        for (int i = 0; i < m.nv; ++i)
            if (!done[i] && d[i] >= 0 && (u < 0 || d[i] < d[u]))
                u = i;
        if (u < 0)
            break;
        done[u] = 1;
        for (int k = 0; k < m.nt; ++k) {
            const int *c = &m.t[3 * k];
            if (c[0] != u && c[1] != u && c[2] != u)
                continue;
            for (int e = 0; e < 3; ++e) {
                const int w = c[e];
                if (w == u)
                    continue;
                const float len = (m.v[w] - m.v[u]).norm();
                if (d[w] < 0 || d[w] > d[u] + len) {
                    d[w] = d[u] + len;
                    pred[w] = u;
                }
            }
        }
    }
    std::vector<Point3> out;
    if (d[to] < 0)
        return {m.v[to], m.v[from]};
    for (int v = to; v != from; v = pred[v])
        out.push_back(m.v[v]);
    out.push_back(m.v[from]);
    return out;
}

// The plane walk as a full scan over the triangles at every step.
std::vector<Point3> scanPlanePath(const Mesh &m, int a, int b, Point3 eye, bool &ok)
{
    ok = false;
    Point3 n = (m.v[a] - eye).cross(m.v[b] - eye);
    n.normalize();
    const float off = -(n * eye);
    auto dist = [&](int v) { return n * m.v[v] + off; };
    auto side = [&](int v) { return signe(dist(v)); };
    auto cut = [&](int s, int t) {
        const float f = std::fabs(dist(s)) / (std::fabs(dist(s)) + std::fabs(dist(t)));
        return m.v[s] + (m.v[t] - m.v[s]) * f;
    };
    auto has = [&](int k, int v) { return m.t[3 * k] == v || m.t[3 * k + 1] == v || m.t[3 * k + 2] == v; };
    std::vector<Point3> out{m.v[a]};
    int start = -1, aside = -1, s = -1, t = -1;
    float best = 0;
    for (int k = 0; k < m.nt; ++k) {
        if (!has(k, a))
            continue;
        const int *c = &m.t[3 * k];
        const int i = c[0] == a ? 0 : c[1] == a ? 1 : 2;
        const int si = c[(i + 1) % 3], ti = c[(i + 2) % 3];
        if (side(si) != side(ti) && (start < 0 || (cut(si, ti) - m.v[b]).norm2() < best)) {
            if (start >= 0)
                aside = start;
            start = k;
            s = si;
            t = ti;
            best = (cut(si, ti) - m.v[b]).norm2();
        } else {
            aside = k;
        }
    }
    if (start < 0)
        return out;
    out.push_back(cut(s, t));
    for (int current = start;;) {
        int next = -1;
        for (int k = 0; k < m.nt && next < 0; ++k)
            if (k != current && has(k, s) && has(k, t))
                next = k;
        if (next < 0 || next == start || next == aside)
            return out;
        if (has(next, b))
            break;
        const int *c = &m.t[3 * next];
        const int w = c[0] != s && c[0] != t ? c[0] : c[1] != s && c[1] != t ? c[1] : c[2];
        (side(w) == side(s) ? s : t) = w;
        out.push_back(cut(s, t));
        current = next;
    }
    out.push_back(m.v[b]);
    ok = true;
    return out;
}

std::vector<Point3> points(const Chemin &c)
{
    return std::vector<Point3>(c.data(), c.data() + c.size());
}

TEST(EdgePath, FollowsTheFullScanSearchIncludingItsChoiceAmongEqualPaths)
{
    // The flat grid has many shortest paths of one length: the order of finishing decides
    // which one comes out, and it must be the scan's.
    const Mesh flat = grid(9, 7, 0), rough = grid(9, 7, 0.3f);
    for (const Mesh *m : {&flat, &rough}) {
        const MeshAdjacency adjacency(m->view());
        for (auto [from, to] : {std::pair{0, 62}, {62, 0}, {8, 54}, {30, 31}, {12, 12}, {40, 3}}) {
            std::unique_ptr<Chemin> path(chemin_aretes(adjacency, from, to));
            EXPECT_EQ(points(*path), scanEdgePath(*m, from, to)) << from << " -> " << to;
        }
    }
}

TEST(EdgePath, NeighboursAndUnreachableVertices)
{
    const Mesh m = grid(4, 4, 0.2f);
    std::unique_ptr<Chemin> edge(chemin_aretes(m.view(), 5, 6));
    ASSERT_EQ(edge->size(), 2);
    EXPECT_FLOAT_EQ(edge->geodesicDistance(), edge->euclideanDistance());
    EXPECT_EQ(edge->get(0), m.v[6]);
    EXPECT_EQ(edge->get(1), m.v[5]);

    // Two separate triangles: the far one cannot be reached, which the caller can tell.
    Mesh two;
    two.v = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {5, 0, 0}, {6, 0, 0}, {5, 1, 0}};
    two.t = {0, 1, 2, 3, 4, 5};
    two.close();
    bool reached = true;
    std::unique_ptr<Chemin> none(chemin_aretes(MeshAdjacency(two.view()), 0, 4, &reached));
    EXPECT_FALSE(reached);
    EXPECT_EQ(points(*none), (std::vector<Point3>{two.v[4], two.v[0]}));
}

TEST(PlanePath, FollowsTheFullScanWalk)
{
    const Mesh m = torus(24, 12);
    const MeshAdjacency adjacency(m.view());
    const Point3 eyes[] = {{0, 0, 20}, {15, -4, 6}, {-3, 9, -12}};
    int walked = 0;
    for (const Point3 &eye : eyes)
        for (auto [from, to] : {std::pair{0, 5}, {0, 150}, {17, 200}, {100, 103}, {3, 280}}) {
            bool ok = false;
            const std::vector<Point3> expected = scanPlanePath(m, from, to, eye, ok);
            CapturingMessageSink sink;
            ScopedMessageSink scope(sink);
            std::unique_ptr<Chemin> path(chemin_plan(adjacency, from, to, eye));
            const std::string said = sink.text(MessageLevel::Warning);
            if (!ok) {
                EXPECT_EQ(path, nullptr);
                EXPECT_EQ(said, "loop!!\n");
                continue;
            }
            ++walked;
            ASSERT_NE(path, nullptr) << said;
            EXPECT_EQ(points(*path), expected);
            EXPECT_EQ(path->get(path->size() - 1), m.v[to]);
        }
    EXPECT_GE(walked, 8); // most sections of a torus hold both vertices on one curve
}

TEST(PlanePath, FirstNeighbourHoldingTheEndGivesThreePoints)
{
    // Vertex 0 and its diagonal neighbour 5 on a 4 x 4 grid, cut by the vertical plane
    // through both: the start edge is crossed once and the next triangle holds vertex 5.
    const Mesh m = grid(4, 4, 0);
    std::unique_ptr<Chemin> path(chemin_plan(m.view(), 0, 5, Point3(0, 0, 10)));
    ASSERT_NE(path, nullptr);
    ASSERT_EQ(path->size(), 3);
    EXPECT_EQ(path->get(0), m.v[0]);
    EXPECT_EQ(path->get(2), m.v[5]);
}

TEST(PlanePath, RefusedWalksSayWhyAndGiveNoPath)
{
    const Mesh open = grid(6, 6, 0);
    // A gap across the grid: the cells of the third column are gone.
    Mesh gap = open;
    gap.t.clear();
    for (size_t k = 0; k < open.t.size(); k += 3) {
        float lo = 1e9f, hi = -1e9f;
        for (int c = 0; c < 3; ++c) {
            lo = std::min(lo, open.v[open.t[k + c]].x);
            hi = std::max(hi, open.v[open.t[k + c]].x);
        }
        if (!(lo == 2 && hi == 3))
            gap.t.insert(gap.t.end(), open.t.begin() + k, open.t.begin() + k + 3);
    }
    gap.close();
    Mesh lone = open;
    lone.v.emplace_back(20, 20, 0); // a vertex of no triangle
    lone.close();
    struct Case {
        const Mesh *mesh;
        int from, to;
        Point3 eye;
        std::string said;
    } cases[] = {
        // From (0, 1) towards (5, 3) the section runs into the gap.
        {&gap, 6, 23, Point3(0, 0, 10), "chemin_plan: the path reaches the border of the mesh\n"},
        {&lone, 36, 0, Point3(0, 0, 10), "chemin_plan: no triangle around vertex 36 is cut by the plane\n"},
        {&open, 7, 7, Point3(0, 0, 10), "chemin_plan: the two vertices and the viewpoint are on one line\n"},
    };
    for (const Case &c : cases) {
        CapturingMessageSink sink;
        ScopedMessageSink scope(sink);
        std::unique_ptr<Chemin> path(chemin_plan(c.mesh->view(), c.from, c.to, c.eye));
        EXPECT_EQ(sink.text(MessageLevel::Warning), c.said);
        EXPECT_EQ(path, nullptr);
    }
}

TEST(PlanePath, AngleGivesTheThirdPointOfThePlane)
{
    // At 0 the third point is -2A: the plane holds the origin.
    const Point3 a(4, 0, 0), b(3, 1, 0.5f);
    EXPECT_NEAR((planePointForAngle(a, b, 0) - Point3(-8, 0, 0)).norm(), 0, 1e-5);
    // -A turned a quarter about the axis (A - B) / |A - B| = z, then moved by -A.
    EXPECT_NEAR((planePointForAngle(Point3(1, 0, 0), Point3(1, 0, -1), 90) - Point3(-1, -1, 0)).norm(), 0, 1e-4);

    const Mesh m = torus(24, 12);
    const MeshAdjacency adjacency(m.view());
    std::unique_ptr<Chemin> byAngle(chemin_plan(adjacency, 0, 5, 30));
    std::unique_ptr<Chemin> byPoint(chemin_plan(adjacency, 0, 5, planePointForAngle(m.v[0], m.v[5], 30)));
    ASSERT_NE(byAngle, nullptr);
    ASSERT_NE(byPoint, nullptr);
    EXPECT_EQ(points(*byAngle), points(*byPoint));
}

TEST(Chemin, LengthsAndGrowth)
{
    Chemin c;
    EXPECT_EQ(c.geodesicDistance(), 0);
    EXPECT_EQ(c.euclideanDistance(), 0);
    c.add(Point3(1, 2, 3));
    EXPECT_EQ(c.geodesicDistance(), 0);
    EXPECT_EQ(c.get(5), Point3());
    c.add(Point3(4, 6, 3));
    c.add(Point3(4, 6, 15));
    EXPECT_FLOAT_EQ(c.geodesicDistance(), 17);
    EXPECT_FLOAT_EQ(c.euclideanDistance(), 13);
    // The room passes 20000 points when the 19969th point arrives.
    while (c.size() < 19968)
        c.add(Point3());
    EXPECT_FALSE(c.maxSize());
    c.add(Point3());
    EXPECT_TRUE(c.maxSize());
}

TEST(MeshAdjacency, RowsAndChecks)
{
    EXPECT_EQ(signe(-0.5f), 1);
    EXPECT_EQ(signe(0.0f), -1);
    EXPECT_EQ(signe(2.0f), -1);

    const Mesh m = grid(3, 3, 0);
    const MeshAdjacency adjacency(m.view());
    std::vector<int> row;
    for (size_t e = adjacency.rowBegin(4); e < adjacency.rowEnd(4); ++e)
        row.push_back(adjacency.neighbour(e));
    EXPECT_EQ(row, (std::vector<int>{0, 1, 3, 5, 7, 8}));
    EXPECT_EQ(adjacency.fanSize(4), 6);
    EXPECT_EQ(adjacency.otherTriangle(4, 8, 6), 7);
    EXPECT_EQ(adjacency.otherTriangle(0, 1, 0), -1); // border edge

    Mesh bad = m;
    bad.t[7] = 9;
    try {
        MeshAdjacency refused(bad.view());
        FAIL() << "index beyond the vertices accepted";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "triangle 2 names vertex 9 of 9");
    }
}

} // namespace
