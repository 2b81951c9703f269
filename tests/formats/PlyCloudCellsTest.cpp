// ctest-label: thread
#include "formats/PlyCloudCells.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Records of 19 bytes: x, y, z, a float the reader leaves alone, then blue, red and green,
// so that the coordinates of most records lie across a word boundary.
constexpr size_t kStride = 19;
const size_t kColourAt[3] = {17, 18, 16};

std::vector<char> records(size_t n)
{
    std::vector<char> out(n * kStride);
    uint32_t s = 7;
    for (size_t i = 0; i < n; ++i) {
        float p[4];
        for (float &v : p) {
            s = s * 1664525u + 1013904223u;
            v = (s >> 8) * (1.0f / 16777216.0f) * 8.0f - 2.0f;
        }
        if (i % 97 == 0) // some points repeat one place; one has no place at all
            p[0] = p[1] = p[2] = 1.0f;
        if (i == n / 3)
            p[1] = NAN;
        char *r = &out[i * kStride];
        std::memcpy(r, p, 16);
        for (int k = 0; k < 3; ++k)
            r[16 + k] = static_cast<char>((i >> (5 * k)) + static_cast<size_t>(k));
    }
    return out;
}

// Below a million points the reader works alone, from a million on in two halves: the
// groups must be the same either way.
TEST(PlyCloudCells, EachGroupHoldsItsPointsInTheFileOrder)
{
    for (size_t n : {size_t(2000), size_t(1000003)}) {
        SCOPED_TRACE(n);
        const std::vector<char> file = records(n);
        std::vector<float> xyz(3 * n);
        std::vector<unsigned char> rgb(3 * n);
        PointBounds bounds;
        const PointCellOrder order =
            PlyCloudCells::read(file.data(), kStride, kColourAt, n, false, xyz.data(), rgb.data(), bounds);

        PointBounds expected;
        for (size_t i = 0; i < n; ++i) {
            float p[3];
            std::memcpy(p, &file[i * kStride], 12);
            expected.addPoints(p, 3);
        }
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(bounds.lo[k], expected.lo[k]) << k;
            EXPECT_EQ(bounds.hi[k], expected.hi[k]) << k;
        }
        float size = 0;
        const PointLodCells cells = PointLodCells::fitting(bounds, size);
        EXPECT_EQ(order.size, size);
        ASSERT_EQ(order.start.size(), PointLodCells::kGroups + 1);
        ASSERT_EQ(order.start.front(), 0u);
        ASSERT_EQ(order.start.back(), n);
        std::vector<bool> seen(n, false);
        for (size_t g = 0; g < PointLodCells::kGroups; ++g)
            for (size_t i = order.start[g]; i < order.start[g + 1]; ++i) {
                const uint32_t f = order.fileIndex[i];
                ASSERT_LT(f, n);
                ASSERT_FALSE(seen[f]) << f;
                seen[f] = true;
                if (i > order.start[g]) {
                    ASSERT_LT(order.fileIndex[i - 1], f) << i;
                }
                const char *r = &file[f * kStride];
                ASSERT_EQ(std::memcmp(&xyz[3 * i], r, 12), 0) << i;
                for (int k = 0; k < 3; ++k)
                    ASSERT_EQ(rgb[3 * i + static_cast<size_t>(k)], static_cast<unsigned char>(r[kColourAt[k]])) << i;
                ASSERT_EQ(cells.coarseKey<PointLodCells::kTop>(&xyz[3 * i]), g) << i;
            }
    }
}

} // namespace
