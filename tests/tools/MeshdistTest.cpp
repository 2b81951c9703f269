// meshdist as a script runs it: a mesh written here, the printed line read back.
#include "support/ImageCompare.h"
#include "support/MeshBytes.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <queue>
#include <string>
#include <vector>

namespace {

const std::string kTool = std::string(VELMORA_BINARY_DIR) + "/meshdist";

struct Result {
    int points = -1;
    double geodesic = -1, euclidean = -1;
};

Result parse(const std::string &out)
{
    Result r;
    char tail = 0;
    EXPECT_EQ(std::sscanf(out.c_str(), "path: %d points, geodesic %lf, euclidean %lf%c", &r.points, &r.geodesic,
                          &r.euclidean, &tail),
              4)
        << out;
    EXPECT_EQ(tail, '\n');
    EXPECT_EQ(out.find('\n'), out.size() - 1) << "more than one line: " << out;
    return r;
}

TEST(Meshdist, EdgePathAgreesWithAnIndependentSearch)
{
    // A wavy 30 x 20 grid with uneven spacing, so that one shortest path stands out.
    const int nx = 30, ny = 20;
    std::vector<float> v;
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            const float x = i + 0.3f * std::sin(1.7f * j + i), y = j + 0.25f * std::cos(2.3f * i - j);
            v.insert(v.end(), {x, y, 0.8f * std::sin(0.4f * x) * std::cos(0.3f * y)});
        }
    std::vector<int> t;
    for (int j = 0; j + 1 < ny; ++j)
        for (int i = 0; i + 1 < nx; ++i) {
            const int a = j * nx + i;
            t.insert(t.end(), {a, a + 1, a + nx + 1, a, a + nx + 1, a + nx});
        }
    const std::string dir = testsupport::makeTempDir("Meshdist");
    const std::string mesh = dir + "/wavy.tri";
    testsupport::MeshBytes().mesh(v, t).write(mesh);

    // Dijkstra in doubles over an adjacency list built from the triangles.
    const int n = nx * ny;
    std::vector<std::vector<int>> next(n);
    for (size_t k = 0; k < t.size(); k += 3)
        for (int c = 0; c < 3; ++c)
            for (int o = 1; o < 3; ++o)
                next[t[k + c]].push_back(t[k + (c + o) % 3]);
    auto point = [&](int i) { return std::vector<double>{v[3 * i], v[3 * i + 1], v[3 * i + 2]}; };
    auto gap = [&](int a, int b) {
        const auto p = point(a), q = point(b);
        return std::sqrt((p[0] - q[0]) * (p[0] - q[0]) + (p[1] - q[1]) * (p[1] - q[1]) + (p[2] - q[2]) * (p[2] - q[2]));
    };
    const int from = 3, to = n - 5;
    std::vector<double> d(n, std::numeric_limits<double>::infinity());
    std::vector<int> hops(n, 0);
    using Entry = std::pair<double, int>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> heap;
    d[from] = 0;
    heap.push({0, from});
    while (!heap.empty()) {
        const auto [du, u] = heap.top();
        heap.pop();
        if (du > d[u])
            continue;
        for (int w : next[u])
            if (du + gap(u, w) < d[w]) {
                d[w] = du + gap(u, w);
                hops[w] = hops[u] + 1;
                heap.push({d[w], w});
            }
    }

    const auto r = testsupport::runProcess({kTool, mesh, std::to_string(from), std::to_string(to)});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const Result got = parse(r.out);
    EXPECT_NEAR(got.geodesic, d[to], 1e-4 * d[to]);
    EXPECT_EQ(got.points, hops[to] + 1);
    EXPECT_NEAR(got.euclidean, gap(from, to), 1e-5 * gap(from, to));

    // Two ends of one edge: the path is that edge.
    const auto edge = testsupport::runProcess({kTool, mesh, "40", "41"});
    ASSERT_EQ(edge.exitStatus, 0) << edge.err;
    const Result e = parse(edge.out);
    EXPECT_EQ(e.points, 2);
    EXPECT_EQ(e.geodesic, e.euclidean);

    // Across the plane: a path from one vertex to the other, never shorter than the chord.
    const auto plane = testsupport::runProcess({kTool, mesh, "31", "95", "--plane", "0"});
    ASSERT_EQ(plane.exitStatus, 0) << plane.err;
    const Result p = parse(plane.out);
    EXPECT_GE(p.points, 3);
    EXPECT_GE(p.geodesic, p.euclidean);
    EXPECT_NEAR(p.euclidean, gap(31, 95), 1e-5);

    struct Refusal {
        std::vector<std::string> args;
        std::string reason;
    } refusals[] = {
        {{mesh, "0", std::to_string(n)}, "vertex index 600 is not in 0 .. 599"},
        {{mesh, "-1", "4"}, "vertex index -1 is not in 0 .. 599"},
        {{mesh, "x", "4"}, "vertex index \"x\" is not a number"},
        {{dir + "/missing.tri", "0", "1"}, "can't read a mesh from"},
        {{mesh, "0", "1", "--plane"}, "usage:"},
    };
    for (const Refusal &c : refusals) {
        std::vector<std::string> argv{kTool};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const auto bad = testsupport::runProcess(argv);
        EXPECT_EQ(bad.exitStatus, 1) << c.reason;
        EXPECT_EQ(bad.out, "") << c.reason;
        EXPECT_NE(bad.err.find(c.reason), std::string::npos) << bad.err;
    }
}

} // namespace
