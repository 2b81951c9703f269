#include "objects/Legend.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using RGB = std::array<int, 3>;
using Labels = std::vector<std::string>;

Labels labelsOf(const Legend &legend)
{
    Labels out;
    for (int i = 0; i < legend.getNumberOfLabels(); ++i)
        out.emplace_back(legend.getLabel(i));
    return out;
}

RGB band(const Legend &legend, int i)
{
    const unsigned char *c = legend.getColor(i);
    return RGB{c[0], c[1], c[2]};
}

RGB gray(float v, float min, float max)
{
    unsigned char rgb[3];
    ColorMap::grayColorMap(rgb, v, min, max);
    return RGB{rgb[0], rgb[1], rgb[2]};
}

TEST(Legend, KeepsCopiesOfWhatItIsGiven)
{
    Legend legend;
    EXPECT_EQ(legend.getTitle(), nullptr);
    EXPECT_EQ(legend.getTextColor()[3], 1.f);
    unsigned char rgb[3] = {10, 20, 30};
    char text[8] = "low";
    legend.add(rgb);
    legend.add(text);
    rgb[0] = 99;
    std::strcpy(text, "high");
    legend.add(rgb, text);
    std::strcpy(text, "xxx");
    char title[] = "height";
    legend.setTitle(title);
    title[0] = 'H';

    EXPECT_EQ(legend.getNumberOfColors(), 2);
    EXPECT_EQ(band(legend, 0), (RGB{10, 20, 30}));
    EXPECT_EQ(band(legend, 1), (RGB{99, 20, 30}));
    EXPECT_EQ(labelsOf(legend), (Labels{"low", "high"}));
    EXPECT_STREQ(legend.getTitle(), "height");
    // An empty title is still a title; only null removes it.
    legend.setTitle("");
    EXPECT_NE(legend.getTitle(), nullptr);
    legend.setTitle(nullptr);
    EXPECT_EQ(legend.getTitle(), nullptr);
}

TEST(Legend, IntegerRangeHasOneBandAndOneTruncatedLabelPerStep)
{
    Legend legend;
    legend.add(ColorMap::grayColorMap, 0, 10, 4);
    EXPECT_EQ(legend.getNumberOfColors(), 5);
    EXPECT_EQ(labelsOf(legend), (Labels{"0", "2", "5", "7", "10"}));
    EXPECT_EQ(band(legend, 1), gray(2.5f, 0, 10));
    EXPECT_EQ(band(legend, 4), (RGB{255, 255, 255}));

    // Truncation is towards zero on both sides of it, and a falling range works.
    legend.clear();
    legend.add(ColorMap::grayColorMap, 10, -10, 8);
    EXPECT_EQ(labelsOf(legend), (Labels{"10", "7", "5", "2", "0", "-2", "-5", "-7", "-10"}));
    // The whole int range does not overflow.
    legend.clear();
    legend.add(ColorMap::grayColorMap, -2147483647 - 1, 2147483647, 2);
    EXPECT_EQ(labelsOf(legend), (Labels{"-2147483648", "0", "2147483647"}));
    // No steps: just lo. Negative: nothing.
    legend.clear();
    legend.add(ColorMap::grayColorMap, 3, 8, 0);
    legend.add(ColorMap::grayColorMap, 3, 8, -2);
    EXPECT_EQ(legend.getNumberOfColors(), 1);
    EXPECT_EQ(labelsOf(legend), (Labels{"3"}));
}

TEST(Legend, FloatRangeBandsFinelyAndFormatsItsLabels)
{
    Legend legend;
    legend.add(ColorMap::jetColorMap, -1.f, 1.f, 2, 2);
    EXPECT_EQ(legend.getNumberOfColors(), 61);
    EXPECT_EQ(labelsOf(legend), (Labels{"-1.00", "0.0", "1.00"}));
    EXPECT_EQ(band(legend, 0), (RGB{0, 0, 255}));
    EXPECT_EQ(band(legend, 30), (RGB{127, 255, 128}));
    EXPECT_EQ(band(legend, 60), (RGB{255, 0, 0}));

    // Beyond 15 steps, four bands a step; the zero rule needs exactly two steps.
    legend.clear();
    legend.add(ColorMap::grayColorMap, -1.f, 1.f, 20, 1);
    EXPECT_EQ(legend.getNumberOfColors(), 81);
    ASSERT_EQ(legend.getNumberOfLabels(), 21);
    EXPECT_STREQ(legend.getLabel(15), "0.5");
    EXPECT_EQ(band(legend, 40), gray(0.f, -1.f, 1.f));
    legend.clear();
    legend.add(ColorMap::grayColorMap, -1.f, 1.f, 4, 2);
    EXPECT_EQ(labelsOf(legend), (Labels{"-1.00", "-0.50", "0.00", "0.50", "1.00"}));
    legend.clear();
    legend.add(ColorMap::grayColorMap, 1.f, 3.f, 2, 2);
    EXPECT_EQ(labelsOf(legend), (Labels{"1.00", "2.00", "3.00"}));

    // Small values switch to exponent form with one digit less, when both ends are small.
    legend.clear();
    legend.add(ColorMap::grayColorMap, 0.001f, 0.05f, 2, 3);
    ASSERT_EQ(legend.getNumberOfLabels(), 3);
    EXPECT_STREQ(legend.getLabel(0), "1.00e-03");
    EXPECT_STREQ(legend.getLabel(2), "5.00e-02");
    EXPECT_NEAR(std::strtod(legend.getLabel(1), nullptr), 0.0255, 1e-4);
    legend.clear();
    legend.add(ColorMap::grayColorMap, 0.001f, 0.1f, 1, 2);
    EXPECT_EQ(labelsOf(legend), (Labels{"0.00", "0.10"}));
    legend.clear();
    legend.add(ColorMap::grayColorMap, -0.02f, 0.02f, 2, 2);
    EXPECT_EQ(labelsOf(legend), (Labels{"-2.0e-02", "0.0", "2.0e-02"}));
    // Precision 0 has no digit to spare: the exponent form keeps none rather than six.
    legend.clear();
    legend.add(ColorMap::grayColorMap, 0.001f, 0.003f, 1, 0);
    EXPECT_EQ(labelsOf(legend), (Labels{"1e-03", "3e-03"}));
    // No steps: the bands all the same, and the one label lo.
    legend.clear();
    legend.add(ColorMap::grayColorMap, 2.f, 4.f, 0, 1);
    EXPECT_EQ(legend.getNumberOfColors(), 61);
    EXPECT_EQ(labelsOf(legend), (Labels{"2.0"}));
}

TEST(Legend, SeparateColourRangeForTheBands)
{
    Legend legend;
    // Labels span 0..1 while the colours come from 0..2, so the bar ends mid-gray.
    legend.add(ColorMap::grayColorMap, 0.f, 1.f, 0.f, 2.f, 2, 1);
    EXPECT_EQ(legend.getNumberOfColors(), 7);
    EXPECT_EQ(labelsOf(legend), (Labels{"0.0", "0.5", "1.0"}));
    EXPECT_EQ(band(legend, 6), gray(1.f, 0.f, 2.f));
    EXPECT_EQ(band(legend, 3), gray(0.5f, 0.f, 2.f));

    // No zero rule, and a tighter threshold for the exponent form.
    legend.clear();
    legend.add(ColorMap::grayColorMap, -1.f, 1.f, -1.f, 1.f, 2, 2);
    EXPECT_EQ(labelsOf(legend), (Labels{"-1.00", "0.00", "1.00"}));
    legend.clear();
    legend.add(ColorMap::grayColorMap, 0.001f, 0.05f, 0.f, 1.f, 1, 3);
    EXPECT_EQ(labelsOf(legend), (Labels{"0.001", "0.050"}));
    legend.clear();
    legend.add(ColorMap::grayColorMap, 0.001f, 0.005f, 0.f, 1.f, 1, 3);
    EXPECT_EQ(labelsOf(legend), (Labels{"1.00e-03", "5.00e-03"}));
    // No steps: one band and one label at lo, not a division by zero.
    legend.clear();
    legend.add(ColorMap::grayColorMap, 1.f, 3.f, 0.f, 4.f, 0, 1);
    EXPECT_EQ(legend.getNumberOfColors(), 1);
    EXPECT_EQ(band(legend, 0), gray(1.f, 0.f, 4.f));
    EXPECT_EQ(labelsOf(legend), (Labels{"1.0"}));
}

TEST(Legend, ClearingAndCopying)
{
    Legend legend;
    legend.setTitle("pressure");
    legend.add(ColorMap::hotColorMap, 0, 4, 2);
    Legend copy(legend);
    Legend assigned;
    assigned.add("stale");
    assigned = legend;

    legend.clearData();
    EXPECT_EQ(legend.getNumberOfColors() + legend.getNumberOfLabels(), 0);
    EXPECT_STREQ(legend.getTitle(), "pressure");
    legend.add("other");
    legend.clear();
    EXPECT_EQ(legend.getNumberOfColors() + legend.getNumberOfLabels(), 0);
    EXPECT_EQ(legend.getTitle(), nullptr);

    for (const Legend *l : {&copy, &assigned}) {
        EXPECT_STREQ(l->getTitle(), "pressure");
        EXPECT_EQ(l->getNumberOfColors(), 3);
        EXPECT_EQ(labelsOf(*l), (Labels{"0", "2", "4"}));
    }
}

} // namespace

namespace {

// A category legend: one band a value present, coloured as its points are, labelled by name.
TEST(Legend, CategoriesHaveOneBandAndLabelEachInThePointsColours)
{
    Legend legend;
    const ColorMap::ColorFunction f = ColorMap::selectColorMap(0);
    legend.addCategories(f, 2, 9, {2, 6, 9}, "classification");
    ASSERT_EQ(legend.getNumberOfColors(), 3);
    ASSERT_EQ(legend.getNumberOfLabels(), 3);
    EXPECT_STREQ(legend.getLabel(1), "6 building");
    unsigned char rgb[3];
    f(rgb, 6, 2, 9);
    EXPECT_EQ(std::memcmp(legend.getColor(1), rgb, 3), 0);
    EXPECT_FALSE(legend.isSmooth());
}

} // namespace
