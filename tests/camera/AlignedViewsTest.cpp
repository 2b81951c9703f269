// Views moved by movePose see the world moved by the same similarity on the same pixels.
#include "camera/AlignedViews.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(AlignedViews, MovedViewsSeeTheMovedWorldOnTheSamePixels)
{
    Similarity S;
    S.s = 3.7;
    const double n = std::sqrt(14.0);
    S.R = rotationAbout({1 / n, -2 / n, 3 / n}, std::acos(-1.0) * 40 / 180);
    S.t = {12.5, -4.25, 7};
    const auto pixel = [](const Mat3d &R, const Vec3d &t, const Vec3d &X) {
        const Vec3d x = multiply(R, X);
        const double z = x[2] + t[2];
        return std::array<double, 2>{1000 * (x[0] + t[0]) / z + 500, 1000 * (x[1] + t[1]) / z + 400};
    };
    for (int view = 0; view < 6; ++view) {
        const Mat3d R0 = rotationAbout({0, 1, 0}, view * 1.1);
        const Vec3d t0 = {0.1 * view, -0.2, 6.0 + view};
        Mat3d R = R0;
        Vec3d t = t0;
        movePose(S, R, t);
        for (const Vec3d &X : {Vec3d{0, 0, 0}, Vec3d{0.5, -0.3, 0.2}, Vec3d{-1, 0.7, 0.4}, Vec3d{0.9, 0.9, -0.8}}) {
            const auto before = pixel(R0, t0, X), after = pixel(R, t, S.apply(X));
            EXPECT_NEAR(after[0], before[0], 1e-6) << "view " << view;
            EXPECT_NEAR(after[1], before[1], 1e-6) << "view " << view;
        }
    }
}
