// PSNR, SSIM and IoU against plain reference computations of their definitions, written here
// window by window without the separable filtering the program uses.
#include "image/ImageCompare.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

struct Images {
    int w, h;
    std::vector<unsigned char> a, b, mask;
};

Images makeImages(int w, int h, int noise, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> u(-noise, noise);
    Images im{w, h, {}, {}, {}};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            im.mask.push_back((x - w / 2) * (x - w / 2) + (y - h / 2) * (y - h / 2) < w * h / 5 ? 1 : 0);
            for (int c = 0; c < 3; ++c) {
                const int v = (x * 9 + y * 5 + c * 40) % 256;
                im.a.push_back(static_cast<unsigned char>(v));
                im.b.push_back(static_cast<unsigned char>(std::min(255, std::max(0, v + u(random)))));
            }
        }
    return im;
}

double referencePsnr(const Images &im, bool masked)
{
    double sum = 0, n = 0;
    for (int i = 0; i < im.w * im.h; ++i)
        if (!masked || im.mask[i])
            for (int c = 0; c < 3; ++c) {
                const double d = im.a[3 * i + c] - im.b[3 * i + c];
                sum += d * d;
                n += 1;
            }
    return 10 * std::log10(255.0 * 255 / (sum / n));
}

// On the luminance, or on one channel when `channel` is 0, 1 or 2.
double referenceSsim(const Images &im, const std::vector<unsigned char> &b, bool masked, int channel = -1)
{
    const auto Y = [&](const std::vector<unsigned char> &p, int x, int y) {
        const unsigned char *q = &p[3 * (y * im.w + x)];
        return channel >= 0 ? q[channel] : 0.299 * q[0] + 0.587 * q[1] + 0.114 * q[2];
    };
    double total = 0, count = 0;
    for (int cy = 5; cy + 5 < im.h; ++cy)
        for (int cx = 5; cx + 5 < im.w; ++cx) {
            if (masked && !im.mask[cy * im.w + cx])
                continue;
            double wsum = 0, mx = 0, my = 0;
            for (int dy = -5; dy <= 5; ++dy)
                for (int dx = -5; dx <= 5; ++dx) {
                    const double g = std::exp(-(dx * dx + dy * dy) / (2 * 1.5 * 1.5));
                    wsum += g;
                    mx += g * Y(im.a, cx + dx, cy + dy);
                    my += g * Y(b, cx + dx, cy + dy);
                }
            mx /= wsum;
            my /= wsum;
            double vx = 0, vy = 0, cov = 0;
            for (int dy = -5; dy <= 5; ++dy)
                for (int dx = -5; dx <= 5; ++dx) {
                    const double g = std::exp(-(dx * dx + dy * dy) / (2 * 1.5 * 1.5)) / wsum;
                    const double ex = Y(im.a, cx + dx, cy + dy) - mx, ey = Y(b, cx + dx, cy + dy) - my;
                    vx += g * ex * ex;
                    vy += g * ey * ey;
                    cov += g * ex * ey;
                }
            const double C1 = 2.55 * 2.55, C2 = 7.65 * 7.65;
            total += (2 * mx * my + C1) * (2 * cov + C2) / ((mx * mx + my * my + C1) * (vx + vy + C2));
            count += 1;
        }
    return total / count;
}

TEST(ImageCompare, PsnrAndSsimEqualTheirDefinitions)
{
    for (const Images &im : {makeImages(24, 20, 3, 1), makeImages(31, 17, 60, 2), makeImages(11, 11, 20, 3)}) {
        SCOPED_TRACE(testing::Message() << im.w << " x " << im.h);
        for (bool masked : {false, true}) {
            const unsigned char *mask = masked ? im.mask.data() : nullptr;
            EXPECT_NEAR(imagecompare::psnr(im.a.data(), im.b.data(), im.w, im.h, mask), referencePsnr(im, masked),
                        1e-6);
            EXPECT_NEAR(imagecompare::ssim(im.a.data(), im.b.data(), im.w, im.h, mask),
                        referenceSsim(im, im.b, masked), 1e-6);
            const double rgb = (referenceSsim(im, im.b, masked, 0) + referenceSsim(im, im.b, masked, 1) +
                                referenceSsim(im, im.b, masked, 2)) / 3;
            EXPECT_NEAR(imagecompare::ssimRgb(im.a.data(), im.b.data(), im.w, im.h, mask), rgb, 1e-6);
            // An image against itself.
            EXPECT_EQ(imagecompare::psnr(im.a.data(), im.a.data(), im.w, im.h, mask), INFINITY);
            EXPECT_EQ(imagecompare::ssim(im.a.data(), im.a.data(), im.w, im.h, mask), 1.0);
        }
    }
    // Nothing to measure: NaN, shown as "-".
    const Images small = makeImages(10, 30, 5, 4);
    EXPECT_TRUE(std::isnan(imagecompare::ssim(small.a.data(), small.b.data(), small.w, small.h)));
    const std::vector<unsigned char> empty(300, 0);
    EXPECT_TRUE(std::isnan(imagecompare::psnr(small.a.data(), small.b.data(), small.w, small.h, empty.data())));
    char text[32];
    EXPECT_STREQ(imagecompare::format(INFINITY, 2, text, sizeof text), "inf");
    EXPECT_STREQ(imagecompare::format(NAN, 2, text, sizeof text), "-");
    EXPECT_STREQ(imagecompare::format(31.4159, 2, text, sizeof text), "31.42");
}

TEST(ImageCompare, IntersectionOverUnion)
{
    const unsigned char a[] = {1, 1, 0, 0, 255, 0};
    const unsigned char b[] = {1, 0, 0, 1, 7, 0};
    EXPECT_DOUBLE_EQ(imagecompare::iou(a, b, 6), 2.0 / 4.0);
    EXPECT_DOUBLE_EQ(imagecompare::iou(a, a, 6), 1.0);
    const unsigned char none[] = {0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(std::isnan(imagecompare::iou(none, none, 6)));
    EXPECT_DOUBLE_EQ(imagecompare::iou(a, none, 6), 0.0);
}

} // namespace
