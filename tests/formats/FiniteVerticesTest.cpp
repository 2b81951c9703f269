#include "formats/FiniteVertices.h"

#include "formats/MeshReader.h"
#include "formats/PointListReader.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

template <class T>
std::vector<T> first(const LargeArray<T> &a, size_t n)
{
    return std::vector<T>(a.get(), a.get() + n);
}

template <class T>
LargeArray<T> arrayOf(const std::vector<T> &v)
{
    LargeArray<T> a = allocateLargeArray<T>(v.size());
    std::copy(v.begin(), v.end(), a.get());
    return a;
}

// What belongs to a vertex moves with it; triangles that used a dropped one go, the others
// are renumbered.
TEST(FiniteVertices, AMeshKeepsWhatBelongsToItsFiniteVertices)
{
    MeshData m;
    m.nVertices = 4;
    m.vertices = arrayOf<float>({0, 0, 0, kNaN, 1, 1, 2, 2, 2, 3, 3, 3});
    m.nTriangles = 2;
    m.triangles = arrayOf<int>({0, 1, 2, 0, 2, 3});
    m.colors.reset(new unsigned char[12]{0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3});
    m.texCoords = arrayOf<float>({1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2});
    const float values[4] = {10, -100, 20, 30};
    m.dataItems.emplace_back("d", values, 4);

    const FiniteVertices::Dropped d = FiniteVertices::drop(m);
    EXPECT_EQ(d.vertices, 1u);
    EXPECT_EQ(d.triangles, 1u);
    EXPECT_EQ(d.kept, 3u);
    ASSERT_EQ(m.nVertices, 3);
    ASSERT_EQ(m.nTriangles, 1);
    EXPECT_EQ(first(m.vertices, 9), (std::vector<float>{0, 0, 0, 2, 2, 2, 3, 3, 3}));
    EXPECT_EQ(first(m.triangles, 3), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(std::vector<unsigned char>(m.colors.get(), m.colors.get() + 9),
              (std::vector<unsigned char>{0, 0, 0, 2, 2, 2, 3, 3, 3}));
    EXPECT_EQ(first(m.texCoords, 6), (std::vector<float>(6, 2)));
    EXPECT_EQ(m.dataItems[0].getNElements(), 3);
    EXPECT_EQ(m.dataItems[0].getMinimum(), 10);
    EXPECT_EQ(m.dataItems[0].getMaximum(), 30);
}

// A cloud stored grouped by cells keeps its groups, each shorter by its dropped points.
TEST(FiniteVertices, AGroupedCloudKeepsItsGroupsAndBox)
{
    PointListData c;
    c.nPoints = 4;
    c.points = arrayOf<float>({0, 0, 0, 1, kNaN, 1, 2, 2, 2, 3, 3, -std::numeric_limits<float>::infinity()});
    c.values = arrayOf<float>({5, 6, 7, 8});
    c.cellOrder.start = {0, 2, 4};
    c.cellOrder.fileIndex = arrayOf<uint32_t>({3, 2, 1, 0});

    const FiniteVertices::Dropped d = FiniteVertices::drop(c);
    EXPECT_EQ(d.vertices, 2u);
    ASSERT_EQ(c.nPoints, 2);
    EXPECT_EQ(first(c.points, 6), (std::vector<float>{0, 0, 0, 2, 2, 2}));
    EXPECT_EQ(first(c.values, 2), (std::vector<float>{5, 7}));
    EXPECT_EQ(c.cellOrder.start, (std::vector<uint64_t>{0, 1, 2}));
    EXPECT_EQ(first(c.cellOrder.fileIndex, 2), (std::vector<uint32_t>{3, 1}));
    EXPECT_EQ(c.bounds.hi[2], 2);
    EXPECT_EQ(c.bounds.valueHi, 7);
}

} // namespace
