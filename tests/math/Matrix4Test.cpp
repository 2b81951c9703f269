#include "math/Matrix4.h"
#include "support/MathCompare.h"

#include <gtest/gtest.h>

using namespace testsupport;

TEST(Matrix4, OpenGLLayoutBlocksAndPrint)
{
    float elements[16];
    for (int k = 0; k < 16; k++)
        elements[k] = float(k);
    const Matrix4 m(elements);
    EXPECT_EQ(m(1, 0), 1);
    EXPECT_EQ(m.transpose()(1, 0), 4);
    EXPECT_EQ(printed([&](FILE *out) { m.print(out); }),
              "0.000000 4.000000 8.000000 12.000000\n1.000000 5.000000 9.000000 13.000000\n"
              "2.000000 6.000000 10.000000 14.000000\n3.000000 7.000000 11.000000 15.000000\n");
    const Matrix4 rt(m.getSubMatrix(), m.getSubVector());
    EXPECT_TRUE(near(rt * Point3(1, 1, 1), m * Point3(1, 1, 1), 0));
    EXPECT_EQ(static_cast<const float *>(rt)[3], 0) << "bottom row (0, 0, 0, 1)";
    EXPECT_TRUE(near(Matrix4::GLCS * Matrix4::GLCS, Matrix4::Identity, 0));
    EXPECT_TRUE(near(Matrix4::GLCS * Point3(1, 2, 3), Point3(1, -2, -3), 0));
}

TEST(Matrix4, ProductsComposeRightToLeftWithoutDivision)
{
    const Matrix4 turn(Point3(0, 0, 1), kPi / 2), shift(Matrix3::Identity, Point3(1, 0, 0));
    EXPECT_TRUE(near((turn * shift) * Point3(2, 3, 4), Point3(-3, 3, 4), 1e-5f))
        << "shifted first, then turned";
    Matrix4 c = turn;
    EXPECT_TRUE(near(c *= shift, turn * shift, 0));

    const Matrix4 projective = shift * 2.0f + 1.0f;
    const float in[3] = {4, 5, 6};
    float out[4];
    projective.product(out, in);
    EXPECT_FLOAT_EQ(out[0], 3 * 4 + 5 + 6 + 3);
    EXPECT_FLOAT_EQ(out[3], 4 + 5 + 6 + 3) << "the added 1 reaches the last row too";
    EXPECT_TRUE(near(projective * Point3(4, 5, 6), Point3(out[0], out[1], out[2]), 0)) << "no division by w";
}

TEST(Matrix4, AxisAngleRotation)
{
    EXPECT_TRUE(near(Matrix4(Point3(0, 0, 0), 1), Matrix4::Identity, 0));
    EXPECT_TRUE(near(Matrix4(Point3(0.0001f, 0, 0), 1), Matrix4::Identity, 0));
    EXPECT_TRUE(near(Matrix4(Point3(0.0002f, 0, 0), 1), Matrix4(Point3(1, 0, 0), 1), 1e-6f));
    RandomGeometry random(11);
    for (int n = 0; n < 100; n++) {
        const Point3 u = random.direction();
        const float angle = random.uniform(-3.1f, 3.1f);
        const Matrix4 r(u * random.uniform(0.01f, 10), angle);
        const Matrix3 block = r.getSubMatrix();
        EXPECT_TRUE(near(block * block.transpose(), Matrix3::Identity, 1e-5f)) << n;
        EXPECT_TRUE(near(r * u, u, 1e-5f)) << n;
        // A vector across the axis turns by `angle`, right-handed about u.
        const Point3 p = u.cross(random.direction()).normalized();
        EXPECT_NEAR(p * (r * p), std::cos(angle), 1e-5f) << n;
        EXPECT_NEAR(u * p.cross(r * p), std::sin(angle), 1e-5f) << n;
    }
}
