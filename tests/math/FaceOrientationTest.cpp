// ctest-label: thread
#include "math/FaceOrientation.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <utility>
#include <vector>

namespace {

// How often each directed edge is run along: a consistent surface runs each at most once.
bool consistent(const std::vector<int> &t)
{
    std::map<std::pair<int, int>, int> runs;
    for (size_t i = 0; i < t.size(); i += 3)
        for (int k = 0; k < 3; ++k)
            if (++runs[{t[i + k], t[i + (k + 1) % 3]}] > 1)
                return false;
    return true;
}

TEST(FaceOrientation, EveryPieceAgreesAndKeepsTheOrientationMostOfItHad)
{
    // A grid of 6 x 6 quads, two triangles each, every triangle counter-clockwise.
    std::vector<int> grid;
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) {
            const int a = 7 * y + x, b = a + 1, c = a + 7, d = c + 1;
            grid.insert(grid.end(), {a, b, d, a, d, c});
        }
    // A second piece, apart: a closed tetrahedron.
    const int o = 49;
    const std::vector<int> tetra = {o, o + 2, o + 1, o, o + 1, o + 3, o + 1, o + 2, o + 3, o, o + 3, o + 2};
    std::vector<int> both = grid;
    both.insert(both.end(), tetra.begin(), tetra.end());
    ASSERT_TRUE(consistent(both));

    std::mt19937 random(7);
    std::vector<int> shuffled = both;
    std::vector<bool> flipped(both.size() / 3, false);
    size_t nFlipped = 0;
    for (size_t t = 0; t < flipped.size(); ++t)
        if (random() % 3 == 0) {
            std::swap(shuffled[3 * t + 1], shuffled[3 * t + 2]);
            flipped[t] = true;
            ++nFlipped;
        }
    ASSERT_GT(nFlipped, 0u);
    ASSERT_FALSE(consistent(shuffled));

    const std::vector<bool> turned = FaceOrientation::orient(shuffled.data(), shuffled.size() / 3, 53);
    EXPECT_TRUE(consistent(shuffled));
    // Fewer than half were flipped in each piece: exactly those are turned back.
    EXPECT_EQ(turned, flipped);
    EXPECT_EQ(shuffled, both);
}

// A grid of w x w quads, two counter-clockwise triangles each.
std::vector<int> grid(int w)
{
    std::vector<int> t;
    for (int y = 0; y < w; ++y)
        for (int x = 0; x < w; ++x) {
            const int a = (w + 1) * y + x, b = a + 1, c = a + w + 1, d = c + 1;
            t.insert(t.end(), {a, b, d, a, d, c});
        }
    return t;
}

// Two triangles on the edge (0, 1) and 20 more that share only vertex 0 with them: a vertex on
// more triangles than most, the only one from which the shared edge is seen.
std::vector<int> petals()
{
    std::vector<int> t = {0, 1, 2, 0, 3, 1};
    for (int j = 0; j < 20; ++j)
        t.insert(t.end(), {0, 10 + 2 * j, 11 + 2 * j});
    return t;
}

TEST(FaceOrientation, LargeMeshesAndManyTrianglesOnAVertexAreTurnedAsSmallOnes)
{
    // Large meshes are looked through in ranges of triangles: flips on either side of a cut
    // and at the ends are found; a mesh that agrees is left as it is.
    const std::vector<int> large = grid(250);
    const size_t nLarge = large.size() / 3;
    const struct {
        const char *name;
        std::vector<int> faces;
        size_t nVertices;
        std::vector<size_t> flips;
    } cases[] = {
        {"large, agreeing", large, 251 * 251, {}},
        {"large, flipped at the ends and the middle", large, 251 * 251, {0, nLarge / 2 - 1, nLarge / 2, nLarge - 1}},
        {"a vertex on 22 triangles, one flipped", petals(), 50, {1}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int> t = c.faces;
        std::vector<bool> flipped(t.size() / 3, false);
        for (size_t f : c.flips) {
            std::swap(t[3 * f + 1], t[3 * f + 2]);
            flipped[f] = true;
        }
        EXPECT_EQ(FaceOrientation::orient(t.data(), t.size() / 3, c.nVertices), flipped);
        EXPECT_TRUE(t == c.faces);
    }
}

TEST(FaceOrientation, IndicesOutsideAndNonManifoldEdgesAreLeftAlone)
{
    // Three triangles on one edge (0, 1) and one with an index beyond the vertices.
    std::vector<int> t = {0, 1, 2, 1, 0, 3, 0, 1, 4, 0, 9, 1};
    const std::vector<bool> turned = FaceOrientation::orient(t.data(), 4, 5);
    EXPECT_FALSE(turned[3]);
    EXPECT_EQ((std::vector<int>(t.begin() + 9, t.end())), (std::vector<int>{0, 9, 1}));
    // The first orientation reached wins: the other two run against the first.
    EXPECT_EQ((std::vector<int>(t.begin(), t.begin() + 3)), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ((std::vector<int>(t.begin() + 3, t.begin() + 6)), (std::vector<int>{1, 0, 3}));
    EXPECT_EQ((std::vector<int>(t.begin() + 6, t.begin() + 9)), (std::vector<int>{0, 4, 1}));
}

} // namespace
