// ctest-label: thread
#include "objects/GLPointListObject.h"
#include "objects/PointLod.h"
#include "objects/GLPointStreamObject.h"
#include "formats/PlyReader.h"
#include "formats/PointLodCells.h"

#include "math/Messages.h"
#include "objects/GL3DObjectLoader.h"
#include "support/ImageCompare.h"
#include "support/PointClouds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

// The point hierarchy itself, and the loading of dense clouds: no OpenGL needed.

using testsupport::Cloud;
using testsupport::plyCloud;
using testsupport::readPly;

TEST(PointLod, EveryPointIsInOneNodeInsideItsCube)
{
    // A noisy shell, with NaN and a far outlier that must not break the cells.
    std::vector<float> p;
    uint32_t s = 1;
    for (int i = 0; i < 60000; ++i) {
        s = s * 1664525u + 1013904223u;
        const float a = (s >> 8) * 3.7e-7f, b = (s & 0xFFFF) * 4.8e-5f;
        p.insert(p.end(), {std::cos(a) * std::sin(b), std::sin(a) * std::sin(b), std::cos(b)});
    }
    p.insert(p.end(), {std::nanf(""), 0, 0, 1e6f, 0, 0});
    const size_t n = p.size() / 3;
    const PointLod lod = PointLod::build(p.data(), n, 2);
    std::vector<uint32_t> order(n);
    for (size_t i = 0; i < n; ++i)
        order[i] = lod.order[i];
    std::sort(order.begin(), order.end());
    std::vector<uint32_t> all(n);
    std::iota(all.begin(), all.end(), 0u);
    EXPECT_EQ(order, all);
    uint32_t covered = 0;
    for (const PointLodNode &node : lod.nodes) {
        EXPECT_EQ(node.first, covered);
        covered += node.count;
        for (uint32_t i = node.first; i < node.first + node.count; ++i) {
            const float *q = &p[3 * lod.order[i]];
            const float slack = 1e-6f * lod.nodes[0].size;
            for (int k = 0; k < 3 && !std::isnan(q[0]); ++k) {
                ASSERT_GE(q[k], node.lo[k] - slack);
                ASSERT_LE(q[k], node.lo[k] + node.size + slack);
            }
        }
    }
    EXPECT_EQ(covered, n);
    EXPECT_GT(lod.nodes.size(), 8u);
}

namespace {

// Every stored point comes from a different point of the file, and `same(i, f)` checks what
// stored point i carries against file point f.
template <class Same> void expectAPermutationOfTheFile(const PointLod &lod, size_t n, Same same)
{
    std::vector<bool> seen(n, false);
    for (size_t i = 0; i < n; ++i) {
        const uint32_t f = lod.order[i];
        ASSERT_LT(f, n);
        ASSERT_FALSE(seen[f]);
        seen[f] = true;
        same(i, f);
    }
}

// The nodes hold consecutive ranges of all n points, each point inside its node's cube.
void expectNodesHoldTheirPoints(const PointLod &lod, const float *xyz, size_t n, float slack)
{
    size_t covered = 0;
    for (const PointLodNode &node : lod.nodes) {
        ASSERT_EQ(node.first, covered);
        covered += node.count;
        for (uint32_t i = node.first; i < node.first + node.count; ++i)
            for (int k = 0; k < 3; ++k) {
                ASSERT_GE(xyz[3 * i + k], node.lo[k] - slack);
                ASSERT_LE(xyz[3 * i + k], node.lo[k] + node.size + slack);
            }
    }
    EXPECT_EQ(covered, n);
}

} // namespace

TEST(PointLod, InPlaceColoursAndValuesFollowTheirPointsAndNodesHoldTheirCubes)
{
    // A cube filled with points, dense enough for three levels, some repeated exactly.
    const size_t n = 200000;
    std::vector<float> p(3 * n), v(n), w(n);
    std::vector<unsigned char> c(3 * n);
    uint32_t s = 7;
    for (size_t i = 0; i < n; ++i) {
        for (int k = 0; k < 3; ++k) {
            s = s * 1664525u + 1013904223u;
            p[3 * i + k] = i % 10 == 0 ? 0.25f : (s >> 8) * (1.0f / 16777216.0f);
            c[3 * i + k] = static_cast<unsigned char>(i >> (8 * k));
        }
        v[i] = static_cast<float>(i);
        w[i] = -static_cast<float>(i);
    }
    const std::vector<float> p0 = p;
    PointLodArrays cloud;
    cloud.xyz = p.data();
    cloud.rgb = c.data();
    cloud.values = {v.data(), w.data()};
    const PointLod lod = PointLod::buildInPlace(cloud, n, 2);
    expectAPermutationOfTheFile(lod, n, [&](size_t i, uint32_t f) {
        ASSERT_EQ(std::memcmp(&p[3 * i], &p0[3 * f], 12), 0);
        ASSERT_EQ(c[3 * i] | c[3 * i + 1] << 8 | c[3 * i + 2] << 16, static_cast<int>(f & 0xFFFFFF));
        ASSERT_EQ(v[i], static_cast<float>(f));
        ASSERT_EQ(w[i], -static_cast<float>(f));
    });
    uint32_t covered = 0;
    int deepest = 0;
    for (const PointLodNode &node : lod.nodes) {
        EXPECT_EQ(node.first, covered);
        covered += node.count;
        deepest = std::max(deepest, node.depth);
        for (uint32_t i = node.first; i < node.first + node.count; ++i)
            for (int k = 0; k < 3; ++k) {
                ASSERT_GE(p[3 * i + k], node.lo[k] - 1e-6f);
                ASSERT_LE(p[3 * i + k], node.lo[k] + node.size + 1e-6f);
            }
        // An inner node keeps at most one point a sub-cell.
        const bool inner = std::any_of(node.child, node.child + 8, [](int k) { return k >= 0; });
        if (inner) {
            EXPECT_LE(node.count, 1u << (3 * PointLod::sampleDepth(node.depth)));
        }
    }
    EXPECT_EQ(covered, n);
    EXPECT_GE(deepest, 2);
}

TEST(PointLod, ACloudSpilledToDiskKeepsItsOrderInAFile)
{
    // Points and values, built once in memory and once through files: the two sort the points
    // into their cells differently, but each order leads back to the file's.
    const size_t n = 150000;
    std::vector<float> p(3 * n), v(n);
    uint32_t s = 11;
    for (size_t i = 0; i < n; ++i) {
        for (int k = 0; k < 3; ++k) {
            s = s * 1664525u + 1013904223u;
            p[3 * i + k] = (s >> 8) * (1.0f / 16777216.0f) * (k == 2 ? 0.1f : 1.0f);
        }
        v[i] = static_cast<float>(i);
    }
    for (const size_t spill : {PointLod::kSpillBytes, size_t(0)}) {
        SCOPED_TRACE(spill);
        std::vector<float> q = p, w = v;
        PointLodArrays cloud;
        cloud.xyz = q.data();
        cloud.values = {w.data()};
        const PointLod lod = PointLod::buildInPlace(cloud, n, 2, nullptr, spill);
        ASSERT_EQ(lod.order.isOnDisk(), spill == 0);
        expectAPermutationOfTheFile(lod, n, [&](size_t i, uint32_t f) {
            ASSERT_EQ(w[i], static_cast<float>(f));
            ASSERT_EQ(std::memcmp(&q[3 * i], &p[3 * f], 12), 0);
        });
        uint32_t covered = 0;
        for (const PointLodNode &node : lod.nodes) {
            ASSERT_EQ(node.first, covered);
            covered += node.count;
        }
        EXPECT_EQ(covered, n);
        for (size_t i = 0; i < n; i += 9973)
            EXPECT_EQ(lod.order.find(lod.order[i]), i);
        EXPECT_EQ(lod.order.find(static_cast<uint32_t>(n)), n);
    }
}

TEST(PointLod, ACloudGroupedByItsReaderKeepsTheFileOrderThroughItsHierarchy)
{
    // Over a million points, which the reader shares between two threads (uneven halves);
    // every tenth point repeats one place.
    const size_t n = 1000003;
    std::vector<float> p(3 * n);
    std::vector<unsigned char> c(3 * n);
    uint32_t s = 19;
    for (size_t i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k) {
            s = s * 1664525u + 1013904223u;
            p[3 * i + k] = i % 10 == 0 ? 0.5f : (s >> 8) * (1.0f / 16777216.0f) * (k == 1 ? 40.0f : 1.0f) - 3.0f;
            c[3 * i + k] = static_cast<unsigned char>(i >> (8 * k));
        }
    const std::string file = plyCloud(p, c);
    ForeignModel grouped = readPly(file, 1);
    EXPECT_FALSE(readPly(file, n + 1).points.cellOrder); // fewer points than asked
    PointListData &g = grouped.points;
    ASSERT_TRUE(g.cellOrder);
    // Each group holds the points of its cell, in the file's order.
    float size = 0;
    const PointLodCells cells = PointLodCells::fitting(g.bounds, size);
    const std::vector<uint64_t> &start = g.cellOrder.start;
    ASSERT_EQ(start.size(), PointLodCells::kGroups + 1);
    ASSERT_EQ(start.back(), n);
    for (size_t k = 0; k < PointLodCells::kGroups; ++k)
        for (size_t i = start[k]; i < start[k + 1]; ++i) {
            ASSERT_EQ(cells.coarseKey<PointLodCells::kTop>(&g.points[3 * i]), k);
            if (i > start[k]) {
                ASSERT_LT(g.cellOrder.fileIndex[i - 1], g.cellOrder.fileIndex[i]);
            }
        }
    PointLodArrays arrays;
    arrays.xyz = g.points.get();
    arrays.rgb = g.colors.get();
    const PointLod lod = PointLod::buildInPlace(arrays, n, 2, nullptr, PointLod::kSpillBytes, &g.cellOrder);
    EXPECT_FALSE(g.cellOrder);
    expectAPermutationOfTheFile(lod, n, [&](size_t i, uint32_t f) {
        ASSERT_EQ(std::memcmp(&g.points[3 * i], &p[3 * f], 12), 0);
        ASSERT_EQ(std::memcmp(&g.colors[3 * i], &c[3 * f], 3), 0);
    });
    expectNodesHoldTheirPoints(lod, g.points.get(), n, 1e-5f);
}

TEST(PointLod, AGroupingThatDoesNotHoldIsRefusedAndThePointsGoBackToTheFileOrder)
{
    const Cloud c(100);
    const std::string file = plyCloud(c.p, c.rgb);
    const size_t n = static_cast<size_t>(c.size());
    // A mesh is never grouped: its faces number the vertices in the file's order.
    const std::string mesh = "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
                             "property float z\nproperty uchar red\nproperty uchar green\nproperty uchar blue\n"
                             "element face 1\nproperty list uchar int vertex_indices\nend_header\n"
                             "0 0 0 1 2 3\n1 0 0 4 5 6\n0 1 0 7 8 9\n3 0 1 2\n";
    EXPECT_FALSE(readPly(mesh, 1).isPointCloud);
    struct Case {
        const char *name;
        bool strayPoint;  ///< a point moved to another group
        bool shortGroups; ///< the groups end before the last point
    };
    for (const Case &k : {Case{"a point in another cell", true, false}, Case{"groups that miss points", false, true}}) {
        SCOPED_TRACE(k.name);
        ForeignModel grouped = readPly(file, 1);
        PointListData &g = grouped.points;
        ASSERT_TRUE(g.cellOrder);
        if (k.strayPoint) {
            // The first and the last point trade places, and their indices with them.
            std::swap_ranges(&g.points[0], &g.points[3], &g.points[3 * (n - 1)]);
            std::swap_ranges(&g.colors[0], &g.colors[3], &g.colors[3 * (n - 1)]);
            std::swap(g.cellOrder.fileIndex[0], g.cellOrder.fileIndex[n - 1]);
        }
        if (k.shortGroups)
            --g.cellOrder.start.back();
        PointLodArrays arrays;
        arrays.xyz = g.points.get();
        arrays.rgb = g.colors.get();
        EXPECT_THROW(PointLod::buildInPlace(arrays, n, 2, nullptr, PointLod::kSpillBytes, &g.cellOrder),
                     std::logic_error);
        EXPECT_EQ(std::memcmp(g.points.get(), c.p.data(), 12 * n), 0);
        EXPECT_EQ(std::memcmp(g.colors.get(), c.rgb.data(), 3 * n), 0);
    }
}

TEST(PointLod, TheCoarseCellsOfAPointAreTheLeadingDigitsOfItsCode)
{
    PointLodCells cells;
    cells.lo[0] = -1;
    cells.lo[1] = 0.5f;
    cells.lo[2] = 3;
    cells.toCell = 1024 / 2.5f;
    uint32_t s = 3;
    for (int i = 0; i < 20000; ++i) {
        float p[3];
        for (float &x : p) {
            s = s * 1664525u + 1013904223u;
            x = (s >> 8) * (4.0f / 16777216.0f) - 0.5f + cells.lo[&x - p];
        }
        if (i % 97 == 0)
            p[i % 3] = i % 2 ? std::nanf("") : -1e30f;
        const uint32_t key = cells.key(p);
        ASSERT_EQ(cells.coarseKey<1>(p), key >> 27);
        ASSERT_EQ(cells.coarseKey<2>(p), key >> 24);
        ASSERT_EQ(cells.coarseKey<3>(p), key >> 21);
    }
}

TEST(PointLod, CloudsThatSplitUnevenlyBetweenTheThreadsKeepEveryPoint)
{
    // The threads share the cells by halves of the points: clouds whose points fill one cell,
    // crowd into one corner or are too few for halves, on one to three threads.
    struct Case {
        const char *name;
        size_t n;
        float spread; ///< of all but every 50th point, which spans the unit cube
    };
    for (const Case &c : {Case{"one cell", 30000, 0}, Case{"one corner", 40001, 0.01f}, Case{"three points", 3, 1}})
        for (const int threads : {1, 2, 3}) {
            SCOPED_TRACE(std::string(c.name) + " on " + std::to_string(threads));
            std::vector<float> p(3 * c.n);
            uint32_t s = 5;
            for (size_t i = 0; i < 3 * c.n; ++i) {
                s = s * 1664525u + 1013904223u;
                p[i] = (s >> 8) * (1.0f / 16777216.0f) * (i / 3 % 50 == 0 ? 1 : c.spread);
            }
            std::vector<float> q = p;
            PointLodArrays cloud;
            cloud.xyz = q.data();
            const PointLod lod = PointLod::buildInPlace(cloud, c.n, threads);
            expectAPermutationOfTheFile(lod, c.n, [&](size_t i, uint32_t f) {
                ASSERT_EQ(std::memcmp(&q[3 * i], &p[3 * f], 12), 0);
            });
            expectNodesHoldTheirPoints(lod, q.data(), c.n, 1e-6f);
        }
}

TEST(DenseCloudFiles, TheLoaderTakesLasAndTextCloudsAndRefusesLaz)
{
    const std::string dir = testsupport::makeTempDir("DenseCloudFiles");
    // A LAS 1.2 file of format 0 with two points, 1 km east of the origin, millimetres.
    std::string las(227 + 40, '\0');
    std::memcpy(&las[0], "LASF", 4);
    las[24] = 1;
    las[25] = 2;
    const uint16_t header = 227, length = 20;
    const uint32_t offset = 227, count = 2;
    const double scale = 0.001, east = 1000.0;
    std::memcpy(&las[94], &header, 2);
    std::memcpy(&las[96], &offset, 4);
    std::memcpy(&las[105], &length, 2);
    std::memcpy(&las[107], &count, 4);
    for (int k = 0; k < 3; ++k)
        std::memcpy(&las[131 + 8 * k], &scale, 8);
    std::memcpy(&las[155], &east, 8);
    const int32_t xyz[6] = {1500, 0, 0, -500, 2000, 3000};
    std::memcpy(&las[227], xyz, 12);
    std::memcpy(&las[247], xyz + 3, 12);
    std::ofstream(dir + "/scan.las", std::ios::binary) << las;
    std::ofstream(dir + "/plain.las") << "1 2 3\n";
    std::ofstream(dir + "/cloud.xyz") << "# x y z r g b\n1 2 3 255 0 0\n4 5 6 0 255 0\n";
    std::ofstream(dir + "/scan.pts") << "1\n1 2 3 10 1 2 3\n";

    CapturingMessageSink sink;
    ScopedMessageSink scope(sink);
    std::unique_ptr<GL3DObject> scan(GL3DObjectLoader::load((dir + "/scan.las").c_str()));
    auto *cloud = dynamic_cast<GLPointListObject *>(scan.get());
    ASSERT_NE(cloud, nullptr);
    EXPECT_EQ(cloud->getValueName(), "intensity");
    EXPECT_DOUBLE_EQ(cloud->getFileOrigin()[0] + cloud->getVertices()[0], 1001.5);
    std::unique_ptr<GL3DObject> plain(GL3DObjectLoader::load((dir + "/plain.las").c_str()));
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->getNVertices(), 1);
    std::unique_ptr<GL3DObject> xyzCloud(GL3DObjectLoader::load((dir + "/cloud.xyz").c_str()));
    ASSERT_NE(xyzCloud, nullptr);
    EXPECT_EQ(static_cast<GLPointListObject *>(xyzCloud.get())->getColors()[4], 255);
    std::unique_ptr<GL3DObject> pts(GL3DObjectLoader::load((dir + "/scan.pts").c_str()));
    ASSERT_NE(pts, nullptr);
    EXPECT_TRUE(static_cast<GLPointListObject *>(pts.get())->getShowOwnColors());

    // A LAZ file of another program opens as its cloud, with its colours.
    std::unique_ptr<GL3DObject> laz(
        GL3DObjectLoader::load((std::string(VELMORA_SOURCE_DIR) + "/tests/data/laz/simple.laz").c_str()));
    ASSERT_NE(laz, nullptr);
    EXPECT_EQ(laz->getNVertices(), 1065);
    EXPECT_NE(static_cast<GLPointListObject *>(laz.get())->getColors(), nullptr);
    std::unique_ptr<GL3DObject> ept(
        GL3DObjectLoader::load((std::string(VELMORA_SOURCE_DIR) + "/tests/data/ept/1.2-with-color/ept.json").c_str()));
    // A tile set is read node by node, with its full count.
    const auto *tiles = dynamic_cast<const GLPointStreamObject *>(ept.get());
    ASSERT_NE(tiles, nullptr);
    EXPECT_EQ(tiles->getPointCount(), 1065u);
}
