#include "math/Matrix3.h"
#include "support/MathCompare.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// Turns about the coordinate axes, built independently of the Euler conversions.
Matrix3 about(int axis, float angle)
{
    Point3 u;
    u[axis] = 1;
    return Matrix4(u, angle).getSubMatrix();
}

const Matrix3 kSkew(Point3(2, -1, 0.5f), Point3(0.3f, 4, 1), Point3(-2, 0.7f, 3));

} // namespace

TEST(Matrix3, LayoutConstantsAndPrint)
{
    const Matrix3 m(Point3(1, 2, 3), Point3(4, 5, 6), Point3(7, 8, 9));
    EXPECT_EQ(static_cast<const float *>(m)[4 * 2 + 1], 8) << "element (1, 2)";
    EXPECT_EQ(printed([&](FILE *out) { m.print(out); }),
              "1.000000 4.000000 7.000000\n2.000000 5.000000 8.000000\n3.000000 6.000000 9.000000\n");
    EXPECT_TRUE(near(Matrix3::GLCS, Matrix3::diagonal(Point3(1, -1, -1)), 0));
    EXPECT_TRUE(near(Matrix3::GLCS * Matrix3::GLCS, Matrix3::Identity, 0));
    EXPECT_EQ(static_cast<const float *>(Matrix3::Zero)[15], 0);
    // Scalar operations stay inside the 3-by-3 block: the padding keeps the identity's.
    const Matrix3 scaled = (kSkew + 2.0f) * 3.0f;
    const float *padded = scaled;
    EXPECT_FLOAT_EQ(padded[4 * 2 + 1], (kSkew(1, 2) + 2) * 3);
    EXPECT_EQ(padded[3], 0);
    EXPECT_EQ(padded[15], 1);
}

TEST(Matrix3, ProductsAndProductMatrices)
{
    const Matrix3 a = about(0, 0.4f), b = about(2, 1.1f);
    const Point3 p(1, 2, 3), v(1, -2, 3), w(0.5f, 4, -1);
    EXPECT_TRUE(near((a * b) * p, a * (b * p), 1e-5f));
    EXPECT_FALSE(near(a * b, b * a, 1e-3f)) << "the check needs factors that do not commute";
    Matrix3 c = a;
    EXPECT_TRUE(near(c *= b, a * b, 0));
    EXPECT_TRUE(near(kSkew * Point2(3, -2), kSkew * Point3(3, -2, 1), 0));
    EXPECT_TRUE(near(Matrix3(v) * w, v.cross(w), 1e-6f));
    EXPECT_FLOAT_EQ((v ^ w)(0, 1), v.x * w.y) << "outer product, not cross product";
    EXPECT_TRUE(near((v ^ w) * p, v * (w * p), 1e-5f));
}

TEST(Matrix3, InverseAndSingularInverse)
{
    EXPECT_TRUE(near(kSkew * kSkew.inverse(), Matrix3::Identity, 1e-5f));
    const Matrix3 inv = Matrix3(Point3(0, 0, 0), Point3(1, 2, 3), Point3(4, 5, 7)).inverse();
    for (int k = 0; k < 9; k++)
        EXPECT_FALSE(std::isfinite(inv(k / 3, k % 3))) << k;
}

TEST(Matrix3, EulerAndPitchYawRoll)
{
    RandomGeometry random(7);
    for (int n = 0; n < 100; n++) {
        const Point3 e(random.uniform(-3, 3), random.uniform(-1.5f, 1.5f), random.uniform(-3, 3));
        const Matrix3 m = Matrix3::Euler2Matrix3(e);
        EXPECT_TRUE(near(m, about(2, e.z) * about(1, e.y) * about(0, e.x), 1e-5f));
        EXPECT_TRUE(near(m.Euler(), e, 2e-4f)) << n;
    }
    // At +-90 degrees the x and z turns share an axis: z folds into x.
    for (float beta : {kPi / 2, -kPi / 2}) {
        const Matrix3 m = Matrix3::Euler2Matrix3(Point3(0.5f, beta, 0.3f));
        EXPECT_TRUE(near(m.Euler(), Point3(beta > 0 ? 0.2f : 0.8f, beta, 0), 1e-3f));
        EXPECT_TRUE(near(Matrix3::Euler2Matrix3(m.Euler()), m, 1e-5f)) << beta;
    }
    EXPECT_TRUE(near(Matrix3::PYR2Matrix3(0, 0.6f, 0), about(1, -0.6f), 1e-6f)) << "yaw turns the other way";
    EXPECT_TRUE(near(Matrix3::PYR2Matrix3(0.3f, -1.2f, 2.5f),
                     about(0, 0.3f) * about(1, 1.2f) * about(2, 2.5f), 1e-6f));
}
