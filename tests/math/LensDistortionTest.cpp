#include "math/LensDistortion.h"

#include <gtest/gtest.h>

#include <cmath>

// Undistorting what a lens distorted gives the ideal point back across the image (normalised
// coordinates up to 0.8 from the axis, beyond the corners of a 90-degree photograph), for
// every model; the models do move the points there.
TEST(LensDistortion, UndistortInvertsDistortForEveryModel)
{
    struct Case {
        LensDistortion::Model model;
        double k[8];
    };
    const Case cases[] = {
        {LensDistortion::SIMPLE_RADIAL, {-0.12}},
        {LensDistortion::RADIAL, {-0.2, 0.05}},
        {LensDistortion::OPENCV, {-0.28, 0.09, 0.001, -0.0015}},
        {LensDistortion::FULL_OPENCV, {-0.2, 0.05, 0.001, 0.002, -0.01, 0.02, 0.01, 0.003}},
        {LensDistortion::OPENCV_FISHEYE, {0.05, -0.01, 0.004, -0.001}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(LensDistortion::name(c.model));
        const LensDistortion lens(c.model, c.k);
        EXPECT_FALSE(lens.isIdentity());
        double moved = 0;
        for (double x = -0.8; x <= 0.81; x += 0.2)
            for (double y = -0.6; y <= 0.61; y += 0.2) {
                double xd, yd, ux, uy;
                lens.distort(x, y, xd, yd);
                moved = std::fmax(moved, std::hypot(xd - x, yd - y));
                ASSERT_TRUE(lens.undistort(xd, yd, ux, uy)) << x << " " << y;
                EXPECT_NEAR(x, ux, 1e-9);
                EXPECT_NEAR(y, uy, 1e-9);
            }
        EXPECT_GT(moved, 0.005);
    }
    double x, y;
    EXPECT_TRUE(LensDistortion().undistort(0.3, 0.2, x, y));
    EXPECT_EQ(0.3, x);
}
