// A world moved by a similarity, seen from views moved by movePose, projects onto the same
// pixels as before; the views of a camera moved by moveViews keep their centres' images.
#include "camera/AlignedViews.h"

#include "camera/GLCamera.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

Similarity knownSimilarity()
{
    Similarity S;
    S.s = 3.7;
    const double n = std::sqrt(1.0 + 4.0 + 9.0);
    S.R = rotationAbout({1 / n, -2 / n, 3 / n}, 40 * 3.14159265358979323846 / 180);
    S.t = {12.5, -4.25, 7};
    return S;
}

Vec3d project(const Mat3d &R, const Vec3d &t, const Vec3d &X)
{
    const Vec3d RX = multiply(R, X);
    const Vec3d x = {RX[0] + t[0], RX[1] + t[1], RX[2] + t[2]};
    // Pixels of a 1000-pixel focal length about (500, 400).
    return {1000 * x[0] / x[2] + 500, 1000 * x[1] / x[2] + 400, 0};
}

TEST(AlignedViews, MovedViewsSeeTheMovedWorldOnTheSamePixels)
{
    const Similarity S = knownSimilarity();
    const Vec3d points[] = {{0, 0, 0}, {0.5, -0.3, 0.2}, {-1, 0.7, 0.4}, {0.9, 0.9, -0.8}};
    for (int view = 0; view < 6; ++view) {
        const Mat3d R0 = rotationAbout({0, 1, 0}, view * 1.1);
        const Vec3d t0 = {0.1 * view, -0.2, 6.0 + view};
        Mat3d R = R0;
        Vec3d t = t0;
        movePose(S, R, t);
        EXPECT_NEAR(determinant(R), 1, 1e-12);
        for (const Vec3d &X : points) {
            const Vec3d before = project(R0, t0, X), after = project(R, t, S.apply(X));
            EXPECT_NEAR(after[0], before[0], 1e-6) << "view " << view;
            EXPECT_NEAR(after[1], before[1], 1e-6) << "view " << view;
        }
    }
}

TEST(AlignedViews, PosesOfACameraFollowItsViewsWhenMoved)
{
    GLCamera camera; // 36 views about +y
    const CameraPoses before = posesOfViews(camera);
    ASSERT_EQ(before.views.size(), 36u);
    const Similarity S = knownSimilarity();
    moveViews(camera, S);
    const CameraPoses after = posesOfViews(camera);
    ASSERT_EQ(after.views.size(), 36u);
    for (size_t i = 0; i < 36; ++i) {
        const Vec3d expected = S.apply(before.views[i].centre);
        for (size_t k = 0; k < 3; ++k)
            EXPECT_NEAR(after.views[i].centre[k], expected[k], 1e-5 * S.s) << "view " << i;
        EXPECT_LT(rotationAngleBetween(after.views[i].R, multiply(before.views[i].R, transpose(S.R))), 1e-4);
        // The camera's centres are what getOrigin shows.
        const Point3 o = camera.getOrigin(static_cast<int>(i));
        EXPECT_NEAR(o.x, after.views[i].centre[0], 1e-4);
    }
}

} // namespace
