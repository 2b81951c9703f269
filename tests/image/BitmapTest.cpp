// The image in memory: construction, sampling, sharing and the in-place raster operations.
#include "image/Bitmap.h"

#include "support/ImageCompare.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

namespace
{

using Pixel = RGB<unsigned char>;

Bitmap imageOf(int w, int h, const std::vector<Pixel> &p)
{
    Bitmap b(w, h);
    std::copy(p.begin(), p.end(), b.pixels);
    return b;
}

std::vector<Pixel> pixelsOf(const Bitmap &b)
{
    return std::vector<Pixel>(b.pixels, b.pixels + b.width * b.height);
}

TEST(BitmapConstruction, OwnedWrappedAndGrey)
{
    Bitmap black(3, 2);
    EXPECT_TRUE(black.ownsPixels);
    EXPECT_EQ(pixelsOf(black), std::vector<Pixel>(6, Pixel(0, 0, 0)));

    std::vector<Pixel> buffer(4, Pixel(1, 2, 3));
    {
        Bitmap wrapped(2, 2, buffer.data());
        EXPECT_FALSE(wrapped.ownsPixels);
        wrapped.get(1, 1) = Pixel(9, 9, 9);
    }
    EXPECT_EQ(buffer[3], Pixel(9, 9, 9)) << "the wrapped buffer is the caller's and outlives the image";

    const unsigned char grey[] = {0, 100, 255};
    Bitmap g(3, 1, grey);
    EXPECT_EQ(pixelsOf(g), (std::vector<Pixel>{{0, 0, 0}, {100, 100, 100}, {255, 255, 255}}));

    Bitmap none(0, 5);
    EXPECT_FALSE(none.pixels);
    EXPECT_THROW(Bitmap(-1, 5), std::runtime_error);
    EXPECT_THROW(Bitmap(1 << 16, 1 << 16), std::runtime_error);
}

TEST(BitmapConstruction, MovesTakeThePixelsAlong)
{
    Bitmap a(2, 1);
    Pixel *p = a.pixels;
    Bitmap b(std::move(a));
    EXPECT_EQ(b.pixels, p);
    EXPECT_FALSE(a.pixels);
    Bitmap c(5, 5);
    c = std::move(b);
    EXPECT_EQ(c.pixels, p);
    EXPECT_EQ(c.width, 2);
}

TEST(BitmapSampling, NearestPixelRoundsAndIsBlackOutside)
{
    const Bitmap b = imageOf(2, 2, {{10, 0, 0}, {20, 0, 0}, {30, 0, 0}, {40, 0, 0}});
    EXPECT_EQ(b.getPixel(0.49f, 0).r, 10);
    EXPECT_EQ(b.getPixel(0.5f, 0).r, 20);
    EXPECT_EQ(b.getPixel(1.2f, 1.4f).r, 40);
    EXPECT_EQ(b.getPixel(-0.4f, 0).r, 10) << "the integer part of -0.4 + 0.5 is column 0";
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (auto xy :
         std::vector<std::pair<float, float>>{{1.5f, 0}, {0, 1.5f}, {-1.6f, 0}, {1e30f, 0}, {nan, 0}})
        EXPECT_EQ(b.getPixel(xy.first, xy.second), Pixel()) << xy.first << ", " << xy.second;
}

TEST(BitmapSampling, BilinearBetweenPixelCentres)
{
    const Bitmap b = imageOf(2, 2, {{100, 0, 200}, {200, 0, 0}, {50, 255, 200}, {0, 0, 0}});
    const RGB<float> centre = b.getColor(0.5f, 0.5f);
    EXPECT_FLOAT_EQ(centre.r, 100);
    EXPECT_FLOAT_EQ(centre.b, 200);
    EXPECT_FLOAT_EQ(b.getColor(1.0f, 0.5f).r, 150);
    // Each column is blended vertically and truncated before the horizontal blend.
    const RGB<float> middle = b.getColor(1.0f, 1.0f);
    EXPECT_FLOAT_EQ(middle.r, 0.5f * (75 + 100));
    EXPECT_FLOAT_EQ(middle.g, 0.5f * 127);
    // Over the outer half pixel the colour fades to the black outside, never wraps around.
    EXPECT_FLOAT_EQ(b.getColor(0.25f, 0.5f).r, 75);
    EXPECT_FLOAT_EQ(b.getColor(0.25f, 0.5f).b, 150);
    EXPECT_FLOAT_EQ(b.getColor(0.5f, 0.0f).b, 100);
    EXPECT_EQ(b.getColor(-5, 0.5f), RGB<float>());
    EXPECT_EQ(b.getColor(std::numeric_limits<float>::infinity(), 0.5f), RGB<float>());
}

TEST(BitmapSampling, CloneSharesPixelsWithoutOwningThem)
{
    Bitmap source(2, 2);
    std::unique_ptr<Bitmap> view = source.clone();
    EXPECT_FALSE(view->ownsPixels);
    view->get(1, 0) = Pixel(7, 8, 9);
    EXPECT_EQ(source.get(1, 0), Pixel(7, 8, 9));
    view.reset();
    EXPECT_EQ(source.get(1, 0), Pixel(7, 8, 9)) << "the source's pixels survive the clone";
}

TEST(BitmapMasks, ThresholdSliceInvert)
{
    const Pixel white(255, 255, 255), black(0, 0, 0);
    Bitmap t = imageOf(4, 1, {{127, 127, 127}, {128, 0, 0}, {0, 0, 200}, {0, 0, 0}});
    t.threshold(0.5f);
    EXPECT_EQ(pixelsOf(t), (std::vector<Pixel>{black, white, white, black}));
    Bitmap low = imageOf(2, 1, {{1, 0, 0}, {0, 0, 0}});
    low.threshold(-3);
    EXPECT_EQ(pixelsOf(low), (std::vector<Pixel>{white, black}));
    Bitmap high = imageOf(1, 1, {{255, 255, 255}});
    high.threshold(7);
    EXPECT_EQ(high.get(0, 0), black);

    Bitmap s = imageOf(5, 1, {{10, 0, 0}, {11, 0, 0}, {0, 0, 19}, {20, 20, 20}, {0, 15, 0}});
    s.slice(10, 20);
    EXPECT_EQ(pixelsOf(s), (std::vector<Pixel>{black, white, white, black, white}));

    Bitmap i = imageOf(2, 1, {{0, 100, 255}, {1, 2, 3}});
    i.invert();
    EXPECT_EQ(pixelsOf(i), (std::vector<Pixel>{{255, 155, 0}, {254, 253, 252}}));
}

// After n passes a pixel holds min over q within n 8-connected steps of (R(q) + steps).
TEST(BitmapMasks, GrowMatchesItsDistanceDefinition)
{
    std::mt19937 random(3);
    for (int trial = 0; trial < 12; ++trial) {
        const int w = 1 + trial % 7, h = 1 + (trial * 5) % 6, n = trial % 4;
        std::vector<Pixel> start;
        for (int k = 0; k < w * h; ++k)
            start.push_back(Pixel(random() % 4 == 0 ? 0 : 200 + random() % 56, random() % 256, 9));
        Bitmap b = imageOf(w, h, start);
        b.grow(n);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                int best = start[y * w + x].r;
                for (int qy = 0; qy < h; ++qy)
                    for (int qx = 0; qx < w; ++qx) {
                        const int steps = std::max(std::abs(qx - x), std::abs(qy - y));
                        if (steps <= n)
                            best = std::min(best, start[qy * w + qx].r + steps);
                    }
                const unsigned char v = n == 0 ? start[y * w + x].r : static_cast<unsigned char>(best);
                ASSERT_EQ(b.get(x, y).r, v) << w << "x" << h << " n=" << n << " at " << x << "," << y;
                if (n > 0) {
                    ASSERT_EQ(b.get(x, y), Pixel(v, v, v));
                }
            }
    }
}

TEST(BitmapMasks, GrowOfAWrappedBufferLeavesTheBufferAlone)
{
    std::vector<Pixel> buffer = {{0, 0, 0}, {50, 50, 50}, {50, 50, 50}};
    Bitmap b(3, 1, buffer.data());
    b.grow(1);
    EXPECT_TRUE(b.ownsPixels);
    EXPECT_NE(b.pixels, buffer.data());
    EXPECT_EQ(pixelsOf(b), (std::vector<Pixel>{{0, 0, 0}, {1, 1, 1}, {50, 50, 50}}));
    EXPECT_EQ(buffer[1].r, 50);
}

TEST(BitmapMirrors, FlipsOfOddAndEvenSizes)
{
    for (int w : {1, 2, 3})
        for (int h : {1, 2, 5}) {
            std::vector<Pixel> p;
            for (int k = 0; k < w * h; ++k)
                p.push_back(Pixel(k, k * 2, 255 - k));
            Bitmap x = imageOf(w, h, p), y = imageOf(w, h, p);
            x.flipX();
            y.flipY();
            for (int r = 0; r < h; ++r)
                for (int c = 0; c < w; ++c) {
                    ASSERT_EQ(x.get(c, r), p[r * w + w - 1 - c]);
                    ASSERT_EQ(y.get(c, r), p[(h - 1 - r) * w + c]);
                }
        }
}

TEST(BitmapPyramid, LevelsOfABlockMask)
{
    // A 4 x 4 mask over a 4 x 8 container: columns 2 and 3 set, the top-left block half set.
    Bitmap b(4, 8);
    for (int y = 0; y < 4; ++y)
        for (int x = 2; x < 4; ++x)
            b.get(x, y) = Pixel(0, 3, 0); // any non-zero channel counts
    b.get(0, 0) = Pixel(1, 1, 1);
    EXPECT_EQ(b.pyramid(2), 2);
    EXPECT_EQ(b.get(2, 0), Pixel(255, 255, 255)) << "the base becomes a white mask";
    const int starts[] = {0, 16, 20}, sizes[] = {4, 2, 1}, scales[] = {1, 2, 4};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(b.levelStart[i], starts[i]);
        EXPECT_EQ(b.levelWidth[i], sizes[i]);
        EXPECT_EQ(b.levelHeight[i], sizes[i]);
        EXPECT_EQ(b.levelScale[i], scales[i]);
    }
    // Level 1: top-left mixed, right column full, bottom-left empty.
    EXPECT_EQ(b.pixels[16].r, 128);
    EXPECT_EQ(b.pixels[17].r, 255);
    EXPECT_EQ(b.pixels[18].r, 0);
    EXPECT_EQ(b.pixels[19].r, 255);
    EXPECT_EQ(b.pixels[20].r, 128) << "a partly full child makes its parent partly full";
}

TEST(BitmapPyramid, OddLevelsAreClippedAndSmallContainersStop)
{
    // 3 x 3 full mask: level 1 is 2 x 2, whose right and bottom blocks hold fewer pixels.
    Bitmap b(3, 6);
    for (int k = 0; k < 9; ++k)
        b.pixels[k] = Pixel(255, 255, 255);
    b.pixels[17] = Pixel(0, 77, 0);
    // Levels 2 and up stay 1 x 1 (half of 1, rounded up) until the container is full.
    EXPECT_EQ(b.pyramid(11), 6);
    EXPECT_EQ(b.levelWidth[1], 2);
    EXPECT_EQ(b.levelStart[6], 17);
    for (int k = 9; k < 18; ++k)
        EXPECT_EQ(b.pixels[k].r, 255) << "a clipped full block stays full, pixel " << k;
    EXPECT_EQ(b.pixels[17].g, 77) << "levels write channel R only";

    // One pixel wide: the levels stay 1 x 1 and would overrun the container.
    Bitmap strip(1, 4);
    EXPECT_EQ(strip.pyramid(11), 2);
    EXPECT_EQ(strip.levelStart[2], 3);
    EXPECT_EQ(strip.levelWidth[3], 0);
}

TEST(BitmapMapping, MappedPixelsChangeInMemoryOnly)
{
    const std::string dir = testsupport::makeTempDir("BitmapMapping");
    const std::string path = dir + "/m.ppm";
    std::ofstream(path, std::ios::binary) << "P6\n# comment\n2 1\n255\n"
                                          << std::string("\x10\x20\x30\x40\x50\x60", 6);
    Bitmap b(path.c_str());
    ASSERT_TRUE(b.mapAddress);
    b.invert();
    EXPECT_EQ(b.get(0, 0), Pixel(0xef, 0xdf, 0xcf));
    b.grow(1);
    EXPECT_FALSE(b.mapAddress) << "grow moves the pixels out of the mapping";
    EXPECT_EQ(b.get(1, 0).r, 0xbf);
    Bitmap again(path.c_str());
    EXPECT_EQ(again.get(0, 0), Pixel(0x10, 0x20, 0x30)) << "the file never changes";
}

} // namespace
