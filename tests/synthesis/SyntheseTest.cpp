// ctest-label: thread
#include "synthesis/Synthese.h"
#include "support/CapturedMessages.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

// A 3 x 3 neighbourhood, row above first; the estimator reads nothing else.
using Patch = std::array<float, 9>;

struct PatchCase {
    const char *what;
    Patch heights;
    bool ok;
    float gx, gy;
};

const PatchCase patchCases[] = {
    {"isolated pixel", {0, 0, 0, 0, 50, 0, 0, 0, 0}, false, 0, 0},
    {"a column alone gives no horizontal slope", {0, 40, 0, 0, 50, 0, 0, 60, 0}, false, 0, 0},
    // own row one-sided 30 (w1), row below central 20 (w2), row above one-sided 10 (w1);
    // own column central 10 (w2), right column central -5 (w2), left column has an empty centre
    {"central and one-sided differences mixed", {0, 20, 30, 0, 10, 40, 5, 30, 25}, true, 15, 1.25f},
    {"one-sided towards an empty right side", {0, 0, 0, 40, 10, 0, 0, 10, 0}, true, -30, 0},
    {"one-sided in the row below", {0, 0, 0, 0, 10, 22, 4, 12, 0}, true, 10, 2},
    {"a row whose centre lies on another surface", {0, 900, 910, 0, 300, 320, 0, 400, 430}, true, 25, -245},
    {"central difference truncated to 509", {0, 100, 0, 100, 100, 609.5f, 0, 100, 0}, true, 254.75f, 0},
    {"central difference of 510 is a jump", {0, 100, 0, 100, 100, 610, 0, 100, 0}, true, 0, 0},
    {"one-sided difference truncated to 254", {0, 100, 0, 0, 100, 354.9f, 0, 100, 0}, true, 254.9f, 0},
    {"one-sided difference of 255 is refused", {0, 100, 0, 0, 100, 355, 0, 100, 0}, false, 0, 0},
    // Across a jump only the flat side counts, never the jump.
    {"rising jump, pixel on the low side", {100, 110, 700, 100, 110, 700, 100, 110, 700}, true, 10, 0},
    {"rising jump, pixel on the high side", {100, 700, 710, 100, 700, 710, 100, 700, 710}, true, 10, 0},
    {"falling jump, pixel on the high side", {690, 700, 100, 690, 700, 100, 690, 700, 100}, true, 10, 0},
    // The side is chosen by signed comparison: below a falling jump the jump itself is picked
    // and refused, so the pixel has no horizontal slope.
    {"falling jump, pixel on the low side", {700, 110, 100, 700, 110, 100, 700, 110, 100}, false, 0, 0},
    {"empty pixel in the gap between two surfaces", {100, 0, 700, 100, 0, 700, 100, 0, 700}, false, 0, 0},
};

Patch transposed(const Patch &p)
{
    return {p[0], p[3], p[6], p[1], p[4], p[7], p[2], p[5], p[8]};
}

TEST(SyntheseDerivatives, NeighbourhoodRules)
{
    for (const PatchCase &c : patchCases) {
        SCOPED_TRACE(c.what);
        float n[3] = {-9, -9, -9};
        ASSERT_EQ(Synthese::DERIVEES_PARTIELLES_2(c.heights.data(), 3, 4, n), c.ok ? 1 : 0);

        // Vertical slopes follow the horizontal rules with above/below for left/right and
        // the right/left columns for the rows below/above.
        const Patch t = transposed(c.heights);
        float m[3];
        ASSERT_EQ(Synthese::DERIVEES_PARTIELLES_2(t.data(), 3, 4, m), c.ok ? 1 : 0) << "transposed";

        if (!c.ok) {
            EXPECT_EQ(n[0], -9.0f) << "a failed pixel leaves the normal alone";
            continue;
        }
        const float length = std::sqrt(c.gx * c.gx + c.gy * c.gy + 1);
        EXPECT_NEAR(n[0], c.gx / length, 1e-5f);
        EXPECT_NEAR(n[1], c.gy / length, 1e-5f);
        EXPECT_NEAR(n[2], 1 / length, 1e-5f);
        EXPECT_FLOAT_EQ(m[0], n[1]);
        EXPECT_FLOAT_EQ(m[1], n[0]);
    }
}

TEST(SyntheseDerivatives, RefusesPixelsWithoutAFullNeighbourhood)
{
    const std::vector<float> flat(5 * 4, 10.0f);
    float n[3];
    for (int index : {0, 2, 5, 4, 9, 10, 14}) // first row, first and last columns of a 5-wide image
        EXPECT_EQ(Synthese::DERIVEES_PARTIELLES_2(flat.data(), 5, index, n), 0) << index;
    EXPECT_EQ(Synthese::DERIVEES_PARTIELLES_2(flat.data(), 5, 6, n), 1);
    EXPECT_EQ(Synthese::DERIVEES_PARTIELLES_2(flat.data(), 2, 3, n), 0);
    EXPECT_EQ(Synthese::DERIVEES_PARTIELLES_2(nullptr, 5, 6, n), 0);
    EXPECT_EQ(Synthese::DERIVEES_PARTIELLES_2(flat.data(), 5, 6, nullptr), 0);
}

class SyntheseShading : public ::testing::Test {
protected:
    void SetUp() override { Synthese::init(10); }
    void TearDown() override { Synthese::init(10); }

    // The depth-buffer mode's call.
    static std::vector<unsigned char> shadeDefault(int w, int h, const std::vector<float> &heights)
    {
        return Synthese::computeImage(w, h, heights.data(), 0, 0, 1, 0.5f, 1, 0.5f);
    }
    static bool inside(int x, int y, int w, int h) { return x >= 3 && y >= 3 && x < w - 3 && y < h - 3; }
};

TEST_F(SyntheseShading, FlatSurfaceIsFullyLitInsideTheMargin)
{
    const int w = 13, h = 9; // not square, so swapped sizes show
    const std::vector<float> flat(w * h, 128.0f);
    testsupport::CapturedMessages captured;
    const std::vector<unsigned char> image = shadeDefault(w, h, flat);
    EXPECT_EQ(captured.take(), "");
    ASSERT_EQ(image.size(), flat.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            EXPECT_EQ(image[y * w + x], inside(x, y, w, h) ? 255 : 0) << x << "," << y;

    std::unique_ptr<unsigned char[]> raw(Synthese::compute(w, h, flat.data(), 0, 0, 1, 0.5f, 1, 0.5f));
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(std::vector<unsigned char>(raw.get(), raw.get() + w * h), image);
}

struct PlaneCase {
    float a, b; // h = 100 + a x + b y
    float lx, ly, lz;
    float ambient, diffuse, specular;
    int exponent;
};

// Ambient + diffuse (N.L) + specular r^n with r = 2 (N.L) Nz - Lz, the coefficients scaled to 255.
double planeShade(const PlaneCase &p)
{
    const double s = std::sqrt(double(p.a) * p.a + double(p.b) * p.b + 1);
    const double l = std::sqrt(double(p.lx) * p.lx + double(p.ly) * p.ly + double(p.lz) * p.lz);
    const double k = 255.0 / (double(p.ambient) + p.diffuse + p.specular);
    const double cosine = (p.a * p.lx + p.b * p.ly + p.lz) / (s * l);
    if (cosine <= 0)
        return k * p.ambient;
    const double r = 2 * cosine / s - p.lz / l;
    return k * (p.ambient + p.diffuse * cosine + (r > 0 ? p.specular * std::pow(r, p.exponent) : 0));
}

TEST_F(SyntheseShading, TiltedPlanesFollowTheLightingModel)
{
    const PlaneCase planes[] = {
        {0.8f, -0.3f, 0.3f, 0.6f, 1, 0.5f, 1, 0.5f, 10}, // light off both axes: catches swapped slopes
        {-0.4f, 0.25f, 0, 0, 1, 0.5f, 1, 0.5f, 10},
        {0.6f, 0.2f, 0.5f, 0.1f, 1, 0.5f, 1, 0.5f, 1}, // the table, not a fixed exponent, is used
        {1.5f, 0, 0, 0, 1, 0.5f, 1, 0.5f, 10},         // reflection away from the viewer
        {0.5f, 0.5f, 0, 0, 1, 0.2f, 0.8f, 0, 10},      // no specular term
        {2, 0, -1, 0, 0.2f, 0.5f, 1, 0.5f, 10},        // lit from behind: ambient alone
    };
    const int w = 16, h = 12;
    for (const PlaneCase &p : planes) {
        SCOPED_TRACE(testing::Message() << "plane " << p.a << "," << p.b << " exponent " << p.exponent);
        Synthese::init(p.exponent);
        std::vector<float> heights(w * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                heights[y * w + x] = 100 + p.a * x + p.b * y;
        const std::vector<unsigned char> image =
            Synthese::computeImage(w, h, heights.data(), p.lx, p.ly, p.lz, p.ambient, p.diffuse, p.specular);
        const double expected = planeShade(p);
        for (int y = 3; y < h - 3; ++y)
            for (int x = 3; x < w - 3; ++x)
                ASSERT_NEAR(image[y * w + x], expected, 1.0) << x << "," << y;
    }
}

TEST_F(SyntheseShading, EmptyPixelsInsideTheSurfaceAreShadedOutsideNot)
{
    const int w = 15, h = 15;
    auto shadeWithHoles = [&](std::initializer_list<std::pair<int, int>> holes) {
        std::vector<float> heights(w * h, 128.0f);
        for (auto [x, y] : holes)
            heights[y * w + x] = 0;
        return shadeDefault(w, h, heights)[7 * w + 7];
    };
    EXPECT_EQ(shadeWithHoles({{7, 7}}), 255);
    EXPECT_EQ(shadeWithHoles({{7, 7}, {6, 6}}), 255) << "edges all filled";
    EXPECT_EQ(shadeWithHoles({{7, 7}, {7, 8}}), 255) << "corners all filled";
    EXPECT_EQ(shadeWithHoles({{7, 7}, {7, 8}, {6, 6}}), 0) << "open on an edge and a corner";

    // A flat square on an empty background: lit up to its own border, nothing around it.
    std::vector<float> square(w * h, 0.0f);
    for (int y = 5; y <= 9; ++y)
        for (int x = 5; x <= 9; ++x)
            square[y * w + x] = 60;
    std::vector<unsigned char> image = shadeDefault(w, h, square);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            EXPECT_EQ(image[y * w + x], square[y * w + x] != 0 ? 255 : 0) << x << "," << y;

    std::vector<float> lone(w * h, 0.0f);
    lone[7 * w + 7] = 100;
    image = shadeDefault(w, h, lone);
    EXPECT_EQ(std::vector<unsigned char>(w * h, 0), image) << "an isolated pixel has no slope";
}

TEST_F(SyntheseShading, ImagesWithoutRoomInsideTheMarginStayEmpty)
{
    const std::pair<int, int> sizes[] = {{7, 7}, {6, 7}, {7, 6}, {6, 20}, {20, 6}, {1, 1}};
    for (auto [w, h] : sizes) {
        const std::vector<float> flat(w * h, 128.0f);
        const std::vector<unsigned char> image = shadeDefault(w, h, flat);
        ASSERT_EQ(image.size(), flat.size());
        int lit = 0;
        for (unsigned char v : image)
            lit += v != 0;
        EXPECT_EQ(lit, w >= 7 && h >= 7 ? 1 : 0) << w << "x" << h;
    }
}

TEST_F(SyntheseShading, DegenerateArgumentsGiveEmptyOrAmbientImages)
{
    const std::vector<float> flat(81, 128.0f);
    EXPECT_EQ(Synthese::compute(0, 9, flat.data(), 0, 0, 1, 0.5f, 1, 0.5f), nullptr);
    EXPECT_EQ(Synthese::compute(9, -1, flat.data(), 0, 0, 1, 0.5f, 1, 0.5f), nullptr);
    EXPECT_TRUE(Synthese::computeImage(-3, 9, flat.data(), 0, 0, 1, 0.5f, 1, 0.5f).empty());

    const std::vector<unsigned char> zero(81, 0);
    EXPECT_EQ(Synthese::computeImage(9, 9, nullptr, 0, 0, 1, 0.5f, 1, 0.5f), zero);
    EXPECT_EQ(Synthese::computeImage(9, 9, flat.data(), 0, 0, 1, 0, 0, 0), zero);
    EXPECT_EQ(Synthese::computeImage(9, 9, flat.data(), 0, 0, 1, 1, NAN, 0), zero);

    for (float l : {0.0f, NAN}) {
        const std::vector<unsigned char> image =
            Synthese::computeImage(9, 9, flat.data(), l, 0, l, 0.5f, 1, 0.5f);
        EXPECT_EQ(image[4 * 9 + 4], 63) << "no light direction leaves the ambient 255 * 0.5 / 2";
    }
}

TEST_F(SyntheseShading, InitRebuildsTheTable)
{
    Synthese::init(3);
    Synthese::init(3);
    EXPECT_EQ(Synthese::N_GAM, 3);
    EXPECT_FLOAT_EQ(Synthese::puissance[5000], static_cast<float>(std::pow(5000.0 / 9999.0, 3)));
    EXPECT_FLOAT_EQ(Synthese::puissance[9999], 1.0f);
    Synthese::init(0);
    EXPECT_EQ(Synthese::puissance[0], 0.0f) << "no highlight without a reflection, whatever the exponent";
    EXPECT_FLOAT_EQ(Synthese::puissance[1], 1.0f);
    EXPECT_FLOAT_EQ(Synthese::puissance[7000], 1.0f);
}

TEST(SyntheseDeathTest, ShadingBeforeInitUsesTheExponent10)
{
    // Run in a freshly started process, where nothing has built the table yet.
    const std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const std::vector<float> flat(81, 128.0f);
            const auto image = Synthese::computeImage(9, 9, flat.data(), 0, 0, 1, 0.5f, 1, 0.5f);
            std::exit(image[4 * 9 + 4] == 255 && Synthese::N_GAM == 10 ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
    GTEST_FLAG_SET(death_test_style, style);
}

} // namespace
