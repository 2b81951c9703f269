#include "formats/ColorMap.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <set>
#include <string>

namespace {

using RGB = std::array<int, 3>;

// `fill` pre-loads the output so that a channel a map forgets to write shows up.
RGB colour(ColorMap::ColorFunction f, float value, float min, float max, unsigned char fill = 77)
{
    unsigned char rgb[3] = {fill, fill, fill};
    f(rgb, value, min, max);
    return RGB{rgb[0], rgb[1], rgb[2]};
}

TEST(ColorMap, WorkedValuesOfJetHotAndStandard)
{
    EXPECT_EQ(colour(ColorMap::jetColorMap, 0.f, 0.f, 1.f), (RGB{0, 0, 255}));
    EXPECT_EQ(colour(ColorMap::jetColorMap, 0.5f, 0.f, 1.f), (RGB{127, 255, 128}));
    EXPECT_EQ(colour(ColorMap::jetColorMap, 1.f, 0.f, 1.f), (RGB{255, 0, 0}));
    EXPECT_EQ(colour(ColorMap::jetColorMap, 30.f, 10.f, 50.f), (RGB{127, 255, 128}));
    EXPECT_EQ(colour(ColorMap::hotColorMap, 0.5f, 0.f, 1.f), (RGB{255, 127, 0}));

    // Signed range: positives against [0, 4], zero and negatives against [-2, 0].
    EXPECT_EQ(colour(ColorMap::colorMap, 4.f, -2.f, 4.f), (RGB{255, 255, 255}));
    EXPECT_EQ(colour(ColorMap::colorMap, 2.f, -2.f, 4.f), (RGB{223, 127, 0}));
    EXPECT_EQ(colour(ColorMap::colorMap, 0.f, -2.f, 4.f), (RGB{0, 255, 255}));
    EXPECT_EQ(colour(ColorMap::colorMap, -1.f, -2.f, 4.f), (RGB{0, 127, 0}));
    EXPECT_EQ(colour(ColorMap::colorMap, -2.f, -2.f, 4.f), (RGB{0, 0, 0}));
    EXPECT_EQ(colour(ColorMap::colorMap, 9.f, -2.f, 4.f), (RGB{255, 255, 255}));
    // Data of one sign spreads one branch over the whole range.
    EXPECT_EQ(colour(ColorMap::colorMap, 1.f, 1.f, 5.f), (RGB{192, 0, 0}));
    EXPECT_EQ(colour(ColorMap::colorMap, 3.f, 1.f, 5.f), (RGB{223, 127, 0}));
    EXPECT_EQ(colour(ColorMap::colorMap, -3.f, -5.f, -1.f), (RGB{0, 127, 0}));
}

TEST(ColorMap, RampsAreMonotoneAndContinuousAcrossTheThirds)
{
    // Hot only ever brightens, by small steps (a wrong third or a missing offset shows as
    // a jump or a drop); cold is hot with red and blue exchanged; jet's red and blue sum
    // to 255 in its middle third.
    RGB prevHot = colour(ColorMap::hotColorMap, 0.f, 0.f, 1.f);
    for (int i = 1; i <= 3000; ++i) {
        const float t = i / 3000.f;
        const RGB hot = colour(ColorMap::hotColorMap, t, 0.f, 1.f);
        for (int c = 0; c < 3; ++c)
            EXPECT_TRUE(hot[c] >= prevHot[c] && hot[c] - prevHot[c] <= 2) << "t=" << t;
        EXPECT_EQ(colour(ColorMap::coldColorMap, t, 0.f, 1.f), (RGB{hot[2], hot[1], hot[0]})) << "t=" << t;
        prevHot = hot;
        const RGB jet = colour(ColorMap::jetColorMap, t, 0.f, 1.f);
        if (t >= 0.33333334f && t < 0.6666667f) {
            EXPECT_EQ(jet[0] + jet[2], 255) << "t=" << t;
        }
    }
    EXPECT_EQ(colour(ColorMap::hotColorMap, -0.5f, 0.f, 1.f), (RGB{0, 0, 0}));
    EXPECT_EQ(colour(ColorMap::jetColorMap, 7.f, 0.f, 1.f), (RGB{255, 0, 0}));
    EXPECT_EQ(colour(ColorMap::blueColorMap, 0.5f, 0.f, 1.f), (RGB{0, 0, 127}));
}

TEST(ColorMap, SelectionAndNamesWrapInBothDirections)
{
    EXPECT_EQ(ColorMap::getNumberOfColorMaps(), 10);
    EXPECT_EQ(ColorMap::selectColorMap(-1), &ColorMap::randColorMap);
    EXPECT_STREQ(ColorMap::getColorMapName(-1), "random");
    EXPECT_EQ(ColorMap::selectColorMap(10), &ColorMap::colorMap);
    EXPECT_STREQ(ColorMap::getColorMapName(10), "standard");
    EXPECT_STREQ(ColorMap::getColorMapName(-4), "inverse gray");
    EXPECT_STREQ(ColorMap::getColorMapName(-13), "absolute gray");
    EXPECT_EQ(ColorMap::selectColorMap(-2147483647 - 1), ColorMap::selectColorMap(2));

    std::set<std::string> names;
    std::set<ColorMap::ColorFunction> maps;
    for (int i = 0; i < ColorMap::nColorMaps; ++i) {
        names.insert(ColorMap::getColorMapName(i));
        maps.insert(ColorMap::selectColorMap(i));
    }
    EXPECT_EQ(names.size(), 10u);
    EXPECT_EQ(maps.size(), 10u);
}

TEST(ColorMap, GrayFamily)
{
    EXPECT_EQ(colour(ColorMap::grayColorMap, -5.f, 0.f, 10.f), (RGB{0, 0, 0}));
    EXPECT_EQ(colour(ColorMap::grayColorMap, 15.f, 0.f, 10.f), (RGB{255, 255, 255}));
    EXPECT_EQ(colour(ColorMap::grayColorMap, 5.f, 0.f, 10.f), (RGB{127, 127, 127}));
    EXPECT_EQ(colour(ColorMap::negativeGrayColorMap, 2.f, 0.f, 10.f), (RGB{204, 204, 204}));
    EXPECT_EQ(colour(ColorMap::negativeGrayColorMap, 15.f, 0.f, 10.f), (RGB{0, 0, 0}));
    // Absolute gray: negatives measured against -min, positives against max.
    EXPECT_EQ(colour(ColorMap::absColorMap, -3.f, -4.f, 2.f), colour(ColorMap::grayColorMap, 3.f, 0.f, 4.f));
    EXPECT_EQ(colour(ColorMap::absColorMap, -3.f, -4.f, 2.f), (RGB{191, 191, 191}));
    EXPECT_EQ(colour(ColorMap::absColorMap, 1.f, -4.f, 2.f), (RGB{127, 127, 127}));
    EXPECT_EQ(colour(ColorMap::absColorMap, 3.f, -4.f, 2.f), (RGB{255, 255, 255}));
}

TEST(ColorMap, CyclicRepeatsWithThePeriodOfTheRange)
{
    // Red at the start of the period, blue and green at its thirds.
    EXPECT_EQ(colour(ColorMap::cyclicColorMap, 0.f, 0.f, 3.f), (RGB{255, 0, 0}));
    EXPECT_EQ(colour(ColorMap::cyclicColorMap, 1.f, 0.f, 3.f), (RGB{0, 0, 255}));
    EXPECT_EQ(colour(ColorMap::cyclicColorMap, 2.f, 0.f, 3.f), (RGB{0, 255, 0}));
    EXPECT_EQ(colour(ColorMap::cyclicColorMap, 2.5f, 0.f, 3.f), (RGB{127, 128, 0}));
    for (float v : {0.25f, 1.25f, 2.75f}) {
        const RGB base = colour(ColorMap::cyclicColorMap, v, 0.f, 3.f);
        for (int k : {-3, 1, 10})
            EXPECT_EQ(colour(ColorMap::cyclicColorMap, v + 3.f * k, 0.f, 3.f), base) << v << " + " << k << " periods";
        EXPECT_EQ(colour(ColorMap::cyclicColorMap, v + 100.f, 100.f, 103.f), base) << v;
    }
}

TEST(ColorMap, RandomMapGivesEqualPositionsEqualColours)
{
    const RGB a = colour(ColorMap::randColorMap, 0.25f, 0.f, 1.f);
    colour(ColorMap::randColorMap, 0.75f, 0.f, 1.f);
    EXPECT_EQ(colour(ColorMap::randColorMap, 0.25f, 0.f, 1.f), a);
    EXPECT_EQ(colour(ColorMap::randColorMap, 12.5f, 10.f, 20.f), a);
    std::set<RGB> distinct;
    for (int i = 0; i < 20; ++i)
        distinct.insert(colour(ColorMap::randColorMap, i / 20.f, 0.f, 1.f));
    EXPECT_GT(distinct.size(), 15u);
}

TEST(ColorMap, DegenerateRangesAndNaNGiveDefinedColours)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    // The sanitizer build turns undefined conversions into failures; every channel must
    // be written whatever the output held before.
    const float awkward[][3] = {{5, 5, 5},         {4, 5, 5},      {6, 5, 5},      {0, 0, 0},
                                {nan, 0, 1},       {0.5f, nan, 1}, {0.5f, 0, nan}, {inf, 0, 1},
                                {-inf, 0, 1},      {0, inf, -inf}, {1e30f, -1e30f, 1e-30f},
                                {3e38f, -3e38f, 3e38f}, {-1e9f, 0, 1}};
    for (int m = 0; m < ColorMap::nColorMaps; ++m)
        for (const auto &in : awkward)
            EXPECT_EQ(colour(ColorMap::selectColorMap(m), in[0], in[1], in[2], 0),
                      colour(ColorMap::selectColorMap(m), in[0], in[1], in[2], 200))
                << ColorMap::getColorMapName(m) << " at " << in[0] << " in [" << in[1] << ", " << in[2] << "]";

    // A one-value range: the value sits at the bottom, others below or above it.
    EXPECT_EQ(colour(ColorMap::jetColorMap, 5.f, 5.f, 5.f), (RGB{0, 0, 255}));
    EXPECT_EQ(colour(ColorMap::hotColorMap, 6.f, 5.f, 5.f), (RGB{255, 255, 255}));
    EXPECT_EQ(colour(ColorMap::absColorMap, 0.f, 0.f, 0.f), (RGB{0, 0, 0}));
    EXPECT_EQ(colour(ColorMap::cyclicColorMap, 7.f, 5.f, 5.f), (RGB{255, 0, 0}));
    // NaN counts as below the range (cyclic and random: as its start).
    EXPECT_EQ(colour(ColorMap::hotColorMap, nan, 0.f, 1.f), (RGB{0, 0, 0}));
    EXPECT_EQ(colour(ColorMap::jetColorMap, nan, 0.f, 1.f), (RGB{0, 0, 255}));
    EXPECT_EQ(colour(ColorMap::colorMap, nan, -1.f, 1.f), (RGB{0, 0, 0}));
    EXPECT_EQ(colour(ColorMap::cyclicColorMap, nan, 0.f, 3.f), (RGB{255, 0, 0}));
    EXPECT_EQ(colour(ColorMap::randColorMap, nan, 0.f, 1.f), colour(ColorMap::randColorMap, 0.f, 0.f, 1.f));
}

} // namespace
