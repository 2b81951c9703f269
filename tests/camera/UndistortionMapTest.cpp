#include "camera/UndistortionMap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

const double kLens[4] = {-0.3, 0.1, 0.002, -0.001};
const GLView::Intrinsics kIntrinsics{180, 184, 101, 74, 200, 150};

// Where the lens puts the pinhole pixel (u, v), straight from the model.
void throughLens(const LensDistortion &lens, const GLView::Intrinsics &k, double u, double v, double &x, double &y)
{
    double xd, yd;
    lens.distort((u - k.cx) / k.fx, (v - k.cy) / k.fy, xd, yd);
    x = k.fx * xd + k.cx;
    y = k.fy * yd + k.cy;
}

} // namespace

// The interpolated map follows the lens everywhere, corners included, and a spot of a real
// photograph lands on the pinhole pixel whose ray went through it; a photograph of twice the
// size is the same image.
TEST(UndistortionMap, SpotsOfTheLensLandOnTheirPinholePixels)
{
    const LensDistortion lens(LensDistortion::OPENCV, kLens);
    for (const int scale : {1, 2}) {
        SCOPED_TRACE(scale);
        const int w = 200 * scale, h = 150 * scale;
        const UndistortionMap map(lens, kIntrinsics, w, h);
        EXPECT_TRUE(map.serves(lens, kIntrinsics, w, h));
        EXPECT_FALSE(map.serves(LensDistortion(), kIntrinsics, w, h));
        double worst = 0, moved = 0;
        for (int row = 0; row < h; row += 7)
            for (int column = 0; column < w; column += 5) {
                double x, y;
                throughLens(lens, kIntrinsics, (column + 0.5) / scale, (row + 0.5) / scale, x, y);
                float mx, my;
                map.source(column, row, mx, my);
                worst = std::fmax(worst, std::hypot(mx - x * scale, my - y * scale));
                moved = std::fmax(moved, std::hypot(x * scale - column - 0.5, y * scale - row - 0.5));
            }
        EXPECT_LT(worst, 0.02 * scale);
        EXPECT_GT(moved, 10);

        // A bright 4 x 4 block of the real photograph near where the lens puts the pinhole
        // pixel (40.5, 20.5) of the 200 x 150 image shows on the pinhole pixel of its centre.
        double sx, sy;
        throughLens(lens, kIntrinsics, 40.5, 20.5, sx, sy);
        std::vector<unsigned char> photo(static_cast<size_t>(w) * h, 0);
        const int x0 = static_cast<int>(std::lround(sx * scale)) - 2, y0 = static_cast<int>(std::lround(sy * scale)) - 2;
        for (int r = y0; r < y0 + 4; ++r)
            for (int c = x0; c < x0 + 4; ++c)
                photo[static_cast<size_t>(r) * w + c] = 255;
        double ex, ey;
        lens.undistort(((x0 + 2.0) / scale - kIntrinsics.cx) / kIntrinsics.fx,
                       ((y0 + 2.0) / scale - kIntrinsics.cy) / kIntrinsics.fy, ex, ey);
        ex = (kIntrinsics.fx * ex + kIntrinsics.cx) * scale;
        ey = (kIntrinsics.fy * ey + kIntrinsics.cy) * scale;
        const std::vector<unsigned char> out = map.apply(photo.data(), 1);
        double sum = 0, cx = 0, cy = 0;
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) {
                const double v = out[static_cast<size_t>(r) * w + c];
                sum += v;
                cx += v * (c + 0.5);
                cy += v * (r + 0.5);
            }
        ASSERT_GT(sum, 0);
        EXPECT_NEAR(ex, cx / sum, 0.3);
        EXPECT_NEAR(ey, cy / sum, 0.3);
    }
}
