#include "math/Quaternion.h"
#include "support/MathCompare.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

Matrix3 axisAngle(const Point3 &axis, float angle)
{
    return Matrix4(axis, angle).getSubMatrix();
}

} // namespace

TEST(Quaternion, AxisAngleSphericalAndPrint)
{
    Quaternion q(Point3(0, 0, 2), kPi);
    EXPECT_TRUE(near(Matrix3(q), Matrix3::diagonal(Point3(-1, -1, 1)), 1e-6f));
    q[3] = 0.5f;
    EXPECT_EQ(printed([&](FILE *out) { q.print(out); }), "[0.000000 0.000000 1.000000 0.500000]\n");
    EXPECT_TRUE(near(Matrix3(Quaternion(Point3(0, 0, 0), 1)), Matrix3::Identity, 0)) << "a zero axis";
    EXPECT_TRUE(near(Quaternion(0, 0, 0, 1).spherical(), Point3(0, 0, 0), 0));
    EXPECT_EQ(Quaternion(0, 0, 1.0001f, 0).spherical().y, 0)
        << "not quite unit length: still an axis, no NaN";

    RandomGeometry random(3);
    for (int n = 0; n < 50; n++) {
        const Point3 axis = random.vector(5);
        const float angle = random.uniform(-2 * kPi, 2 * kPi);
        EXPECT_TRUE(near(Matrix3(Quaternion(axis, angle)), axisAngle(axis, angle), 1e-5f)) << n;

        const Point3 s(random.uniform(0.01f, kPi), random.uniform(0.01f, kPi - 0.01f),
                       random.uniform(-3.1f, 3.1f));
        const Point3 u(std::sin(s.y) * std::cos(s.z), std::sin(s.y) * std::sin(s.z), std::cos(s.y));
        EXPECT_TRUE(near(Matrix3(Quaternion(s)), axisAngle(u, s.x), 1e-5f)) << n;
        EXPECT_TRUE(near(Quaternion(s.x, s.y, s.z).spherical(), s, 5e-3f)) << n;
    }
}

TEST(Quaternion, FromTwoDirections)
{
    const Point3 a = Point3(1, 2, 2) / 3;
    EXPECT_TRUE(near(Matrix3(Quaternion(a, a)), Matrix3::Identity, 0));
    RandomGeometry random(9);
    for (int n = 0; n < 50; n++) {
        const Point3 from = random.direction(), to = random.direction();
        EXPECT_TRUE(near(Matrix3(Quaternion(from, to)) * from, to, 1e-5f)) << n;
        // Opposite directions have no cross product to turn about.
        EXPECT_TRUE(near(Matrix3(Quaternion(from, -from)) * from, -from, 1e-5f)) << n;
    }
}

TEST(Quaternion, FromMatrixOnEveryBranch)
{
    RandomGeometry random(13);
    for (int n = 0; n < 300; n++) {
        // Every third turn lies near a half turn, where the pivot formulas take over.
        const float angle = n % 3 ? random.uniform(-kPi, kPi) : kPi - random.uniform(0, 0.02f);
        const Point3 u = random.direction();
        const Quaternion q(axisAngle(u, angle));
        EXPECT_TRUE(near(Matrix3(q), axisAngle(u, angle), 1e-5f)) << n << " angle " << angle;
        if (std::cos(angle / 2) > 0.01f) {
            EXPECT_TRUE(near(Point3(q), u * std::sin(angle / 2), 1e-5f)) << "w > 0 while clearly non-zero";
        }
    }
    for (int axis = 0; axis < 3; axis++) {
        Point3 u;
        u[axis] = 1;
        EXPECT_NEAR(std::fabs(Quaternion(axisAngle(u, kPi))(axis)), 1, 1e-6f) << axis;
    }
}

// Quaternion is Quat read in another order; only its matrix conversion is its own, and it
// must keep giving the numbers it always gave where the two conversions part.
TEST(Quaternion, ViewOfQuatInItsOwnOrder)
{
    Quaternion q(1, 2, 3, 4);
    EXPECT_EQ(q.quat().w, 4);
    EXPECT_TRUE(near(Point3(q), Point3(1, 2, 3), 0));
    q[0] = 5;
    q[3] = 6;
    EXPECT_EQ(q.quat().x, 5);
    EXPECT_EQ(q(3), 6);
    const Quaternion back(Quat(4, 1, 2, 3));
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(back(i), Quaternion(1, 2, 3, 4)(i)) << i;
    EXPECT_EQ(Quaternion().quat().w, 1) << "the identity";

    RandomGeometry random(41);
    for (int n = 0; n < 20; n++) {
        const Quaternion a(random.direction(), random.uniform(-kPi, kPi));
        const Quaternion b(random.direction(), random.uniform(-kPi, kPi));
        EXPECT_TRUE(near(Matrix3(Quaternion(a.quat() * b.quat())), Matrix3(a) * Matrix3(b), 1e-5f)) << n;
        EXPECT_TRUE(near(Matrix3(a), a.quat().qtom(), 1e-6f)) << n;
    }

    // Where the two matrix conversions part: a tie between diagonal elements (Quaternion picks
    // the later axis, Quat the earlier), and a w of 0.001, which Quat turns positive and
    // Quaternion leaves (its bound is 1 + trace > 0.0001, w above 0.005).
    const float r = std::sqrt(0.5f), c = std::sqrt(1 - 1e-6f), c2 = std::sqrt(1 - 1e-4f);
    struct Case {
        const char *name;
        Matrix3 m;
        Quat quaternion; // what Quaternion(m) gives, scalar first
        Quat quat;       // what Quat(m) gives
    } cases[] = {
        {"half turn about (1, -1, 0): the x/y tie", Matrix3(Point3(0, -1, 0), Point3(-1, 0, 0), Point3(0, 0, -1)),
         Quat(0, -r, r, 0), Quat(0, r, -r, 0)},
        {"w -0.001: only Quat turns it", Quat(-0.001f, 0.8f * c, 0.6f * c, 0).qtom(),
         Quat(-0.001f, 0.8f * c, 0.6f * c, 0), Quat(0.001f, -0.8f * c, -0.6f * c, 0)},
        {"w -0.01: both turn it", Quat(-0.01f, 0.8f * c2, 0.6f * c2, 0).qtom(), Quat(0.01f, -0.8f * c2, -0.6f * c2, 0),
         Quat(0.01f, -0.8f * c2, -0.6f * c2, 0)},
    };
    for (const Case &t : cases) {
        const Quaternion fromMatrix(t.m);
        const Quat own(t.m);
        EXPECT_TRUE(nearElements(&fromMatrix.quat().w, &t.quaternion.w, 4, 1, 1e-4f)) << t.name;
        EXPECT_TRUE(nearElements(&own.w, &t.quat.w, 4, 1, 1e-4f)) << t.name;
    }
}
